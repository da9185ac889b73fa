#include "accounts/utf16_bytes.h"

#include "frame/textconv.h"

namespace oxm {

std::string utf16Bytes(const std::wstring& text) {
  std::u16string units = toUtf16(text);
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t c : units) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::wstring textOfUtf16(const char* bytes, size_t size) {
  std::u16string units;
  units.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return fromUtf16(units);
}

size_t utf16Length(const std::wstring& text) {
  size_t n = 0;
  for (wchar_t c : text) n += static_cast<uint32_t>(c) >= 0x10000 && static_cast<uint32_t>(c) <= 0x10FFFF ? 2 : 1;
  return n;
}

}  // namespace oxm
