#include "codec/mime_header.h"

#include <cstdio>

#include "codec/charset.h"
#include "codec/header_lines.h"
#include "codec/sjis.h"
#include "codec/text_util.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "platform/clock.h"

namespace oxm {

namespace {

constexpr std::string_view kForbiddenInFileName = "/\\:*?\"<>|";

// Position of the first ";" outside double quotes, or the end.
size_t mainValueEnd(std::string_view v) {
  bool quoted = false;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '"') quoted = !quoted;
    if (v[i] == ';' && !quoted) return i;
  }
  return v.size();
}

std::wstring wide(const std::string& narrow) {
  std::wstring w;
  ConvertStoW(narrow, &w);
  return w;
}

// The text between "<" and the next ">"; the text as it is without such a pair.
std::string withoutAngles(const std::string& v) {
  const size_t lt = v.find('<');
  if (lt == std::string::npos) return v;
  const size_t gt = v.find('>', lt + 1);
  if (gt == std::string::npos) return v;
  return v.substr(lt + 1, gt - lt - 1);
}

// A name for a picture that the HTML refers to by Content-ID only: the local time and the tick
// count, so that two pictures of one message do not collide.
std::wstring madeUpPictureName(const std::string& subtype) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char name[40];
  std::snprintf(name, sizeof name, "%02d%02d%02d%02d%02d%08x%s", now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond, static_cast<unsigned>(GetTickCount()), subtype == "jpeg" ? ".jpg" : ".gif");
  return wide(name);
}

void readContentType(const std::string& value, PartHeader* part) {
  Enclosure& e = part->enclosure;
  ParamReader params(value);
  const std::string main = lowerAscii(std::string(params.mainValue()));
  const size_t slash = main.find('/');
  part->type = trimBlanks(main.substr(0, slash));
  part->subtype = slash == std::string::npos ? std::string() : trimBlanks(main.substr(slash + 1));
  e.type = wide(part->type);
  e.subtype = wide(part->subtype);
  std::string name, v;
  while (params.next(&name, &v)) {
    if (name == "charset")
      e.charset = v.empty() ? L"US-ASCII" : wide(v);
    else if (name == "name")
      e.name = fileNameRules(v);
    else if (name == "boundary") {
      part->boundary = "--" + v;
      e.boundary = wide(part->boundary);
    } else if (name.rfind("name*", 0) == 0)
      e.name = fileNameRules(parseRFC2231(&params, name, v, "name*"));
  }
}

void readDisposition(const std::string& value, Enclosure* e) {
  ParamReader params(value);
  const std::string main = lowerAscii(std::string(params.mainValue()));
  e->disposition = wide(main);
  if (main == "inline") e->inlineDisposition = true;
  std::string name, v;
  while (params.next(&name, &v)) {
    if (name == "filename")
      e->filename = fileNameRules(v);
    else if (name.rfind("filename*", 0) == 0)
      e->filename = fileNameRules(parseRFC2231(&params, name, v, "filename*"));
  }
}

}  // namespace

ParamReader::ParamReader(std::string_view value) : text_(value) {
  const size_t end = mainValueEnd(value);
  main_ = trimBlanks(value.substr(0, end));
  pos_ = end;
}

void ParamReader::skipBlanksAndComments() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == ' ' || c == '\t' || c == '\n' || c == ';') {
      ++pos_;
    } else if (c == '(') {
      int depth = 0;
      for (; pos_ < text_.size(); ++pos_) {
        if (text_[pos_] == '(') ++depth;
        if (text_[pos_] == ')' && --depth == 0) break;
      }
      ++pos_;
    } else {
      break;
    }
  }
}

bool ParamReader::next(std::string* name, std::string* value, size_t* start) {
  for (;;) {
    skipBlanksAndComments();
    if (pos_ >= text_.size()) return false;
    if (start) *start = pos_;
    const size_t nameEnd = std::min(text_.find_first_of("=;", pos_), text_.size());
    *name = lowerAscii(std::string(trimBlanks(text_.substr(pos_, nameEnd - pos_))));
    pos_ = nameEnd;
    if (pos_ >= text_.size() || text_[pos_] == ';') continue;  // a name without a value
    ++pos_;  // "="
    while (pos_ < text_.size() && isBlankOrTab(text_[pos_])) ++pos_;
    value->clear();
    if (pos_ < text_.size() && text_[pos_] == '"') {
      for (++pos_; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') ++pos_;
        *value += text_[pos_];
      }
      pos_ = std::min(text_.find(';', pos_), text_.size());  // whatever follows the quotes
    } else {
      for (int depth = 0; pos_ < text_.size() && (depth > 0 || text_[pos_] != ';'); ++pos_) {
        const char c = text_[pos_];
        if (c == '(') ++depth;
        if (depth == 0) *value += c;
        if (c == ')' && depth > 0) --depth;
      }
    }
    *value = trimBlanks(*value);
    if (!name->empty()) return true;
  }
}

