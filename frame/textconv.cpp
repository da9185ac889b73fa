#include "frame/textconv.h"

#include <new>

#include "frame/oxerror.h"
#include "platform/codepage.h"

namespace oxm {

// Both directions convert the string with its terminating NUL, as the device did, so that an
// empty string still converts (to one character, the NUL) and a size below 1 means failure.
unsigned wideToMulti(const std::wstring& in, std::string* out) {
  const int srcLen = static_cast<int>(in.size()) + 1;
  int need = WideCharToMultiByte(CP_ACP, 0, in.c_str(), srcLen, nullptr, 0, nullptr, nullptr);
  if (need < 1) return OXMDL_ERR_CONV_WTOM_SIZE;
  std::string buf;
  try {
    buf.resize(static_cast<size_t>(need));
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  int done = WideCharToMultiByte(CP_ACP, 0, in.c_str(), srcLen, buf.data(), need, nullptr, nullptr);
  if (done < 1) return OXMDL_ERR_CONV_WTOM;
  buf.resize(static_cast<size_t>(done - 1));
  *out = std::move(buf);
  return OXMDL_ERR_NONE;
}

unsigned multiToWide(const std::string& in, std::wstring* out) {
  const int srcLen = static_cast<int>(in.size()) + 1;
  int need = MultiByteToWideChar(CP_ACP, 0, in.c_str(), srcLen, nullptr, 0);
  if (need < 1) return OXMDL_ERR_CONV_MTOW_SIZE;
  std::wstring buf;
  try {
    buf.resize(static_cast<size_t>(need));
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  int done = MultiByteToWideChar(CP_ACP, 0, in.c_str(), srcLen, buf.data(), need);
  if (done < 1) return OXMDL_ERR_CONV_MTOW;
  buf.resize(static_cast<size_t>(done - 1));
  *out = std::move(buf);
  return OXMDL_ERR_NONE;
}

void appendUtf16le(std::string* out, std::u16string_view units) {
  out->reserve(out->size() + 2 * units.size());
  for (char16_t c : units) {
    *out += static_cast<char>(c & 0xFF);
    *out += static_cast<char>(c >> 8);
  }
}

std::u16string utf16leUnits(const char* bytes, size_t size) {
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return units;
}

std::u16string toUtf16(const std::wstring& in) {
  std::u16string out;
  out.reserve(in.size());
  for (wchar_t w : in) {
    char32_t c = static_cast<char32_t>(w);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::wstring fromUtf16(const std::u16string& in) {
  std::wstring out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    }
    out += static_cast<wchar_t>(c);
  }
  return out;
}

}  // namespace oxm
