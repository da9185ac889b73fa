// Code pages with MultiByteToWideChar / WideCharToMultiByte semantics. The system code page
// (CP_ACP) is a device setting, whatever the host locale: Windows-31J (CP932, the default) or
// UTF-8 (65001); see GetACP. In CP932 0xF040-0xF9FC map to U+E000-U+E757 as on the device.
// CP_UTF8 is UTF-8. wchar_t holds one code point (32 bits), so a character above U+FFFF counts
// as one wide character here; a high surrogate followed by a low one (UTF-16 held one unit per
// wchar_t) is written to UTF-8 as the one character they make.
//
// Lengths are in characters/bytes; a source length of -1 means NUL-terminated, and the NUL is
// then converted and counted. A destination size of 0 asks for the size needed. Failure
// returns 0 with ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER or, with
// MB_ERR_INVALID_CHARS, ERROR_NO_UNICODE_TRANSLATION. Without that flag an invalid byte
// sequence becomes U+30FB (CP932) or U+FFFD (UTF-8); a wide character without a CP932 form
// becomes the default character ("?" unless given) and sets *usedDefaultChar.
//
// MultiByteToWideChar also reads the code pages of other received mail, through iconv: 874,
// 936 (GBK), 949, 950 (Big5), 1250-1258, 20866 (KOI8-R), 21866 (KOI8-U), 28591-28599,
// 28603, 28605 (ISO-8859-1..9, 13, 15), 51949 (EUC-KR), 54936 (GB18030); each byte sequence
// iconv refuses becomes one U+FFFD. WideCharToMultiByte does not write them.
//
// Details of bad input:
// - CP932: an unmapped lead/trail pair is one invalid character (both bytes); a lead byte
//   followed by a byte that cannot trail, or last in the input, is invalid alone and the next
//   byte is read on its own. 0x80, 0xA0 and 0xFD-0xFF are invalid bytes.
// - UTF-8: overlong forms, surrogates and values above U+10FFFF are invalid; each maximal
//   invalid prefix of a sequence becomes one U+FFFD.
// - Output: a wide character without a form in the code page (CP932: above U+FFFF or not in
//   the table; UTF-8: a surrogate or above U+10FFFF) becomes `defaultChar`, a NUL-terminated
//   string of at most 4 bytes written as is. MB_ERR_INVALID_CHARS makes WideCharToMultiByte
//   fail with ERROR_NO_UNICODE_TRANSLATION instead. The reverse CP932 table is the exact
//   inverse of decoding (no best-fit mappings); where several codes decode to one character
//   the device's choice is written: JIS X 0208 before NEC row 13 (0x87xx) before the IBM
//   extensions (0xFA-0xFC) before the NEC-selected IBM extensions (0xED-0xEE).
// - ERROR_INVALID_PARAMETER: a null source, a source length of 0 or below -1, a negative
//   destination size, a null destination with a non-zero size, flags other than
//   MB_ERR_INVALID_CHARS, an unknown code page, or a result longer than INT_MAX.
// - ERROR_INSUFFICIENT_BUFFER: the destination holds the part of the result that fitted.
#pragma once

#include <optional>

#include "platform/wintypes.h"

namespace oxm {

enum : UINT { CP_ACP = 0, CP_932 = 932, CP_UTF8 = 65001 };
enum : DWORD { MB_ERR_INVALID_CHARS = 0x08 };

// The active code page that CP_ACP stands for: 932 or 65001, from the registry value "ACP"
// (REG_SZ "932" or "65001", or the same as a REG_DWORD) under HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Control\Nls\CodePage". A missing value, an unreadable hive or
// any other number gives 932. Read once per process at the first use, as the device reads it
// when it starts; a change takes effect at the next start. Leaves the last error as it was.
UINT GetACP();
// Test hook: `codePage` (932 or 65001) in place of the setting; nullopt reads the setting
// again at the next use.
void setActiveCodePage(std::optional<UINT> codePage);

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, wchar_t* dst,
                        int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, BOOL* usedDefaultChar);

}  // namespace oxm
