#include "codec/mime_walk.h"

#include "codec/charset.h"
#include "codec/decode.h"
#include "codec/displayable.h"
#include "codec/email.h"
#include "codec/enclosure.h"
#include "codec/heap_probe.h"
#include "codec/line_ends.h"
#include "codec/mimetype.h"
#include "codec/pictogram.h"
#include "codec/text_util.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"

namespace oxm {

namespace {

// Put between the body of a message and the text of a message attached to it.
constexpr wchar_t kMessageSeparator[] = L"\r\n\r\n----------------\r\n";

std::string partBytes(const Walk& walk, const Enclosure& e, size_t length) {
  if (e.bodyOffset >= walk.text.size()) return std::string();
  return walk.text.substr(e.bodyOffset, length);
}

// Text to the record's form: wide, CR LF line ends.
unsigned toRecordText(const std::string& narrow, std::wstring* out) {
  std::wstring w;
  unsigned code = ConvertStoW(narrow, &w);
  if (code == OXMDL_ERR_NONE) code = replace0Ato0D0A(&w);
  if (code == OXMDL_ERR_NONE) *out = std::move(w);
  return code;
}

// Pictogram tags of a text/x-pmaildx text become the pictograms.
unsigned decodeTagsOf(const PartHeader& part, std::string* text) {
  if (part.subtype != "x-pmaildx") return OXMDL_ERR_NONE;
  const unsigned code = heapProbe(text->size());
  if (code == OXMDL_ERR_NONE) *text = decodePictogramTags(*text);
  return code;
}

// A text part that does not become a body is an enclosure; it gets a file name if it has none.
void addTextEnclosure(Walk& walk, PartHeader& part, const wchar_t* defaultName) {
  Enclosure& e = part.enclosure;
  if (e.filename.empty() && e.name.empty()) e.filename = defaultName;
  if (parseMimeAddEnclosure(walk.email, e, walk.counter)) ++walk.counter;
}

unsigned transferDecoded(const PartHeader& part, std::string* content) {
  const std::wstring encoding = lowerAscii(part.enclosure.transferEncoding);
  if (encoding == L"quoted-printable")
    *content = qpDecode(*content);
  else if (encoding == L"base64")
    *content = base64Decode(*content);
  return OXMDL_ERR_NONE;
}

unsigned htmlPart(Walk& walk, PartHeader& part, const std::string& content, bool alternative) {
  Email& email = *walk.email;
  const Enclosure& e = part.enclosure;
  if (!e.disposition.empty() && e.disposition != L"inline") {
    email.htmlBody.clear();
    addTextEnclosure(walk, part, L"NoName.html");
    return OXMDL_ERR_NONE;
  }
  if (!alternative && !email.body.empty()) {
    email.htmlBody.clear();
    addTextEnclosure(walk, part, L"NoName.html");
    return OXMDL_ERR_NONE;
  }
  std::wstring html;
  const unsigned code = toRecordText(content, &html);
  if (code != OXMDL_ERR_NONE) return code;
  if (html.size() >= 2 && html.compare(html.size() - 2, 2, L"\r\n") == 0) html.resize(html.size() - 2);
  bool added = false;
  if (email.htmlBody.empty()) {
    email.htmlBody = std::move(html);
  } else {
    addTextEnclosure(walk, part, L"NoName.html");
    added = true;
  }
  if (email.nestedMessage && !added) addTextEnclosure(walk, part, L"NoName.html");
  return OXMDL_ERR_NONE;
}

unsigned plainPart(Walk& walk, PartHeader& part, std::string content, bool alternative) {
  Email& email = *walk.email;
  replaceUndisplayable(&content);
  unsigned code = decodeTagsOf(part, &content);
  std::wstring text;
  if (code == OXMDL_ERR_NONE) code = toRecordText(content, &text);
  if (code == OXMDL_ERR_NONE) code = heapProbe((email.body.size() + text.size()) * sizeof(wchar_t));
  if (code != OXMDL_ERR_NONE) return code;
  bool added = false;
  if (part.enclosure.disposition == L"attachment") {
    email.body.clear();
    addTextEnclosure(walk, part, L"NoName.txt");
    added = true;
  } else {
    if (email.body.empty()) {
      email.body = std::move(text);
    } else {
      addTextEnclosure(walk, part, L"NoName.txt");
      added = true;
    }
    if (email.nestedMessage && email.outerBodyKind == L"html" && !added) {
      addTextEnclosure(walk, part, L"NoName.txt");
      added = true;
    }
  }
  if (!alternative && !email.htmlBody.empty()) {
    email.body.clear();
    if (!added) addTextEnclosure(walk, part, L"NoName.txt");
  }
  return OXMDL_ERR_NONE;
}

// Where the level's boundary stands after the part that starts at walk.pos.
// After the boundary line that starts at `at`: its position past the line end (or the end of
// the text); npos when `boundary` does not stand there as a whole line.
size_t boundaryLineEnd(const std::string& text, size_t at, const std::string& boundary) {
  const size_t n = text.size();
  if ((at > 0 && text[at - 1] != '\n') || text.compare(at, boundary.size(), boundary) != 0) return std::string::npos;
  size_t end = at + boundary.size();
  if (text.compare(end, 2, "--") == 0) end += 2;
  while (end < n && (isBlankOrTab(text[end]) || text[end] == '\r')) ++end;  // transport padding, a stray CR
  if (end < n && text[end] != '\n') return std::string::npos;
  return end < n ? end + 1 : n;
}

struct BoundaryHit {
  size_t at;    // the boundary's position, or the end of the text
  bool found;   // a level without a boundary counts as found
  bool last;    // no further part follows on this level
  size_t next;  // where the next part starts: after the boundary line's end
};

BoundaryHit findLevelBoundary(const Walk& walk, const std::string& boundary) {
  const size_t n = walk.text.size();
  if (boundary.empty()) return {n, true, true, n};
  size_t next = n;
  const size_t at = findBoundaryLine(walk.text, boundary, std::min(walk.pos, n), &next);
  if (at == std::string::npos) return {n, false, true, n};
  const bool closing = walk.text.compare(at + boundary.size(), 2, "--") == 0;
  return {at, true, closing, next};
}

// Whether a part would start on the boundary line of an enclosing level: what is left of this
// level is empty (its own closing line is missing), and the enclosing level goes on there.
bool atEnclosingBoundary(const Walk& walk) {
  for (const std::string* b : walk.enclosing)
    if (boundaryLineEnd(walk.text, walk.pos, *b) != std::string::npos) return true;
  return false;
}

// The part's body, its boundary found: what it becomes.
unsigned classifyPart(Walk& walk, PartHeader& part, const BoundaryHit& hit, bool alternative) {
  Enclosure& e = part.enclosure;
  const bool named = !e.filename.empty() || !e.name.empty();
  if (named && hit.found) {
    if (!parseMimeExtractBody(walk, part) && parseMimeAddEnclosure(walk.email, e, walk.counter)) ++walk.counter;
    return part.type == "message" ? parseMimeContentMessage(walk, part) : OXMDL_ERR_NONE;
  }
  if (part.type == "text" || part.type.empty()) {
    unsigned code = OXMDL_ERR_NONE;
    // An empty part (as after a last boundary line that is not closed) leaves the body that an
    // earlier part set as it is.
    if (e.bodyLength != 0) {
      if (!hit.last) --e.bodyLength;  // the LF before the boundary
      code = parseMimeContentText(walk, part, alternative);
    }
    if (walk.email->summaryOnly) walk.stopped = true;
    return code;
  }
  if (part.type == "message") {
    const unsigned code = parseMimeContentMessage(walk, part);
    if (code == OXMDL_ERR_NONE && part.subtype == "rfc822" && parseMimeAddEnclosure(walk.email, e, walk.counter))
      ++walk.counter;
    return code;
  }
  return OXMDL_ERR_NONE;  // anything else without a name is dropped
}

}  // namespace

size_t findBoundaryLine(const std::string& text, const std::string& boundary, size_t from, size_t* next) {
  *next = text.size();
  if (boundary.empty()) return std::string::npos;
  for (size_t at = text.find(boundary, from); at != std::string::npos; at = text.find(boundary, at + 1)) {
    const size_t end = boundaryLineEnd(text, at, boundary);
    if (end == std::string::npos) continue;
    *next = end;
    return at;
  }
  return std::string::npos;
}

unsigned parseBody(Email* email, const std::string& text, size_t pos, int depth) {
  Walk walk{email, text, pos, 0, depth, false, {}};
  return parseMime(walk, PartHeader{}, false);
}

unsigned parseMime(Walk& walk, const PartHeader& level, bool alternative) {
  const std::string& text = walk.text;
  const std::string& boundary = level.boundary;
  if (!boundary.empty()) {
    size_t next = 0;
    if (findBoundaryLine(text, boundary, std::min(walk.pos, text.size()), &next) == std::string::npos) {
      walk.pos = text.size();
      return OXMDL_ERR_NONE;
    }
    walk.pos = next;
  }
  bool closed = false;
  while (walk.pos < text.size() && !closed && !walk.stopped) {
    if (atEnclosingBoundary(walk)) break;
    PartHeader part = parseMimeHeader(text, &walk.pos);
    part.enclosure.bodyOffset = static_cast<DWORD>(walk.pos);
    if (part.type == "multipart" && walk.depth < kMaxMimeDepth) {
      ++walk.depth;
      if (!boundary.empty()) walk.enclosing.push_back(&boundary);
      const unsigned code = parseMime(walk, part, part.subtype == "alternative");
      if (!boundary.empty()) walk.enclosing.pop_back();
      --walk.depth;
      if (code != OXMDL_ERR_NONE) return code;
      if (walk.stopped) break;
    }
    const BoundaryHit hit = findLevelBoundary(walk, boundary);
    part.enclosure.bodyLength = static_cast<DWORD>(hit.at > part.enclosure.bodyOffset ? hit.at - part.enclosure.bodyOffset : 0);
    const unsigned code = classifyPart(walk, part, hit, alternative);
    if (code != OXMDL_ERR_NONE) return code;
    walk.pos = hit.found && !boundary.empty() ? hit.next : text.size();
    closed = hit.last;
  }
  return OXMDL_ERR_NONE;
}

unsigned parseMimeContentText(Walk& walk, PartHeader& part, bool alternative) {
  const Enclosure& e = part.enclosure;
  std::string content = partBytes(walk, e, e.bodyLength);
  if (!content.empty() && content.back() == '\n') content.pop_back();
  unsigned code = heapProbe(content.size());
  if (code == OXMDL_ERR_NONE) code = transferDecoded(part, &content);
  if (code != OXMDL_ERR_NONE) return code;
  if (part.subtype == "html") {
    toSJISforHTML(&content, e.charset);
    return htmlPart(walk, part, content, alternative);
  }
  toSJIS(&content, e.charset);
  return plainPart(walk, part, std::move(content), alternative);
}

bool parseMimeExtractBody(Walk& walk, PartHeader& part) {
  Email& email = *walk.email;
  Enclosure& e = part.enclosure;
  if (!email.body.empty() || !email.htmlBody.empty()) return false;
  if (!e.inlineDisposition || part.type != "text" || (part.subtype != "plain" && part.subtype != "x-pmaildx") ||
      e.bodyLength == 0)
    return false;
  std::string data = partBytes(walk, e, e.bodyLength - 1);
  unsigned code = decodeEnclosure(&data, &e);
  if (code == OXMDL_ERR_NONE) {
    replaceUndisplayable(&data);
    code = decodeTagsOf(part, &data);
  }
  std::wstring text;
  if (code == OXMDL_ERR_NONE) code = toRecordText(data, &text);
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return false;
  }
  email.body += text;
  return true;
}

