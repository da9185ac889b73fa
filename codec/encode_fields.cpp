#include "codec/encode_fields.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "codec/address.h"
#include "codec/charset.h"
#include "codec/heap_probe.h"
#include "codec/mimetype.h"
#include "codec/pictogram.h"
#include "codec/sjis.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/fs.h"

namespace oxm {

namespace {

constexpr char kCharsetName[] = "iso-2022-jp";
// Under code page 65001, text that has no ISO-2022-JP form goes out as UTF-8 instead.
constexpr char kUtf8Name[] = "UTF-8";
// At most this many bytes of UTF-8 per encoded word: 60 Base64 characters, a 72-column word.
constexpr size_t kUtf8WordBytes = 45;
// A chunk of a header text is encoded once its ISO-2022-JP form reaches this many bytes.
constexpr size_t kWordBytes = 29;
constexpr size_t kWordStartChars = 8;
constexpr size_t kMaxLineChars = 300;
// How far before a line break a "<" is looked for, so that a tag is not split.
constexpr size_t kTagLookBack = 13;

constexpr char ESC = 0x1B;
constexpr char kToDouble[] = "\x1b$B";
constexpr char kToAscii[] = "\x1b(B";

bool allAscii(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<unsigned long>(c) < 0x80; });
}

// The Q form of an encoded word (RFC 2047 section 4.2), with the characters allowed in a phrase
// (section 5 rule 3) left as they are.
std::string qEncodeWord(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
                       c == '*' || c == '+' || c == '-' || c == '/';
    if (c == ' ') {
      out += '_';
    } else if (plain) {
      out += ch;
    } else {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// One character of ISO-2022-JP text: its bytes without escapes, and whether they are a JIS
// X 0208 pair.
struct JisChar {
  size_t at;  // where its bytes start in the output
  bool jis;
  bool lt;    // an ASCII "<"
};

// Whether `text` goes out as UTF-8: under 65001 when some character has no ISO-2022-JP form.
// Under 932 such characters become the geta mark, as on the original device.
bool needsUtf8(const std::wstring& text) { return systemIsUtf8() && !fitsIso2022jp(text); }

// Encoded words of UTF-8, each of whole characters (RFC 2047 section 5).
std::string utf8Words(const std::wstring& text, WordEncoding encoding);

// The transfer encoding that keeps UTF-8 text shorter: quoted-printable for mostly ASCII
// (Latin) text, Base64 for the rest; the header line and the encoded text.
void appendUtf8Body(std::string* out, const std::string& utf8) {
  size_t escaped = 0;
  for (const char c : utf8)
    if (static_cast<unsigned char>(c) >= 0x7F || c == '=') ++escaped;
  if (utf8.size() + 2 * escaped <= utf8.size() * 4 / 3) {
    *out += "Content-Transfer-Encoding: quoted-printable\n\n";
    qpEncode(utf8, out);
  } else {
    *out += "Content-Transfer-Encoding: base64\n\n";
    base64Encode(utf8, out);
  }
}

}  // namespace

std::wstring oneLine(std::wstring text) {
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  return text;
}

std::string xMailerValue(bool pictureMail) {
  std::string value = std::string("tamarin OxMail") + "/1.40" + " (" + "K-PRISM" + ")";
  if (pictureMail) value += " [PictureMail]";
  return value;
}

std::string sendingText(const std::wstring& wide) { return systemText(wide); }

namespace {

std::string utf8Words(const std::wstring& text, WordEncoding encoding) {
  std::string out;
  std::string word;
  auto flush = [&] {
    if (!out.empty()) out += "\n ";
    out += "=?";
    out += kUtf8Name;
    if (encoding == WordEncoding::B) {
      out += "?b?";
      base64Encode(word, &out, 0);
    } else {
      out += "?q?";
      out += qEncodeWord(word);
    }
    out += "?=";
    word.clear();
  };
  for (const wchar_t c : text) {
    const std::string bytes = wideToUtf8(std::wstring(1, c));
    if (!word.empty() && word.size() + bytes.size() > kUtf8WordBytes) flush();
    word += bytes;
  }
  if (!word.empty()) flush();
  return out;
}

}  // namespace

std::wstring lfText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    out += text[i];
  }
  return out;
}

