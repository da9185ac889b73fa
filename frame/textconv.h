// Text conversions of the frame: wide text to the system code page (the device setting: CP932 or
// UTF-8, platform GetACP) and back, and the
// UTF-16 form that wide text takes wherever it becomes bytes in a file.
#pragma once

#include <string>
#include <string_view>

namespace oxm {

// Return OXMDL_ERR_NONE, OXMDL_ERR_CONV_WTOM_SIZE / OXMDL_ERR_CONV_WTOM (wide to multibyte),
// OXMDL_ERR_CONV_MTOW_SIZE / OXMDL_ERR_CONV_MTOW (multibyte to wide) or
// OXMDL_ERR_STG_NOT_ENOUGH_MEMORY; *out is untouched on failure. Characters without a form in
// the code page become "?" (under UTF-8 only a lone surrogate); invalid bytes become U+30FB
// (CP932) or U+FFFD (UTF-8), one per bad character.
unsigned wideToMulti(const std::wstring& in, std::string* out);
unsigned multiToWide(const std::string& in, std::wstring* out);

// UTF-16 code units as the little-endian bytes files hold, appended to *out; and back from
// bytes (a trailing odd byte is not a unit and is left out).
void appendUtf16le(std::string* out, std::u16string_view units);
std::u16string utf16leUnits(const char* bytes, size_t size);

// UTF-16 with surrogate pairs above U+FFFF; a lone surrogate passes through unchanged.
std::u16string toUtf16(const std::wstring& in);
std::wstring fromUtf16(const std::u16string& in);

}  // namespace oxm
