// UTF-8 for host names (paths, environment): the host side of the platform layer speaks UTF-8.
#pragma once

#include <string>

namespace oxm {

// Code points that cannot be encoded (surrogates, above U+10FFFF) become U+FFFD.
std::string toUtf8(const std::wstring& wide);
// Malformed sequences become U+FFFD, one per bad byte.
std::wstring fromUtf8(const std::string& bytes);

}  // namespace oxm