std::string encodeHeaderWord(const std::wstring& raw, WordEncoding encoding) {
  const std::wstring text = oneLine(raw);
  if (allAscii(text)) return sendingText(text);
  if (needsUtf8(text)) return utf8Words(text, encoding);
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t length = std::min(kWordStartChars, text.size() - i);
    std::string jis = wideToIso2022jp(text.substr(i, length));
    while (jis.size() < kWordBytes && i + length < text.size()) jis = wideToIso2022jp(text.substr(i, ++length));
    if (i != 0) out += "\n ";
    out += "=?";
    out += kCharsetName;
    if (encoding == WordEncoding::B) {
      out += "?b?";
      base64Encode(jis, &out, 0);
    } else {
      out += "?q?";
      out += qEncodeWord(jis);
    }
    out += "?=";
    i += length;
  }
  return out;
}

std::string bareAddressOf(const std::wstring& entry) {
  std::string address, name;
  parseSingleAddress(sendingText(oneLine(entry)), &address, &name);
  return address;
}

std::string fromForm(const Email& mail) {
  const std::string address = bareAddressOf(mail.from);
  if (mail.fromName.empty()) return address;
  std::string name = encodeHeaderWord(mail.fromName);
  if (allAscii(mail.fromName) && mail.fromName.find(L'"') == std::wstring::npos) name = "\"" + name + "\"";
  return name + " <" + address + ">";
}

// An entry without an address (what a trailing comma leaves in a received list) is no
// recipient: it is not written, and a list of nothing else writes no field.
void makeAddressField(std::string* out, const Email& mail, std::list<std::string>* recipients) {
  const struct {
    const char* name;
    const std::list<std::wstring>& list;
  } fields[] = {{"To: ", mail.to}, {"Cc: ", mail.cc}, {"Bcc: ", mail.bcc}};
  for (const auto& field : fields) {
    bool first = true;
    for (const std::wstring& entry : field.list) {
      const std::string address = bareAddressOf(entry);
      if (address.empty()) continue;
      if (first) {
        *out += '\n';
        *out += field.name;
      }
      if (!first) *out += ",\n ";
      first = false;
      *out += address;
      recipients->push_back(address);
    }
  }
}

void makeMessageIdField(std::string* out, const std::string& envelopeFrom) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d.z%04d.", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds);
  *out += "Message-Id: <";
  *out += stamp;
  *out += envelopeFrom;
  *out += '>';
}

void makeInReplyToField(std::string* out, const Email& mail) {
  if (mail.messageId.empty()) return;
  const std::string id = sendingText(oneLine(mail.messageId));
  *out += "In-Reply-To: <" + id + ">\n";
  *out += "References: ";
  if (mail.references.empty()) {
    *out += "<" + id + ">";
  } else {
    const std::wstring& first = mail.inReplyTo.empty() ? mail.references : mail.inReplyTo;
    *out += "<" + sendingText(oneLine(first)) + "> <" + id + ">";
  }
  *out += '\n';
}

// The count starts again after each LF; an inserted LF counts the characters moved after it,
// so that no line ever exceeds 300 characters.
std::wstring checkSendBodyReturnCode(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / kMaxLineChars + 1);
  size_t count = 0;
  for (const wchar_t c : text) {
    if (c == L'\n') {
      out += c;
      count = 0;
      continue;
    }
    if (count == kMaxLineChars) {
      size_t lt = std::wstring::npos;
      for (size_t k = 1; k <= kTagLookBack && k <= count; ++k) {
        if (out[out.size() - k] == L'<') {
          lt = out.size() - k;
          break;
        }
      }
      if (lt == std::wstring::npos) {
        out += L'\n';
        count = 0;
      } else {
        out.insert(lt, 1, L'\n');
        count = out.size() - lt - 1;
      }
    }
    out += c;
    ++count;
  }
  return out;
}

std::string checkSendBodyReturnCode(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 8);
  bool inJis = false;        // the mode of the input
  bool outJis = false;       // the mode at the end of out
  std::deque<JisChar> line;  // the last characters of the current line
  size_t count = 0;
  auto setMode = [&](bool jis) {
    if (jis != outJis) out += jis ? kToDouble : kToAscii;
    outJis = jis;
  };
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ESC && i + 2 < text.size() && (text.compare(i, 3, kToDouble) == 0 || text.compare(i, 3, kToAscii) == 0)) {
      inJis = text[i + 1] == '$';
      i += 3;
      continue;
    }
    const unsigned char b = static_cast<unsigned char>(text[i]);
    size_t width = 1;
    if (inJis && b >= 0x21 && i + 1 < text.size())
      width = 2;
    else if (!inJis && i + 1 < text.size() && isSjisLead(b) && isSjisTrail(static_cast<unsigned char>(text[i + 1])))
      width = 2;  // a carrier pictogram, written raw between ASCII runs
    const bool jisChar = inJis && width == 2;
    if (b == '\n') {
      setMode(false);
      out += '\n';
      count = 0;
      line.clear();
      ++i;
      continue;
    }
    if (count == kMaxLineChars) {
      size_t from = line.size() > kTagLookBack ? line.size() - kTagLookBack : 0;
      size_t lt = line.size();
      for (size_t k = line.size(); k > from; --k) {
        if (line[k - 1].lt) {
          lt = k - 1;
          break;
        }
      }
      if (lt == line.size()) {
        setMode(false);
        out += '\n';
        count = 0;
        line.clear();
      } else {
        // A "<" is an ASCII character: the text before it already ends in ASCII mode.
        out.insert(line[lt].at, 1, '\n');
        count = line.size() - lt;
        line.erase(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(lt));
        for (JisChar& c : line) ++c.at;
      }
    }
    setMode(jisChar);
    line.push_back({out.size(), jisChar, !jisChar && b == '<'});
    if (line.size() > kTagLookBack) line.pop_front();
    out.append(text, i, width);
    ++count;
    i += width;
  }
  setMode(false);
  return out;
}

