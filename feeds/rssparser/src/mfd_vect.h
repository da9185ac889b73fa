// A growable array of bytes owned through the library's allocator: the text being collected
// and the stack of open elements of a parse.
#pragma once

#include <cstddef>

namespace oxm {

struct mfd_vect {
  char* data;
  size_t size;
  size_t capacity;
};

// 2 when memory runs out (the vector is left as it was).
int mfd_vect_append(mfd_vect* v, const void* bytes, size_t size);
// Room for `size` more bytes at the end without moving; 2 when memory runs out.
int mfd_vect_reserve(mfd_vect* v, size_t size);
void mfd_vect_truncate(mfd_vect* v, size_t size);
void mfd_vect_free(mfd_vect* v);

// Typed views for a vector used as a stack of T.
template <typename T>
size_t mfd_vect_count(const mfd_vect* v) {
  return v->size / sizeof(T);
}
template <typename T>
T* mfd_vect_at(const mfd_vect* v, size_t i) {
  return reinterpret_cast<T*>(v->data) + i;
}

}  // namespace oxm
