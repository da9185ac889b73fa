// Wide text as the bytes of the files that hold it: UTF-16 little-endian, no byte-order mark.
#pragma once

#include <cstddef>
#include <string>

namespace oxm {

std::string utf16Bytes(const std::wstring& text);
// The text of `size` bytes; an odd last byte is not a character and is left out.
std::wstring textOfUtf16(const char* bytes, size_t size);
// Characters (UTF-16 units) that `text` takes in such a file.
size_t utf16Length(const std::wstring& text);

}  // namespace oxm
