#include "codec/charset.h"

#include <cwchar>

#include "codec/heap_probe.h"
#include "codec/japanese.h"
#include "codec/pictogram.h"
#include "codec/text_util.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/codepage.h"

namespace oxm {

namespace {

constexpr char kGeta[] = "\x81\xAC";

void cutAtZero(std::string* text) {
  const size_t zero = text->find('\0');
  if (zero != std::string::npos) text->resize(zero);
}

// The platform's wide-to-multibyte conversion in one call; `defaultChar` null means "?".
std::string wideTo(UINT codePage, const std::wstring& wide, const char* defaultChar) {
  if (wide.empty()) return std::string();
  const int srcLen = static_cast<int>(wide.size());
  const int need = WideCharToMultiByte(codePage, 0, wide.data(), srcLen, nullptr, 0, defaultChar, nullptr);
  std::string out(need > 0 ? static_cast<size_t>(need) : 0, '\0');
  if (need > 0) WideCharToMultiByte(codePage, 0, wide.data(), srcLen, out.data(), need, defaultChar, nullptr);
  return out;
}

std::wstring multiTo(UINT codePage, const std::string& narrow) {
  if (narrow.empty()) return std::wstring();
  const int srcLen = static_cast<int>(narrow.size());
  const int need = MultiByteToWideChar(codePage, 0, narrow.data(), srcLen, nullptr, 0);
  std::wstring out(need > 0 ? static_cast<size_t>(need) : 0, L'\0');
  if (need > 0) MultiByteToWideChar(codePage, 0, narrow.data(), srcLen, out.data(), need);
  return out;
}

// The charset an HTML text names for itself: the first of the known names found between
// "charset" and the next ">"; empty when there is no "charset" or no known name.
std::string charsetNamedInText(const std::wstring& text) {
  const std::wstring lower = lowerAscii(text);
  const size_t at = lower.find(L"charset");
  if (at == std::wstring::npos) return std::string();
  const size_t gt = lower.find(L'>', at);
  const std::wstring segment = lower.substr(at, gt == std::wstring::npos ? std::wstring::npos : gt - at);
  if (segment.find(L"iso-2022-jp") != std::wstring::npos) return "iso-2022-jp";
  if (segment.find(L"sjis") != std::wstring::npos || segment.find(L"shift_jis") != std::wstring::npos ||
      segment.find(L"shift-jis") != std::wstring::npos)
    return "sjis";
  if (segment.find(L"euc-jp") != std::wstring::npos) return "euc-jp";
  return std::string();
}

std::string charsetByDetection(const std::wstring& text) {
  switch (detectEncoding(wideTo(CP_ACP, text, nullptr), true)) {
    case JapaneseEncoding::Jis: return "iso-2022-jp";
    case JapaneseEncoding::EucJp: return "euc-jp";
    case JapaneseEncoding::ShiftJis: return "sjis";
    default: return "us-ascii";
  }
}

}  // namespace

void detectToSJIS(std::string* text, bool htmlVariant) {
  switch (detectEncoding(*text, htmlVariant)) {
    case JapaneseEncoding::Jis: jisToSjis(text); break;
    case JapaneseEncoding::EucJp: eucToSjis(text); break;
    default: break;
  }
}

void utf8ToSJIS(std::string* text) { *text = wideTo(CP_ACP, multiTo(CP_UTF8, *text), nullptr); }

void namedToSJIS(std::string* text, const std::string& lowerCharset) {
  if (lowerCharset == "iso-2022-jp")
    jisToSjis(text);
  else if (lowerCharset == "euc-jp")
    eucToSjis(text);
  else if (lowerCharset == "utf-8")
    utf8ToSJIS(text);
}

void toSJIS(std::string* text, const std::wstring& charset) {
  const std::wstring name = lowerAscii(charset);
  if (name == L"iso-2022-jp" || name == L"euc-jp" || name == L"utf-8")
    namedToSJIS(text, std::string(name.begin(), name.end()));
  else
    detectToSJIS(text);
  cutAtZero(text);
}

void toSJISforHTML(std::string* text, const std::wstring& charset) {
  if (lowerAscii(charset) == L"utf-8")
    utf8ToSJIS(text);
  else
    detectToSJIS(text, true);
}

unsigned ConvertStoW(const std::string& narrow, std::wstring* out) {
  const unsigned code = heapProbe(2 * narrow.size());
  if (code != OXMDL_ERR_NONE || narrow.empty()) return code;
  return multiToWide(narrow, out);
}

unsigned convertStoW(const std::list<std::string>& narrow, std::list<std::wstring>* out) {
  out->clear();
  for (const std::string& item : narrow) {
    std::wstring wide;
    const unsigned code = ConvertStoW(item, &wide);
    if (code != OXMDL_ERR_NONE) return code;
    out->push_back(std::move(wide));
  }
  return OXMDL_ERR_NONE;
}

std::string wideToSjisForSending(const std::wstring& wide) { return wideTo(CP_ACP, wide, kGeta); }

std::string wideToIso2022jp(const std::wstring& wide) { return sjisToIso2022jp(wideToSjisForSending(wide)); }

int wideToIso2022jpWithTags(const std::wstring& wide, std::string* out, unsigned* code) {
  *code = OXMDL_ERR_NONE;
  std::string sjis = wideToSjisForSending(wide);
  if (sjis.empty() && !wide.empty()) return -1;
  std::string tagged;
  const int replaced = encodePictogramTags(sjis, &tagged, code);
  if (*code != OXMDL_ERR_NONE) return -1;
  *out = sjisToIso2022jp(replaced > 0 ? tagged : sjis);
  return replaced;
}

// An empty charset is chosen from the text: a "charset" mention (as in an HTML meta element)
// naming ISO-2022-JP, Shift_JIS or EUC-JP wins; otherwise the text's own detected encoding.
// Names other than those three are converted by the system code page.
unsigned ConvertFromUTF16(std::string* out, const std::wstring& text, const std::wstring& charset) {
  std::wstring wname = lowerAscii(charset);
  std::string name(wname.begin(), wname.end());
  if (name.empty()) {
    name = charsetNamedInText(text);
    if (name.empty()) name = charsetByDetection(text);
  }
  if (name == "iso-2022-jp")
    *out = wideToIso2022jp(text);
  else if (name == "sjis" || name == "shift_jis" || name == "shift-jis")
    *out = wideToSjisForSending(text);
  else if (name == "euc-jp")
    *out = sjisToEuc(wideToSjisForSending(text));
  else
    *out = wideTo(CP_ACP, text, nullptr);
  return OXMDL_ERR_NONE;
}

}  // namespace oxm

int ConvertWtoS(const std::wstring& wide, std::string* out) {
  const size_t len = std::wcslen(wide.c_str());
  if (!out || len == 0) return 0;
  if (oxm::wideToMulti(wide.substr(0, len), out) != OXMDL_ERR_NONE) return 0;
  return static_cast<int>(out->size()) + 1;  // the platform counts the terminating zero
}
