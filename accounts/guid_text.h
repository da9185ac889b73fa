// The text form of a GUID in settings files: Data1 "-" Data2 "-" Data3 "-" the first two Data4
// bytes "-" the other six; Data1 to Data3 lower-case hexadecimal without leading zeros, Data4
// two lower-case digits per byte. {C1D06580-B364-45EC-8421-5ACF34129C58} is written
// "c1d06580-b364-45ec-8421-5acf34129c58", and Data1 = 0x0A reads "a".
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace oxm {

std::wstring guidText(const GUID& guid);

// Splits at the first three "-" into Data1, Data2 and Data3, removes the next "-" from the rest
// and reads the rest as sixteen hexadecimal digits, two per Data4 byte. Digits of either case
// are taken. False, with *out untouched, when a part is empty, holds a non-digit, is too long
// for its field (8, 4, 4 digits), or the rest is not one "-" and sixteen digits.
bool parseGuidText(const std::wstring& text, GUID* out);

}  // namespace oxm