unsigned makeBodyField(std::string* out, const Email& mail) {
  const bool html = !mail.htmlBody.empty();
  std::wstring body = lfText(mail.body);
  if (!mail.feedMessage) body = checkSendBodyReturnCode(body);
  std::string text;
  if (allAscii(body)) {
    *out += "Content-Type: text/plain; charset=";
    *out += html ? kCharsetName : "us-ascii";
    *out += '\n';
    text = sendingText(body);
  } else if (needsUtf8(body)) {
    std::wstring tagged;
    const bool pictograms = encodePictogramTags(body, &tagged) > 0;
    if (pictograms && !mail.feedMessage) tagged = checkSendBodyReturnCode(tagged);
    *out += pictograms ? "Content-Type: text/x-pmaildx; charset=\"" : "Content-Type: text/plain; charset=\"";
    *out += kUtf8Name;
    *out += "\"\n";
    appendUtf8Body(out, wideToUtf8(pictograms ? tagged : body));
    return OXMDL_ERR_NONE;
  } else {
    unsigned code = OXMDL_ERR_NONE;
    const int pictograms = wideToIso2022jpWithTags(body, &text, &code);
    if (pictograms < 0) return code != OXMDL_ERR_NONE ? code : OXMDL_ERR_MEM_SHORTAGE;
    if (pictograms > 0) {
      *out += "Content-Type: text/x-pmaildx; charset=";
      if (!mail.feedMessage) text = checkSendBodyReturnCode(text);
    } else {
      *out += "Content-Type: text/plain; charset=";
    }
    *out += "\"";
    *out += kCharsetName;
    *out += "\"\n";
  }
  if (html) *out += "Content-Transfer-Encoding: 7bit\n";
  *out += '\n';
  *out += text;
  return OXMDL_ERR_NONE;
}

unsigned makeFeedHtmlBodyField(std::string* out, const Email& mail) {
  const std::wstring html = lfText(mail.htmlBody);
  const unsigned code = heapProbe(3 * html.size() + 5);
  if (code != OXMDL_ERR_NONE) return code;
  *out += "Content-Type: text/html; charset=";
  if (allAscii(html)) {
    *out += "us-ascii\n\n";
    *out += sendingText(html);
  } else if (needsUtf8(html)) {
    *out += "\"";
    *out += kUtf8Name;
    *out += "\"\n\n";
    *out += wideToUtf8(html);
  } else {
    *out += "\"";
    *out += kCharsetName;
    *out += "\"\n\n";
    *out += wideToIso2022jp(html);
  }
  return OXMDL_ERR_NONE;
}

unsigned makeHtmlBodyField(std::string* out, const Email& mail) {
  if (mail.feedMessage) return makeFeedHtmlBodyField(out, mail);
  const std::wstring html = lfText(mail.htmlBody);
  const unsigned code = heapProbe(3 * html.size() + 5);
  if (code != OXMDL_ERR_NONE) return code;
  addBoundary(out, kAlternativeBoundary, false);
  const bool utf8 = needsUtf8(html);
  *out += "Content-Type: text/html; charset=\"";
  *out += utf8 ? kUtf8Name : kCharsetName;
  *out += "\"\nContent-Transfer-Encoding: quoted-printable\n\n";
  qpEncode(utf8 ? wideToUtf8(html) : wideToIso2022jp(html), out);
  addBoundary(out, kAlternativeBoundary, true);
  return OXMDL_ERR_NONE;
}

