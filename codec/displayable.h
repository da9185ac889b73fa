// Characters the device cannot show: double-byte pairs that the system code page does not
// define become the geta mark (0x81 0xAC, U+3013) before received text is displayed.
#pragma once

#include <string>

namespace oxm {

// Replaces, in place, every pair whose lead the code page knows and whose character it does
// not define. The device's own pictograms (leads 0xF0, 0xF1, 0xF4..0xFC with a proper trail)
// are kept; leads 0xF2 and 0xF3 are always replaced. A lead followed by a zero byte or by the
// end of the text ends the scan. Under code page 65001 (UTF-8 inside) nothing is replaced here:
// each invalid sequence becomes U+FFFD when the text is converted to wide.
void replaceUndisplayable(std::string* text);

}  // namespace oxm
