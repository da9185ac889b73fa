// Wide strings of the document tree: owned, zero-terminated, allocated by the library's
// allocator. An empty string holds no block.
#pragma once

#include <cstddef>

namespace oxm {

struct mfd_str {
  wchar_t* text;
  size_t length;
};

// Copies `length` characters, replacing the earlier value (kept when memory runs out: 2).
int mfd_str_set(mfd_str* s, const wchar_t* text, size_t length);
// The same from UTF-8 (what the XML reader delivers); a damaged sequence becomes U+FFFD.
int mfd_str_set_utf8(mfd_str* s, const char* utf8, size_t size);
// 3 for a null out pointer, 5 when empty, else 0 with the tree's own text.
int mfd_str_get(const mfd_str* s, const wchar_t** value);
void mfd_str_clear(mfd_str* s);
// Characters of the UTF-8 text once decoded.
size_t mfd_utf8_length(const char* utf8, size_t size);

}  // namespace oxm

// The text fields of a tree object are one array indexed by constants named after the object
// and the field (mfd_rsschannel_title). Each object header lists its fields once, as
// X(object, field) entries, and these macros derive the constants and the accessors from it:
//   get(object, out value): 3 for a null object or out pointer, 5 when empty, else 0;
//   set(object, text): copies the text, replacing the earlier value (3 for null pointers,
//   2 out of memory, 4 when the field has an enumerated set and the text is outside it).
#define MFD_FIELD_ID(Type, name) Type##_##name,
#define MFD_FIELD_DECLARE(Type, name)                                    \
  int Type##_get_##name(const Type* object, const wchar_t** value);      \
  int Type##_set_##name(Type* object, const wchar_t* text);
// In the object's .cpp, beside its `int Type##_set_field(Type*, int, const wchar_t*, size_t)`.
#define MFD_FIELD_DEFINE(Type, name)                                              \
  int Type##_get_##name(const Type* object, const wchar_t** value) {             \
    return object ? mfd_str_get(&object->field[Type##_##name], value) : MFD_INVALID; \
  }                                                                               \
  int Type##_set_##name(Type* object, const wchar_t* text) {                     \
    return text ? Type##_set_field(object, Type##_##name, text, wcslen(text)) : MFD_INVALID; \
  }

namespace oxm {

// Whether the text is one of the names (a null-ended list of ASCII names).
bool mfd_str_is_one_of(const wchar_t* text, size_t length, const char* const* names);
// Sets a field from UTF-8 after checking it against `names` (null: any text): 4 outside them.
int mfd_str_set_utf8_checked(mfd_str* s, const char* utf8, size_t size, const char* const* names);
int mfd_str_set_checked(mfd_str* s, const wchar_t* text, size_t length, const char* const* names);
void mfd_str_clear_all(mfd_str* fields, size_t count);

}  // namespace oxm

// The two by-index setters of an object, from its field count and a function giving the
// enumerated values of a field (null for free text).
#define MFD_FIELD_SETTERS(Type, Count, values)                                        \
  int Type##_set_field(Type* object, int f, const wchar_t* text, size_t length) {    \
    if (!object || f < 0 || f >= (Count)) return MFD_INVALID;                        \
    return mfd_str_set_checked(&object->field[f], text, length, values(f));           \
  }                                                                                   \
  int Type##_set_field_utf8(Type* object, int f, const char* utf8, size_t size) {    \
    if (!object || f < 0 || f >= (Count)) return MFD_INVALID;                        \
    return mfd_str_set_utf8_checked(&object->field[f], utf8, size, values(f));        \
  }
#define MFD_FIELD_SETTERS_DECLARE(Type)                                               \
  int Type##_set_field(Type* object, int f, const wchar_t* text, size_t length);     \
  int Type##_set_field_utf8(Type* object, int f, const char* utf8, size_t size);
