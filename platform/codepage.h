// Code pages with MultiByteToWideChar / WideCharToMultiByte semantics. The system code page
// (CP_ACP) is Windows-31J (CP932) whatever the host locale; 0xF040-0xF9FC map to
// U+E000-U+E757 as on the device. CP_UTF8 is UTF-8. wchar_t holds one code point (32 bits),
// so a character above U+FFFF counts as one wide character here.
//
// Lengths are in characters/bytes; a source length of -1 means NUL-terminated, and the NUL is
// then converted and counted. A destination size of 0 asks for the size needed. Failure
// returns 0 with ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER or, with
// MB_ERR_INVALID_CHARS, ERROR_NO_UNICODE_TRANSLATION. Without that flag an invalid byte
// sequence becomes U+30FB (CP932) or U+FFFD (UTF-8); a wide character without a CP932 form
// becomes the default character ("?" unless given) and sets *usedDefaultChar.
#pragma once

#include "platform/wintypes.h"

namespace oxm {

enum : UINT { CP_ACP = 0, CP_932 = 932, CP_UTF8 = 65001 };
enum : DWORD { MB_ERR_INVALID_CHARS = 0x08 };

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, wchar_t* dst,
                        int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, BOOL* usedDefaultChar);

}  // namespace oxm
