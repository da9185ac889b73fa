#include "feeds/rssparser/src/mfd_url.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"
#include "feeds/rssparser/src/mfd_vect.h"
#include "platform/debug.h"

namespace oxm {

namespace {

constexpr wchar_t kScheme[] = L"file:///";

int hexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

// The path of a "file:///" URL with its "%XX" escapes decoded (a run of escapes is UTF-8), or
// 3 when it is no valid path (2 out of memory).
int decodePath(const wchar_t* location, mfd_vect* utf8) {
  const size_t schemeLength = sizeof(kScheme) / sizeof(wchar_t) - 1;
  if (wcsncmp(location, kScheme, schemeLength) != 0) return MFD_INVALID;
  const wchar_t* p = location + schemeLength;
  if (!*p) return MFD_INVALID;
  for (; *p; ++p) {
    char bytes[4];
    size_t n = 0;
    char32_t c = static_cast<char32_t>(*p);
    if (c == U'%') {
      const int hi = hexValue(p[1]);
      const int lo = hi < 0 ? -1 : hexValue(p[2]);
      if (lo < 0 || (hi == 0 && lo == 0)) return MFD_INVALID;
      bytes[n++] = static_cast<char>(hi << 4 | lo);
      p += 2;
    } else if (c < 0x80) {
      bytes[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
      bytes[n++] = static_cast<char>(0xC0 | c >> 6);
      bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      bytes[n++] = static_cast<char>(0xE0 | c >> 12);
      bytes[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes[n++] = static_cast<char>(0xF0 | c >> 18);
      bytes[n++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (mfd_vect_append(utf8, bytes, n) != MFD_OK) return MFD_NO_MEMORY;
  }
  return MFD_OK;
}

}  // namespace

int mfd_url_create(mfd_url** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_url);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

int mfd_url_set(mfd_url* url, const wchar_t* location) {
  if (!url) return MFD_INVALID;
  mfd_str_clear(&url->location);
  mfd_str_clear(&url->path);
  if (!location) return MFD_INVALID;
  mfd_vect utf8{};
  int rc = decodePath(location, &utf8);
  if (rc == MFD_OK) rc = mfd_str_set_utf8(&url->path, utf8.data, utf8.size);
  mfd_vect_free(&utf8);
  if (rc == MFD_OK) rc = mfd_str_set(&url->location, location, wcslen(location));
  if (rc != MFD_OK) {
    if (rc == MFD_INVALID) NKDbgPrintfW(L"mfd_url_set: invalid url path\r\n");
    mfd_str_clear(&url->location);
    mfd_str_clear(&url->path);
  }
  return rc;
}

int mfd_url_get_location(const mfd_url* url, const wchar_t** location) {
  return url ? mfd_str_get(&url->location, location) : MFD_INVALID;
}

int mfd_url_get_path(const mfd_url* url, const wchar_t** path) {
  return url ? mfd_str_get(&url->path, path) : MFD_INVALID;
}

int mfd_url_destroy(mfd_url** url) {
  if (!url || !*url) return MFD_INVALID;
  mfd_str_clear(&(*url)->location);
  mfd_str_clear(&(*url)->path);
  mfd_free(*url);
  *url = nullptr;
  return MFD_OK;
}

}  // namespace oxm
