// The content of one enclosure: transfer decoding, and writing it to a file.
#pragma once

#include <string>

#include "codec/email.h"

namespace oxm {

// Where a feed item's pictures are written, and where the HTML made for a feed message points.
inline constexpr wchar_t kFeedPictureDir[] = L"Application Data/Rivulet/Tmp/";

// Transfer-decodes a part body in place by enc->transferEncoding (lower case):
// quoted-printable (one final LF dropped, LF to CR LF), base64, x-uuencode (no "begin " line:
// OXMDL_ERR_MIME_DECODE), 7bit (JIS or EUC-JP detected and converted to the system code page
// unless the part is HTML, then LF to CR LF; under 65001 a Shift_JIS text becomes UTF-8 too,
// valid UTF-8 stays); anything else LF to CR LF.
unsigned decodeEnclosure(std::string* data, Enclosure* enc);

// EmlCompose::GetEnclosure without the last-error variable. A feed item's message (the text
// begins with "X-Tmr-Rivulet", its value not "contents") goes to feedImageToFile.
unsigned getEnclosure(const std::string& raw, const Enclosure& enclosure);
// A feed item's picture into kFeedPictureDir + name: an existing file is
// replaced, the byte before the boundary is left out, and parts that are not quoted-printable,
// base64 or uuencoded only get their CR LF back.
unsigned feedImageToFile(const std::string& raw, const Enclosure& enclosure);

}  // namespace oxm
