#include "feeds/rssparser/src/mfd_rssdublincore.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

}  // namespace

int mfd_rssdublincore_create(mfd_rssdublincore** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rssdublincore);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rssdublincore_destroy(mfd_rssdublincore** object) {
  if (!object || !*object) return;
  mfd_str_clear_all((*object)->field, mfd_rssdublincore_field_count);
  mfd_free(*object);
  *object = nullptr;
}

MFD_FIELD_SETTERS(mfd_rssdublincore, mfd_rssdublincore_field_count, valuesOf)
MFD_DUBLINCORE_FIELDS(MFD_FIELD_DEFINE, mfd_rssdublincore)

}  // namespace oxm