void addMimeHeader(std::string* out, const char* kind, const std::string& boundary, MimeFlags* flags) {
  *out += "Content-Type: multipart/";
  *out += kind;
  *out += ";\n boundary=\"" + boundary + "\"\n";
  if (flags->first) {
    *out += "\nThis is a multipart message in Mime 1.0 format\n";
    flags->first = false;
  }
  addBoundary(out, boundary, false);
}

void addBoundary(std::string* out, const std::string& boundary, bool closing) {
  *out += "\n--";
  *out += boundary;
  *out += closing ? "--" : "\n";
}

void encodeMimeHeader(std::string* out, const Email& mail, MimeFlags* flags, BoundStr* bounds) {
  flags->mixed = !mail.enclosures.empty();
  flags->alternative = !mail.htmlBody.empty();
  flags->related = !mail.relatedFiles.empty();
  flags->first = true;
  if (flags->alternative) {
    flags->mixed = false;
    flags->related = flags->related || !mail.enclosures.empty();
  }
  bounds->mixed = kMixedBoundary;
  bounds->related = kRelatedBoundary;
  bounds->alternative = kAlternativeBoundary;
  bounds->enclosures = flags->related ? bounds->related : flags->mixed ? bounds->mixed : std::string();
  if (flags->mixed) addMimeHeader(out, "mixed", bounds->mixed, flags);
  if (flags->related) addMimeHeader(out, "related", bounds->related, flags);
  if (flags->alternative) addMimeHeader(out, "alternative", bounds->alternative, flags);
}

std::wstring enclosurePath(const Enclosure& file) {
  if (file.folder.empty()) return file.name;
  const wchar_t last = file.folder.back();
  return last == L'\\' || last == L'/' ? file.folder + file.name : file.folder + L'\\' + file.name;
}

void addFilePartHeader(std::string* out, const std::string& boundary, const Enclosure& file,
                       const std::wstring& name, bool inlinePart, const std::string& transferEncoding) {
  const std::string word = encodeHeaderWord(name);
  *out += "\n\n--" + boundary + "\n";
  *out += "Content-Type: " + sendingText(mimeTypeId(name)) + ";\n name=\"" + word + "\"\n";
  if (!transferEncoding.empty()) *out += "Content-Transfer-Encoding: " + transferEncoding + "\n";
  *out += std::string("Content-Disposition: ") + (inlinePart ? "inline" : "attachment") + ";\n filename=\"" + word +
          "\"\n";
  if (!file.contentId.empty()) *out += "Content-ID: <" + sendingText(oneLine(file.contentId)) + ">\n";
  *out += '\n';
}

unsigned encodeMimeFiles(std::string* out, const std::string& boundary, const std::list<Enclosure>& files,
                         bool inlineAll) {
  for (const Enclosure& file : files)
    if (GetFileAttributesW(enclosurePath(file)) == INVALID_FILE_ATTRIBUTES) return OXMDL_ERR_MIME_FILE_MISSING;
  for (const Enclosure& file : files) {
    addFilePartHeader(out, boundary, file, file.name, inlineAll || file.inlineDisposition, "base64");
    const unsigned code = encodeFile(out, enclosurePath(file));
    if (code != OXMDL_ERR_NONE) return code;
  }
  return OXMDL_ERR_NONE;
}

unsigned encodeFile(std::string* out, const std::wstring& path) {
  File file;
  if (!file.openStream(path, "rb")) {
    NKDbgPrintfW(L"encodeFile() open ERROR [%x]\r\n", static_cast<unsigned>(GetLastError()));
    return OXMDL_ERR_MIME_FILE_READ;
  }
  uint64_t size = 0;
  if (!file.size(&size)) return OXMDL_ERR_MIME_FILE_READ;
  unsigned code = heapProbe(static_cast<size_t>(size) * 2);
  if (code != OXMDL_ERR_NONE) return code;
  std::string data(static_cast<size_t>(size), '\0');
  if (size != 0 && !file.readAll(data.data(), data.size())) return OXMDL_ERR_MIME_FILE_READ;
  base64Encode(data, out);
  return OXMDL_ERR_NONE;
}

unsigned encodeEnclosure(std::string* out, const Email& mail, const MimeFlags& flags, const BoundStr& bounds) {
  if (flags.related) {
    const unsigned code = encodeMimeFiles(out, bounds.related, mail.relatedFiles, true);
    if (code != OXMDL_ERR_NONE) return code;
  }
  if (!bounds.enclosures.empty()) {
    const unsigned code = encodeMimeFiles(out, bounds.enclosures, mail.enclosures, false);
    if (code != OXMDL_ERR_NONE) return code;
    addBoundary(out, bounds.enclosures, true);
  } else if (flags.related) {
    addBoundary(out, bounds.related, true);
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
