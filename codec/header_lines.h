// Header lines of LF text: logical lines with their folds, unfolding, and RFC 2047 encoded
// words.
#pragma once

#include <string>
#include <string_view>

namespace oxm {

// Reads the logical line at *pos: up to the next LF that is not followed by a blank or a tab,
// trimmed of blanks and tabs, inner folds kept. Returns false at the end of the header (the
// end of the text or an empty line; *pos then moves past that LF).
bool readHeaderLine(std::string_view text, size_t* pos, std::string_view* line);

enum class Unfold {
  Join,    // LF + blank/tab becomes one blank
  Remove,  // LF + blank/tab is deleted
};
std::string unfold(std::string_view value, Unfold mode);

// Decodes the encoded words of one unfolded header value to Shift_JIS. The bytes of adjacent
// words of one charset and encoding are joined and converted as one run, so a character split
// across words comes out whole. With the blank rule, a blank follows every piece of plain text between words. A
// value without encoded words is converted from JIS or EUC-JP when it is detected as such.
std::string decodeEncodedWords(std::string_view value, bool blankRule);

// The value of a header line after `prefixLength` characters, trimmed.
std::string_view headerValue(std::string_view line, size_t prefixLength);

}  // namespace oxm
