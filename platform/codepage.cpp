#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/syserr.h"

namespace oxm {

namespace {

constexpr char32_t kNone = 0xFFFFFFFFu;  // no character for this byte or pair
constexpr char32_t kLead = 0xFFFFFFFEu;  // a lead byte: the character needs the next byte
constexpr uint16_t kNoCode = 0xFFFFu;    // no CP932 code for this character (0xFF is never a lead)
constexpr char32_t kCp932Invalid = 0x30FB;  // KATAKANA MIDDLE DOT, as the device decodes bad bytes
constexpr char32_t kUtf8Invalid = 0xFFFD;

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft) {
    return iconv(cd_, in, inLeft, out, outLeft);
  }
  void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  // Decodes `n` bytes that must make exactly one character.
  char32_t one(const unsigned char* bytes, size_t n) {
    char in[2];
    std::memcpy(in, bytes, n);
    unsigned char out[8];
    char* ip = in;
    char* op = reinterpret_cast<char*>(out);
    size_t il = n;
    size_t ol = sizeof out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd_, &ip, &il, &op, &ol);
    if (r == static_cast<size_t>(-1)) return errno == EINVAL && n == 1 ? kLead : kNone;
    if (il != 0 || op != reinterpret_cast<char*>(out) + 4) return kNone;
    return out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
  }

 private:
  iconv_t cd_;
};

// Rank of a code among the codes of one character; the lowest rank is the one the device's
// WideCharToMultiByte writes: JIS X 0208 first, then the NEC row 13 (0x87xx), then the IBM
// extensions (0xFA40-0xFC4B), last the NEC-selected IBM extensions (0xED40-0xEEFC).
int duplicateRank(uint16_t code) {
  unsigned lead = code >> 8;
  if (lead == 0x87) return 1;
  if (lead >= 0xFA && lead <= 0xFC) return 2;
  if (lead == 0xED || lead == 0xEE) return 3;
  return 0;
}

// Windows-31J as glibc knows it (which already maps 0xF040-0xF9FC to U+E000-U+E757), decoded
// byte by byte and pair by pair once, and the reverse map derived from it.
struct Cp932 {
  bool ok = false;
  std::vector<char32_t> decode;  // indexed by the single byte (< 0x100) or lead << 8 | trail
  std::vector<uint16_t> encode;  // indexed by a BMP code point

  Cp932() {
    Iconv cd("UTF-32LE", "CP932");
    if (!cd.ok()) return;
    decode.assign(0x10000, kNone);
    encode.assign(0x10000, kNoCode);
    for (unsigned b = 0; b < 0x100; ++b) {
      unsigned char byte = static_cast<unsigned char>(b);
      decode[b] = cd.one(&byte, 1);
      if (decode[b] < 0x10000 && encode[decode[b]] == kNoCode) encode[decode[b]] = b;
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (decode[lead] != kLead) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                 static_cast<unsigned char>(trail)};
        uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
        char32_t c = cd.one(pair, 2);
        decode[code] = c;
        if (c >= 0x10000) continue;
        uint16_t& have = encode[c];
        if (have == kNoCode || duplicateRank(code) < duplicateRank(have)) have = code;
      }
    }
    ok = true;
  }
};

const Cp932& cp932() {
  static const Cp932 tables;  // built on first use; thread-safe static initialisation
  return tables;
}

bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Collects output, or only counts it when there is no buffer (a size query).
template <typename T>
struct Out {
  T* dst;
  size_t cap;
  size_t n = 0;
  bool overflow = false;

  void put(T v) {
    if (dst) {
      if (n < cap)
        dst[n] = v;
      else
        overflow = true;
    }
    ++n;
  }
  // A run of ASCII bytes, each its own character.
  void putAscii(const unsigned char* s, size_t count) {
    if (dst) {
      const size_t room = n < cap ? std::min(count, cap - n) : 0;
      for (size_t k = 0; k < room; ++k) dst[n + k] = static_cast<T>(s[k]);
      if (room < count) overflow = true;
    }
    n += count;
  }
};

// Returns ERROR_SUCCESS or ERROR_NO_UNICODE_TRANSLATION (strict and an invalid sequence).
DWORD decodeCp932(const unsigned char* s, size_t len, bool strict, Out<wchar_t>& out) {
  const std::vector<char32_t>& table = cp932().decode;
  for (size_t i = 0; i < len;) {
    char32_t c = table[s[i]];
    size_t used = 1;
    if (c == kLead && i + 1 < len) {
      char32_t pair = table[s[i] << 8 | s[i + 1]];
      // An unmapped pair is one bad character; a lead before a non-trail byte is bad alone,
      // so the next byte (often CR or LF) is still read as itself.
      if (pair != kNone || isTrailByte(s[i + 1])) {
        c = pair;
        used = 2;
      }
    }
    if (c == kNone || c == kLead) {
      if (strict) return ERROR_NO_UNICODE_TRANSLATION;
      c = kCp932Invalid;
    }
    out.put(static_cast<wchar_t>(c));
    i += used;
  }
  return ERROR_SUCCESS;
}

