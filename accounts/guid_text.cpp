#include "accounts/guid_text.h"

#include <cwchar>

namespace oxm {

namespace {

int hexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// A hexadecimal number of 1 to maxDigits digits.
bool hexNumber(const std::wstring& text, size_t maxDigits, uint32_t* out) {
  if (text.empty() || text.size() > maxDigits) return false;
  uint32_t v = 0;
  for (wchar_t c : text) {
    int d = hexDigit(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

}  // namespace

std::wstring guidText(const GUID& guid) {
  wchar_t buf[64];
  std::swprintf(buf, 64, L"%x-%x-%x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return buf;
}

bool parseGuidText(const std::wstring& text, GUID* out) {
  size_t d1 = text.find(L'-');
  if (d1 == std::wstring::npos) return false;
  size_t d2 = text.find(L'-', d1 + 1);
  if (d2 == std::wstring::npos) return false;
  size_t d3 = text.find(L'-', d2 + 1);
  if (d3 == std::wstring::npos) return false;
  std::wstring rest = text.substr(d3 + 1);
  size_t dash = rest.find(L'-');
  if (dash == std::wstring::npos) return false;
  rest.erase(dash, 1);
  if (rest.size() != 16) return false;

  GUID g{};
  uint32_t data2 = 0, data3 = 0;
  if (!hexNumber(text.substr(0, d1), 8, &g.Data1) ||
      !hexNumber(text.substr(d1 + 1, d2 - d1 - 1), 4, &data2) ||
      !hexNumber(text.substr(d2 + 1, d3 - d2 - 1), 4, &data3)) {
    return false;
  }
  g.Data2 = static_cast<uint16_t>(data2);
  g.Data3 = static_cast<uint16_t>(data3);
  for (size_t i = 0; i < 8; ++i) {
    uint32_t byte = 0;
    if (!hexNumber(rest.substr(2 * i, 2), 2, &byte)) return false;
    g.Data4[i] = static_cast<uint8_t>(byte);
  }
  *out = g;
  return true;
}

}  // namespace oxm
