// Transfer encodings and decodings of message parts and encoded words.
#pragma once

#include <string>
#include <string_view>

namespace oxm {

// Characters outside A-Z a-z 0-9 + / are skipped ("=" and line ends included); a final group of
// two or three characters gives one or two bytes, a single leftover character nothing.
std::string base64Decode(std::string_view in);
// "=XX" with a non-zero hexadecimal value becomes that byte; "=" with two other characters (or
// "=00") drops the "=" and keeps the two; "=" before LF, LF CR or CR LF is a soft line break.
std::string qpDecode(std::string_view in);
// The Q form of encoded words (RFC 2047 section 4.2): "=XX" is a byte, "_" a blank.
std::string qDecode(std::string_view in);
// "%XX" with two hexadecimal digits becomes that byte; everything else is copied.
std::string replacePercent(std::string_view in);
// Decodes the data after the first "begin " line up to the end line or the first damaged line.
// False when there is no "begin ".
bool uuDecode(std::string_view in, std::string* out);

// Base64 (RFC 2045 section 6.8) with "=" padding; with lineLength > 0 an LF follows every
// lineLength output characters, none after a last line that is not full.
void base64Encode(std::string_view in, std::string* out, size_t lineLength = 76);
// Quoted-printable of LF text: bytes below 0x20 other than tab, "=", bytes of 0x7F and above,
// and a "." that starts a line are written "=XX" (upper-case hexadecimal); an "=" LF soft break
// keeps every line within 72 columns before it; an LF of the input ends a line as it is.
void qpEncode(std::string_view in, std::string* out);

}  // namespace oxm