std::string parseRFC2231(ParamReader* reader, const std::string& firstName, const std::string& firstValue,
                         std::string_view prefix) {
  std::string result;
  std::string charset;
  std::string pending;
  auto flush = [&] {
    std::string bytes = replacePercent(pending);
    toSJIS(&bytes, wide(charset));
    result += bytes;
    pending.clear();
  };
  std::string name = firstName;
  std::string value = firstValue;
  for (;;) {
    if (!name.empty() && name.back() == '*') {
      // The number after the first "*": none (name*) or 0 (name*0*) starts the value with
      // charset'language'.
      const std::string number = name.substr(prefix.size(), name.size() - prefix.size() - 1);
      if (number.empty() || number == "0") {
        const size_t q1 = value.find('\'');
        const size_t q2 = q1 == std::string::npos ? q1 : value.find('\'', q1 + 1);
        if (q2 != std::string::npos) {
          charset = value.substr(0, q1);
          pending += value.substr(q2 + 1);
        } else {
          pending += value;
        }
      } else {
        pending += value;
      }
    } else {
      flush();
      result += value;
    }
    size_t start = 0;
    if (!reader->next(&name, &value, &start)) break;
    if (name.compare(0, prefix.size(), prefix) != 0) {
      reader->rewind(start);
      break;
    }
  }
  flush();
  return result;
}

std::wstring fileNameRules(const std::string& narrow) {
  std::string kept;
  kept.reserve(narrow.size());
  // A Shift_JIS trail byte may look like "\\" or "|"; UTF-8 continuation bytes never look ASCII.
  const bool sjis = !systemIsUtf8();
  for (size_t i = 0; i < narrow.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(narrow[i]);
    if (sjis && isSjisLead(b) && i + 1 < narrow.size()) {
      kept += narrow[i];
      kept += narrow[++i];
    } else if (kForbiddenInFileName.find(narrow[i]) == std::string_view::npos) {
      kept += narrow[i];
    }
  }
  std::wstring name = wide(kept);
  cutToUtf16Units(&name, kMaxFileName);
  return name.empty() ? L"NoName" : name;
}

PartHeader parseMimeHeader(const std::string& text, size_t* pos) {
  PartHeader part;
  Enclosure& e = part.enclosure;
  bool haveDisposition = false;
  std::string_view line;
  size_t lineStart = *pos;
  while (readHeaderLine(text, pos, &line)) {
    if (!part.boundary.empty() && line == part.boundary) {
      *pos = lineStart;  // the part had no empty line before its first boundary
      break;
    }
    lineStart = *pos;
    if (startsWithNoCase(line, "content-type:")) {
      if (!part.boundary.empty()) continue;  // only the first Content-Type with a boundary counts
      readContentType(decodeEncodedWords(unfold(headerValue(line, 13), Unfold::Join), true), &part);
    } else if (startsWithNoCase(line, "Content-Transfer-Encoding:")) {
      e.transferEncoding = wide(lowerAscii(unfold(headerValue(line, 26), Unfold::Remove)));
    } else if (startsWithNoCase(line, "Content-Disposition:")) {
      haveDisposition = true;
      readDisposition(decodeEncodedWords(unfold(headerValue(line, 20), Unfold::Remove), false), &e);
    } else if (startsWithNoCase(line, "Content-Base:")) {
      e.contentBase = wide(decodeEncodedWords(unfold(headerValue(line, 13), Unfold::Remove), false));
    } else if (startsWithNoCase(line, "Content-ID:")) {
      e.contentId = wide(withoutAngles(decodeEncodedWords(unfold(headerValue(line, 11), Unfold::Remove), false)));
    } else if (startsWithNoCase(line, "Content-Location:")) {
      std::string v = decodeEncodedWords(unfold(headerValue(line, 17), Unfold::Remove), false);
      const size_t cid = findNoCase(v, "cid: ");
      if (cid != std::string::npos) v = v.substr(cid + 5);
      e.contentLocation = wide(withoutAngles(v));
    }
  }
  if (!haveDisposition && part.type == "text") e.inlineDisposition = true;
  if (!e.contentId.empty() && e.name.empty() && e.filename.empty() && part.type == "image" &&
      (part.subtype == "jpeg" || part.subtype == "gif"))
    e.filename = madeUpPictureName(part.subtype);
  return part;
}

}  // namespace oxm