// Unicode's "maximal subpart" rule: each maximal invalid prefix becomes one U+FFFD.
DWORD decodeUtf8(const unsigned char* s, size_t len, bool strict, Out<wchar_t>& out) {
  for (size_t i = 0; i < len;) {
    unsigned char b = s[i];
    if (b < 0x80) {
      size_t run = 1;
      while (i + run < len && s[i + run] < 0x80) ++run;
      out.putAscii(s + i, run);
      i += run;
      continue;
    }
    size_t need = 0;
    char32_t c = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;  // range of the second byte (no overlongs, no surrogates)
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    size_t k = 1;
    for (; k <= need && i + k < len; ++k) {
      unsigned char t = s[i + k];
      if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) break;
      c = c << 6 | (t & 0x3F);
    }
    if (need == 0 || k <= need) {
      if (strict) return ERROR_NO_UNICODE_TRANSLATION;
      c = kUtf8Invalid;
    }
    out.put(static_cast<wchar_t>(c));
    i += k;
  }
  return ERROR_SUCCESS;
}

struct Fallback {
  const char* bytes;  // the default character, NUL-terminated
  bool strict;
  bool used = false;

  DWORD apply(Out<char>& out) {
    if (strict) return ERROR_NO_UNICODE_TRANSLATION;
    for (const char* p = bytes; *p; ++p) out.put(*p);
    used = true;
    return ERROR_SUCCESS;
  }
};

DWORD encodeCp932(const wchar_t* s, size_t len, Fallback& fb, Out<char>& out) {
  const std::vector<uint16_t>& table = cp932().encode;
  for (size_t i = 0; i < len; ++i) {
    char32_t c = static_cast<char32_t>(s[i]);
    uint16_t code = c < 0x10000 ? table[c] : kNoCode;
    if (code == kNoCode) {
      if (DWORD e = fb.apply(out)) return e;
    } else if (code < 0x100) {
      out.put(static_cast<char>(code));
    } else {
      out.put(static_cast<char>(code >> 8));
      out.put(static_cast<char>(code & 0xFF));
    }
  }
  return ERROR_SUCCESS;
}

