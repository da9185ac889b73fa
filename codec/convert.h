// Wide text to the system code page, as the program and its plug-ins call it.
#pragma once

#include <string>

// Converts `wide` (up to its first zero character) to the system code page (CP932, or UTF-8 on a
// device set to 65001); characters without a form there become "?". Returns the byte count the conversion reported, the
// terminating zero included; an empty text returns 0 and leaves *out untouched, as does a null
// out.
int ConvertWtoS(const std::wstring& wide, std::string* out);
