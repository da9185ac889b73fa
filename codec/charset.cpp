#include "codec/charset.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

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

// MIME charset names (lower case) and the code pages that read them under 65001. Under 932
// only the three Japanese names are read by name, as on the original device.
struct NamedCodePage {
  std::string_view name;
  UINT codePage;
};
constexpr NamedCodePage kNamedCodePages[] = {
    {"shift_jis", CP_932}, {"sjis", CP_932}, {"x-sjis", CP_932}, {"cp932", CP_932},
    {"windows-31j", CP_932}, {"ms_kanji", CP_932}, {"utf8", CP_UTF8},
    {"iso-8859-1", 28591}, {"iso8859-1", 28591}, {"latin1", 28591}, {"l1", 28591},
    {"iso-8859-2", 28592}, {"iso-8859-3", 28593}, {"iso-8859-4", 28594}, {"iso-8859-5", 28595},
    {"iso-8859-6", 28596}, {"iso-8859-7", 28597}, {"iso-8859-8", 28598}, {"iso-8859-8-i", 28598},
    {"iso-8859-9", 28599}, {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"latin-9", 28605},
    {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252}, {"cp1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
    {"windows-1257", 1257}, {"windows-1258", 1258}, {"windows-874", 874}, {"tis-620", 874},
    {"koi8-r", 20866}, {"koi8-u", 21866}, {"gb2312", 936}, {"gbk", 936}, {"x-gbk", 936}, {"euc-cn", 936},
    {"gb18030", 54936}, {"big5", 950}, {"euc-kr", 51949}, {"ks_c_5601-1987", 949}, {"cp949", 949},
};

// "_" and "-" count as one ("koi8_r", "iso_8859-1" and "shift_jis" are written both ways).
bool sameCharsetName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] == '_' ? '-' : a[i];
    const char y = b[i] == '_' ? '-' : b[i];
    if (x != y) return false;
  }
  return true;
}

UINT namedCodePage(std::string_view lowerName) {
  for (const NamedCodePage& n : kNamedCodePages)
    if (sameCharsetName(n.name, lowerName)) return n.codePage;
  return 0;
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
  switch (detectEncoding(wideTo(CP_932, text, nullptr), true)) {
    case JapaneseEncoding::Jis: return "iso-2022-jp";
    case JapaneseEncoding::EucJp: return "euc-jp";
    case JapaneseEncoding::ShiftJis: return "sjis";
    default: return "us-ascii";
  }
}

}  // namespace

bool systemIsUtf8() { return GetACP() == CP_UTF8; }

bool isMultibyteUtf8(const std::string& text) {
  bool multibyte = false;
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) {
      multibyte = true;
      break;
    }
  return multibyte && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0) > 0;
}

void sjisToSystem(std::string* text) {
  const bool ascii = std::all_of(text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (systemIsUtf8() && !ascii) *text = wideTo(CP_UTF8, multiTo(CP_932, *text), nullptr);
}

void detectToSJIS(std::string* text, bool htmlVariant) {
  if (systemIsUtf8() && isMultibyteUtf8(*text)) return;
  switch (detectEncoding(*text, htmlVariant)) {
    case JapaneseEncoding::Jis: jisToSjis(text); break;
    case JapaneseEncoding::EucJp: eucToSjis(text); break;
    default: break;
  }
  sjisToSystem(text);
}

void unlabelledHeaderToSystem(std::string* text) {
  if (isMultibyteUtf8(*text))
    utf8ToSJIS(text);
  else
    detectToSJIS(text);
}

void utf8ToSJIS(std::string* text) { *text = wideTo(CP_ACP, multiTo(CP_UTF8, *text), nullptr); }

namespace {

// Under 65001: a charset other than the three Japanese names, read by the platform when it
// knows it. False when it does not (the caller detects).
bool otherCharsetToUtf8(std::string* text, const std::string& lowerCharset) {
  const UINT codePage = namedCodePage(lowerCharset);
  if (codePage == 0) return false;
  *text = wideTo(CP_UTF8, multiTo(codePage, *text), nullptr);
  return true;
}

}  // namespace

void namedToSJIS(std::string* text, const std::string& lowerCharset) {
  if (lowerCharset == "iso-2022-jp") {
    jisToSjis(text);
    sjisToSystem(text);
  } else if (lowerCharset == "euc-jp") {
    eucToSjis(text);
    sjisToSystem(text);
  } else if (lowerCharset == "utf-8") {
    utf8ToSJIS(text);
  } else if (systemIsUtf8() && !otherCharsetToUtf8(text, lowerCharset)) {
    detectToSJIS(text);
  }
}

void toSJIS(std::string* text, const std::wstring& charset) {
  const std::wstring wname = lowerAscii(charset);
  const std::string name(wname.begin(), wname.end());
  if (name == "iso-2022-jp" || name == "euc-jp" || name == "utf-8" || (systemIsUtf8() && namedCodePage(name) != 0))
    namedToSJIS(text, name);
  else
    detectToSJIS(text);
  cutAtZero(text);
}

void toSJISforHTML(std::string* text, const std::wstring& charset) {
  const std::wstring wname = lowerAscii(charset);
  const std::string name(wname.begin(), wname.end());
  if (name == "utf-8")
    utf8ToSJIS(text);
  else if (!systemIsUtf8() || !otherCharsetToUtf8(text, name))
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

std::string wideToSjisForSending(const std::wstring& wide) { return wideTo(CP_932, wide, kGeta); }

std::string systemText(const std::wstring& wide) { return wideTo(CP_ACP, wide, systemIsUtf8() ? nullptr : kGeta); }

std::string wideToUtf8(const std::wstring& wide) { return wideTo(CP_UTF8, wide, nullptr); }

bool fitsIso2022jp(const std::wstring& wide) {
  if (wide.empty()) return true;
  return WideCharToMultiByte(CP_932, MB_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                             nullptr, nullptr) > 0;
}

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
