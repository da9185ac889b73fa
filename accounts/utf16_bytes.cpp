#include "accounts/utf16_bytes.h"

#include "frame/textconv.h"

namespace oxm {

std::string utf16Bytes(const std::wstring& text) {
  std::string out;
  appendUtf16le(&out, toUtf16(text));
  return out;
}

std::wstring textOfUtf16(const char* bytes, size_t size) {
  return fromUtf16(utf16leUnits(bytes, size));
}

size_t utf16Length(const std::wstring& text) {
  size_t n = 0;
  for (wchar_t c : text) n += static_cast<uint32_t>(c) >= 0x10000 && static_cast<uint32_t>(c) <= 0x10FFFF ? 2 : 1;
  return n;
}

}  // namespace oxm