DWORD encodeUtf8(const wchar_t* s, size_t len, Fallback& fb, Out<char>& out) {
  for (size_t i = 0; i < len; ++i) {
    char32_t c = static_cast<char32_t>(s[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < len) {
      const char32_t low = static_cast<char32_t>(s[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out.put(static_cast<char>(c));
    } else if (c < 0x800) {
      out.put(static_cast<char>(0xC0 | c >> 6));
      out.put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      // A surrogate alone (wide text holds whole code points here) has no UTF-8 form.
      if (DWORD e = fb.apply(out)) return e;
    } else if (c < 0x10000) {
      out.put(static_cast<char>(0xE0 | c >> 12));
      out.put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.put(static_cast<char>(0xF0 | c >> 18));
      out.put(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.put(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return ERROR_SUCCESS;
}

bool isCp932(UINT codePage) { return codePage == CP_932; }

// The other code pages that received mail uses, decoded through iconv (to wide text only).
struct OtherCodePage {
  UINT number;
  const char* iconvName;
};
constexpr OtherCodePage kOtherCodePages[] = {
    {874, "CP874"},           {936, "GBK"},             {949, "CP949"},           {950, "BIG5"},
    {1250, "CP1250"},         {1251, "CP1251"},         {1252, "CP1252"},         {1253, "CP1253"},
    {1254, "CP1254"},         {1255, "CP1255"},         {1256, "CP1256"},         {1257, "CP1257"},
    {1258, "CP1258"},         {20866, "KOI8-R"},        {21866, "KOI8-U"},        {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},    {28593, "ISO-8859-3"},    {28594, "ISO-8859-4"},    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},    {28597, "ISO-8859-7"},    {28598, "ISO-8859-8"},    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},   {28605, "ISO-8859-15"},   {51949, "EUC-KR"},        {54936, "GB18030"},
};

const char* otherIconvName(UINT codePage) {
  for (const OtherCodePage& c : kOtherCodePages)
    if (c.number == codePage) return c.iconvName;
  return nullptr;
}

// The converter of one code page for this thread, opened at its first use and kept: opening
// one loads the host's conversion module, which costs more than most texts take to convert.
Iconv& otherConverter(UINT codePage, const char* from) {
  thread_local std::vector<std::pair<UINT, std::unique_ptr<Iconv>>> open;
  for (auto& [number, cd] : open)
    if (number == codePage) return *cd;
  open.emplace_back(codePage, std::make_unique<Iconv>("UTF-32LE", from));
  return *open.back().second;
}

// iconv from `from` to UTF-32: a byte sequence iconv refuses is one invalid character (the
// byte is skipped and U+FFFD written, or the call fails when strict); an incomplete one at the
// end likewise.
DWORD decodeOther(UINT codePage, const char* from, const unsigned char* s, size_t len, bool strict,
                  Out<wchar_t>& out) {
  Iconv& cd = otherConverter(codePage, from);
  if (!cd.ok()) return ERROR_INVALID_PARAMETER;
  cd.reset();
  char* ip = reinterpret_cast<char*>(const_cast<unsigned char*>(s));
  size_t il = len;
  unsigned char buf[4096];
  while (il > 0) {
    char* op = reinterpret_cast<char*>(buf);
    size_t ol = sizeof buf;
    const size_t r = cd.convert(&ip, &il, &op, &ol);
    for (unsigned char* p = buf; p + 4 <= reinterpret_cast<unsigned char*>(op); p += 4)
      out.put(static_cast<wchar_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<char32_t>(p[3]) << 24));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (strict) return ERROR_NO_UNICODE_TRANSLATION;
    out.put(static_cast<wchar_t>(kUtf8Invalid));
    ++ip;
    --il;
    cd.reset();
  }
  return ERROR_SUCCESS;
}

std::atomic<UINT> g_activeCodePage{0};  // 0: the setting is not read yet

UINT readActiveCodePage() {
  const DWORD savedError = GetLastError();
  UINT codePage = CP_932;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Nls\\CodePage", &key) == ERROR_SUCCESS) {
    std::wstring text;
    DWORD number = 0;
    if (RegQueryString(key, L"ACP", &text, 64) == ERROR_SUCCESS && text == L"65001") codePage = CP_UTF8;
    if (RegQueryDword(key, L"ACP", &number) == ERROR_SUCCESS && number == CP_UTF8) codePage = CP_UTF8;
    RegCloseKey(key);
  }
  SetLastError(savedError);
  return codePage;
}

UINT resolve(UINT codePage) { return codePage == CP_ACP ? GetACP() : codePage; }

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

template <typename T>
int finish(DWORD error, const Out<T>& out) {
  if (error != ERROR_SUCCESS) return fail(error);
  if (out.overflow) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (out.n > INT_MAX) return fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(out.n);
}

}  // namespace

UINT GetACP() {
  UINT codePage = g_activeCodePage.load();
  if (codePage == 0) {
    codePage = readActiveCodePage();
    g_activeCodePage.store(codePage);
  }
  return codePage;
}

void setActiveCodePage(std::optional<UINT> codePage) {
  UINT value = 0;  // read the setting again
  if (codePage) value = *codePage == CP_UTF8 ? UINT{CP_UTF8} : UINT{CP_932};
  g_activeCodePage.store(value);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, wchar_t* dst,
                        int dstLen) {
  codePage = resolve(codePage);
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst) ||
      (flags & ~MB_ERR_INVALID_CHARS) != 0)
    return fail(ERROR_INVALID_PARAMETER);
  const char* other = otherIconvName(codePage);
  if (!isCp932(codePage) && codePage != CP_UTF8 && !other) return fail(ERROR_INVALID_PARAMETER);
  if (isCp932(codePage) && !cp932().ok) return fail(ERROR_INVALID_PARAMETER);
  size_t len = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  const auto* bytes = reinterpret_cast<const unsigned char*>(src);
  bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  Out<wchar_t> out{dstLen > 0 ? dst : nullptr, static_cast<size_t>(dstLen)};
  DWORD e = isCp932(codePage)      ? decodeCp932(bytes, len, strict, out)
             : codePage == CP_UTF8 ? decodeUtf8(bytes, len, strict, out)
                                   : decodeOther(codePage, other, bytes, len, strict, out);
  return finish(e, out);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, BOOL* usedDefaultChar) {
  codePage = resolve(codePage);
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst) ||
      (flags & ~MB_ERR_INVALID_CHARS) != 0)
    return fail(ERROR_INVALID_PARAMETER);
  if (!isCp932(codePage) && codePage != CP_UTF8) return fail(ERROR_INVALID_PARAMETER);
  if (isCp932(codePage) && !cp932().ok) return fail(ERROR_INVALID_PARAMETER);
  if (defaultChar && std::strlen(defaultChar) > 4) return fail(ERROR_INVALID_PARAMETER);
  size_t len = srcLen == -1 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLen);
  Fallback fb{defaultChar ? defaultChar : "?", (flags & MB_ERR_INVALID_CHARS) != 0};
  Out<char> out{dstLen > 0 ? dst : nullptr, static_cast<size_t>(dstLen)};
  DWORD e = isCp932(codePage) ? encodeCp932(src, len, fb, out) : encodeUtf8(src, len, fb, out);
  if (usedDefaultChar) *usedDefaultChar = fb.used;
  return finish(e, out);
}

}  // namespace oxm
