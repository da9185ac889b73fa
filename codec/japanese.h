// The Japanese encodings of received and sent mail: detection of an undeclared encoding, and
// the byte-level conversions between Shift_JIS (the system code page) and ISO-2022-JP (JIS)
// and EUC-JP. None of them fails: bytes they do not understand are copied.
#pragma once

#include <string>

namespace oxm {

enum class JapaneseEncoding { Ascii = 1, Jis = 2, ShiftJis = 3, EucJp = 4 };

// Guesses the encoding of bytes that declare none. The HTML variant does not count the carrier
// pictograms as evidence of Shift_JIS.
JapaneseEncoding detectEncoding(const std::string& text, bool htmlVariant = false);

// In place; the text never grows.
void jisToSjis(std::string* text);
void eucToSjis(std::string* text);

std::string sjisToEuc(const std::string& text);
// Starts and ends in ASCII; half-width katakana are sent as their full-width forms, carrier
// pictograms as their raw bytes outside the JIS mode.
std::string sjisToIso2022jp(const std::string& text);

}  // namespace oxm
