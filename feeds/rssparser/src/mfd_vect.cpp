#include "feeds/rssparser/src/mfd_vect.h"

#include <cstring>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

int mfd_vect_reserve(mfd_vect* v, size_t size) {
  if (v->capacity - v->size >= size) return MFD_OK;
  if (size > SIZE_MAX / 2 - v->size) return MFD_NO_MEMORY;
  size_t capacity = v->capacity ? v->capacity : 256;
  while (capacity - v->size < size) capacity *= 2;
  char* grown = static_cast<char*>(MFD_REALLOC(v->data, capacity));
  if (!grown) return MFD_NO_MEMORY;
  v->data = grown;
  v->capacity = capacity;
  return MFD_OK;
}

int mfd_vect_append(mfd_vect* v, const void* bytes, size_t size) {
  if (const int rc = mfd_vect_reserve(v, size); rc != MFD_OK) return rc;
  if (size) std::memcpy(v->data + v->size, bytes, size);
  v->size += size;
  return MFD_OK;
}

void mfd_vect_truncate(mfd_vect* v, size_t size) {
  if (size < v->size) v->size = size;
}

void mfd_vect_free(mfd_vect* v) {
  mfd_free(v->data);
  *v = mfd_vect{};
}

}  // namespace oxm