bool parseMimeAddEnclosure(Email* email, Enclosure part, DWORD index) {
  part.index = index;
  part.displayName = part.filename.empty() ? part.name : part.filename;
  part.extracted = false;
  if (!(part.type == L"message" && part.subtype == L"rfc822")) {
    const std::wstring type = mimeTypeId(part.displayName);
    const size_t slash = type.find(L'/');
    part.type = type.substr(0, slash);
    part.subtype = slash == std::wstring::npos ? std::wstring() : type.substr(slash + 1);
  }
  if (!part.contentId.empty() && !email->htmlBody.empty()) {
    email->relatedFiles.push_back(std::move(part));
    return false;
  }
  email->enclosures.push_back(std::move(part));
  return true;
}

unsigned parseMimeContentMessage(Walk& walk, PartHeader& part) {
  Email& email = *walk.email;
  Enclosure& e = part.enclosure;
  std::string content = partBytes(walk, e, e.bodyLength);
  if (part.subtype != "rfc822") {
    unsigned code = transferDecoded(part, &content);
    toSJIS(&content, e.charset);
    std::wstring text;
    if (code == OXMDL_ERR_NONE) code = toRecordText(content, &text);
    if (code != OXMDL_ERR_NONE) return code;
    if (!email.body.empty()) email.body += kMessageSeparator;
    email.body += text;
    return OXMDL_ERR_NONE;
  }
  Email inner;
  inner.nestedMessage = true;
  inner.outerBodyKind = email.htmlBody.empty() ? L"text" : L"html";
  if (walk.depth < kMaxMimeDepth) {
    const unsigned code = decodeCore(&inner, content, walk.depth + 1);
    if (code != OXMDL_ERR_NONE) return code;
  }
  if (!inner.body.empty()) email.body += kMessageSeparator + inner.body;
  for (Enclosure& innerPart : inner.enclosures) {
    innerPart.index = walk.counter++;
    innerPart.bodyOffset += e.bodyOffset;
    email.enclosures.push_back(std::move(innerPart));
  }
  if (e.name.empty()) {
    std::string subject;
    wideToMulti(inner.subject, &subject);
    e.name = fileNameRules(subject) + L".eml";
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
