// Conversions between the codec's narrow text (Shift_JIS, the system code page), the charsets
// of received and sent mail, and the wide text stored in the message record.
#pragma once

#include <list>
#include <string>

namespace oxm {

// Received text to Shift_JIS by its declared charset (compared in lower case):
// "iso-2022-jp", "euc-jp" and "utf-8" by name, anything else (empty, "us-ascii", "shift_jis",
// unknown names) by detection. The result is cut at its first zero byte.
void toSJIS(std::string* text, const std::wstring& charset);
// The HTML body's variant: only "utf-8" is taken by name; everything else is detected, with
// carrier pictograms not counting as evidence.
void toSJISforHTML(std::string* text, const std::wstring& charset);
// Detects JIS or EUC-JP and converts them; anything else stays as it is.
void detectToSJIS(std::string* text, bool htmlVariant = false);
// By a narrow charset name that is already lower case; names other than the three above leave
// the text as it is.
void namedToSJIS(std::string* text, const std::string& lowerCharset);
void utf8ToSJIS(std::string* text);

// System code page to wide. A heap probe for twice the length runs first (its failure is
// returned); an empty text converts to nothing and leaves *out untouched.
unsigned ConvertStoW(const std::string& narrow, std::wstring* out);
unsigned convertStoW(const std::list<std::string>& narrow, std::list<std::wstring>* out);

// Wide to Shift_JIS for sending: characters without a form become the geta mark (0x81 0xAC).
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
