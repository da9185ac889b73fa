#include "feeds/rssparser/src/mfd_str.h"

#include <cstring>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

// Decodes one UTF-8 sequence at in[*i] and moves past it. A sequence that is cut, overlong,
// a surrogate or above U+10FFFF is one U+FFFD for its first byte.
wchar_t nextChar(const unsigned char* in, size_t size, size_t* i) {
  const unsigned char c = in[*i];
  if (c < 0x80) {
    ++*i;
    return c;
  }
  const int extra = c >= 0xF8 ? -1 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
  if (extra < 0 || *i + extra >= size) {
    ++*i;
    return 0xFFFD;
  }
  char32_t v = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const unsigned char t = in[*i + k];
    if ((t & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    v = v << 6 | (t & 0x3F);
  }
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (v < kMin[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
    ++*i;
    return 0xFFFD;
  }
  *i += extra + 1;
  return static_cast<wchar_t>(v);
}

}  // namespace

int mfd_str_set(mfd_str* s, const wchar_t* text, size_t length) {
  if (!s || (!text && length)) return MFD_INVALID;
  wchar_t* copy = nullptr;
  if (length) {
    if (length > (SIZE_MAX / sizeof(wchar_t)) - 1) return MFD_NO_MEMORY;
    copy = static_cast<wchar_t*>(MFD_ALLOC((length + 1) * sizeof(wchar_t)));
    if (!copy) return MFD_NO_MEMORY;
    std::memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = 0;
  }
  mfd_free(s->text);
  s->text = copy;
  s->length = length;
  return MFD_OK;
}

size_t mfd_utf8_length(const char* utf8, size_t size) {
  const auto* in = reinterpret_cast<const unsigned char*>(utf8);
  size_t n = 0;
  for (size_t i = 0; i < size; ++n) nextChar(in, size, &i);
  return n;
}

int mfd_str_set_utf8(mfd_str* s, const char* utf8, size_t size) {
  if (!s || (!utf8 && size)) return MFD_INVALID;
  const auto* in = reinterpret_cast<const unsigned char*>(utf8);
  // ASCII text (most of a feed) decodes one byte to one character.
  size_t ascii = 0;
  while (ascii < size && in[ascii] < 0x80) ++ascii;
  const size_t length = ascii == size ? size : mfd_utf8_length(utf8, size);
  wchar_t* copy = nullptr;
  if (length) {
    if (length > (SIZE_MAX / sizeof(wchar_t)) - 1) return MFD_NO_MEMORY;
    copy = static_cast<wchar_t*>(MFD_ALLOC((length + 1) * sizeof(wchar_t)));
    if (!copy) return MFD_NO_MEMORY;
    size_t i = 0;
    size_t n = 0;
    for (; i < ascii; ++i) copy[n++] = in[i];
    while (i < size) copy[n++] = nextChar(in, size, &i);
    copy[n] = 0;
  }
  mfd_free(s->text);
  s->text = copy;
  s->length = length;
  return MFD_OK;
}

int mfd_str_get(const mfd_str* s, const wchar_t** value) {
  if (!s || !value) return MFD_INVALID;
  if (!s->length) return MFD_ABSENT;
  *value = s->text;
  return MFD_OK;
}

void mfd_str_clear(mfd_str* s) {
  if (!s) return;
  mfd_free(s->text);
  s->text = nullptr;
  s->length = 0;
}

}  // namespace oxm

namespace oxm {

bool mfd_str_is_one_of(const wchar_t* text, size_t length, const char* const* names) {
  for (; *names; ++names) {
    const char* n = *names;
    size_t i = 0;
    while (i < length && n[i] && static_cast<wchar_t>(static_cast<unsigned char>(n[i])) == text[i]) ++i;
    if (i == length && !n[i]) return true;
  }
  return false;
}

int mfd_str_set_checked(mfd_str* s, const wchar_t* text, size_t length, const char* const* names) {
  if (!s || (!text && length)) return MFD_INVALID;
  if (names && !mfd_str_is_one_of(text, length, names)) return MFD_BAD_VALUE;
  return mfd_str_set(s, text, length);
}

int mfd_str_set_utf8_checked(mfd_str* s, const char* utf8, size_t size, const char* const* names) {
  if (!names) return mfd_str_set_utf8(s, utf8, size);
  mfd_str decoded{};
  if (const int rc = mfd_str_set_utf8(&decoded, utf8, size); rc != MFD_OK) return rc;
  if (!mfd_str_is_one_of(decoded.text, decoded.length, names)) {
    mfd_str_clear(&decoded);
    return MFD_BAD_VALUE;
  }
  mfd_str_clear(s);
  *s = decoded;
  return MFD_OK;
}

void mfd_str_clear_all(mfd_str* fields, size_t count) {
  for (size_t i = 0; i < count; ++i) mfd_str_clear(&fields[i]);
}

}  // namespace oxm
