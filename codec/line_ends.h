// Line-end conversions: the codec works on LF text inside and writes CR LF outside. Each runs a
// heap probe for its result first and returns OXMDL_ERR_MEM_SHORTAGE, text untouched, when it
// fails.
#pragma once

#include <string>
#include <string_view>

namespace oxm {

// CR LF becomes LF; a lone CR stays.
unsigned replace0D0Ato0A(std::string* text);
// The same from `in` into *out, in one pass (no copy of the text first).
unsigned replace0D0Ato0A(std::string_view in, std::string* out);
// An LF not preceded by CR becomes CR LF.
unsigned replace0Ato0D0A(std::wstring* text);
unsigned replace0Ato0D0A_S(std::string* text);

}  // namespace oxm
