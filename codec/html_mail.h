// HTML mail: the template file format headed "K-HTML-MAIL-TEMPLATE" (a MIME-like text with the
// HTML body in Shift_JIS and the files in Base64), and the HTML part of a feed message.
#pragma once

#include <string>

#include "codec/email.h"

namespace oxm {

inline constexpr char kTemplateMagic[] = "K-HTML-MAIL-TEMPLATE";
// The result of decodeHtmlTemplate for a text without the magic line.
inline constexpr unsigned kNotATemplate = 0xFFFFFFFFu;

// The HTML part of a template: Content-Type text/html in Shift_JIS, 8bit, the HTML body.
void makeHtmlTemplateBodyField(std::string* out, const Email& mail);
// The whole template text with CR LF line ends. File errors as encodeMimeFiles; a failed heap
// probe of the CR LF conversion empties *out. On success mail's related files are marked inline.
unsigned encodeHtmlTemplate(Email* mail, std::string* out);
// A template's LF text into the record (not cleared here): kNotATemplate when the text does
// not begin with the magic line, else the core decode's code.
unsigned decodeHtmlTemplate(Email* mail, const std::string& text);

// The HTML part of a feed message, appended to out: its related files under a related level of
// its own (no preamble), the HTML in the feed form. A file error is set as the last error and
// false returned, out untouched.
bool makeHtmlField(std::string& out, Email* mail);

}  // namespace oxm
