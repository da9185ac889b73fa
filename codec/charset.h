// Conversions between the codec's narrow text (the system code page), the charsets of received
// and sent mail, and the wide text stored in the message record.
//
// The system code page is a device setting (platform GetACP): Shift_JIS (932) as on the
// original device, or UTF-8 (65001), in which every character of a message survives. The
// byte-level Japanese conversions work on Shift_JIS in both modes; under 65001 their result is
// then converted to UTF-8, and other charsets are read by name. The functions keep their
// "SJIS" names: they produce the system code page.
#pragma once

#include <list>
#include <string>

namespace oxm {

// Whether narrow text inside is UTF-8 (code page 65001) rather than Shift_JIS.
bool systemIsUtf8();

// Received text to the system code page by its declared charset (compared in lower case):
// "iso-2022-jp", "euc-jp" and "utf-8" by name; under 65001 also Shift_JIS and the other
// charsets the platform reads (ISO-8859-x, windows-125x, KOI8, GBK, Big5, EUC-KR...); anything
// else (empty, "us-ascii", unknown names) by detection. The result is cut at its first zero
// byte. Bad bytes become one replacement character each, never more text.
void toSJIS(std::string* text, const std::wstring& charset);
// The HTML body's variant: only "utf-8" (under 65001 also the other named charsets) is taken
// by name; everything else is detected, with carrier pictograms not counting as evidence.
void toSJISforHTML(std::string* text, const std::wstring& charset);
// Detects JIS or EUC-JP and converts them; anything else stays as it is under 932. Under 65001
// a text that is valid UTF-8 stays as it is, and any other goes from Shift_JIS to UTF-8.
void detectToSJIS(std::string* text, bool htmlVariant = false);
// Header text without a charset label: valid UTF-8 holding at least one multi-byte sequence is
// read as UTF-8 (raw 8-bit text of web mailers and phones), anything else by detectToSJIS.
void unlabelledHeaderToSystem(std::string* text);
// By a narrow charset name that is already lower case; under 932 names other than the three
// above leave the text as it is, under 65001 they are read as toSJIS reads them.
void namedToSJIS(std::string* text, const std::string& lowerCharset);
void utf8ToSJIS(std::string* text);
// Shift_JIS bytes to the system code page (nothing to do under 932).
void sjisToSystem(std::string* text);
// Whether `text` is valid UTF-8 with at least one multi-byte sequence.
bool isMultibyteUtf8(const std::string& text);

// Wide text to the system code page for writing into a message: under 932 characters without
// a form become the geta mark (0x81 0xAC); under 65001 only a lone surrogate has no form ("?").
std::string systemText(const std::wstring& wide);
// Whether every character of `wide` has a Shift_JIS form, so that it can go out as ISO-2022-JP.
bool fitsIso2022jp(const std::wstring& wide);
// Wide text as UTF-8 (a lone surrogate becomes "?").
std::string wideToUtf8(const std::wstring& wide);

// System code page to wide. A heap probe for twice the length runs first (its failure is
// returned); an empty text converts to nothing and leaves *out untouched.
unsigned ConvertStoW(const std::string& narrow, std::wstring* out);
unsigned convertStoW(const std::list<std::string>& narrow, std::list<std::wstring>* out);

// Wide to Shift_JIS (CP932, whatever the system code page) for sending: characters without a
// form become the geta mark (0x81 0xAC).
std::string wideToSjisForSending(const std::wstring& wide);
// Wide to ISO-2022-JP.
std::string wideToIso2022jp(const std::wstring& wide);
// Wide to ISO-2022-JP with the device's pictograms written as tags. Returns the number of
// pictograms written as tags, or -1 when the first conversion failed (*code then tells why:
// OXMDL_ERR_MEM_SHORTAGE from a heap probe).
int wideToIso2022jpWithTags(const std::wstring& wide, std::string* out, unsigned* code);

// Wide to the bytes of a named charset, for the HTML template and feed paths. An empty name is
// chosen from a "charset" mention in the text itself, else by detection; see the .cpp.
unsigned ConvertFromUTF16(std::string* out, const std::wstring& text, const std::wstring& charset);

}  // namespace oxm
