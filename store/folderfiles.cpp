#include "store/folderfiles.h"

#include <cstdio>
#include <cstdlib>

#include "frame/oxerror.h"
#include "frame/textconv.h"

namespace oxm {

namespace {

// fgets(buf, 260) takes at most 259 bytes, ending early after a LF.
constexpr size_t kLineChunk = 259;

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// scanf's "%04X": blanks, then one to four hex digits.
bool scanHex4(const std::string& s, size_t* i, unsigned long* v) {
  while (*i < s.size() && isBlank(s[*i])) ++*i;
  size_t start = *i;
  unsigned long n = 0;
  while (*i < s.size() && *i - start < 4 && isHex(s[*i])) {
    char c = s[*i];
    n = n * 16 + static_cast<unsigned long>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    ++*i;
  }
  *v = n;
  return *i > start;
}

// scanf's "%d": blanks, an optional sign, digits (an overlong number is clamped).
bool scanInt(const std::string& s, size_t* i, long* v) {
  while (*i < s.size() && isBlank(s[*i])) ++*i;
  size_t at = *i;
  bool negative = false;
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) negative = s[at++] == '-';
  size_t digits = at;
  long long n = 0;
  while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
    if (n < 100000000000LL) n = n * 10 + (s[at] - '0');
    ++at;
  }
  if (at == digits) return false;
  *i = at;
  *v = static_cast<long>(negative ? -n : n);
  return true;
}

}  // namespace

unsigned checkFolderName(const std::wstring& name, std::string* bytes) {
  for (wchar_t c : name) {
    if (c == L'\r' || c == L'\n' || c == 0) return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
  }
  unsigned code = wideToMulti(name, bytes);
  if (code != OXMDL_ERR_NONE) return code;
  if (bytes->size() > kMaxFolderNameBytes) return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
  return OXMDL_ERR_NONE;
}

unsigned formatChildList(const std::vector<ChildEntry>& children, std::string* out) {
  std::string text;
  for (const ChildEntry& c : children) {
    std::string name;
    unsigned code = checkFolderName(c.name, &name);
    if (code != OXMDL_ERR_NONE) return code;
    char id[8];
    std::snprintf(id, sizeof id, "%04lX\t", c.id & 0xFFFF);
    text += id;
    text += name;
    text += "\r\n";
  }
  *out = std::move(text);
  return OXMDL_ERR_NONE;
}

unsigned parseChildList(const std::string& text, std::vector<ChildEntry>* out) {
  std::vector<ChildEntry> children;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && end - at < kLineChunk && text[end] != '\n') ++end;
    if (end < text.size() && end - at < kLineChunk) ++end;  // the LF belongs to the line
    const std::string line = text.substr(at, end - at);
    at = end;
    if (line.size() < 5 || line[4] != '\t') continue;
    for (int i = 0; i < 4; ++i) {
      if (!isHex(line[i])) return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
    }
    if (line.size() < 7 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
      return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
    }
    const std::string name = line.substr(5, line.size() - 7);
    if (name.find('\0') != std::string::npos) return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
    ChildEntry child;
    child.id = std::strtoul(line.substr(0, 4).c_str(), nullptr, 16);
    if (multiToWide(name, &child.name) != OXMDL_ERR_NONE) return OXMDL_ERR_STG_FILE_FMTILLGL_FLD;
    children.push_back(std::move(child));
  }
  *out = std::move(children);
  return OXMDL_ERR_NONE;
}

std::string formatMessageList(const std::vector<MessageLine>& lines) {
  std::string text;
  text.reserve(lines.size() * 11);
  for (const MessageLine& m : lines) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%04lX\t%d\t%d\r\n", m.id & 0xFFFF, m.unread ? 1 : 0,
                          m.partial ? 1 : 0);
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

unsigned parseMessageList(const std::string& text, std::vector<MessageLine>* out) {
  std::vector<MessageLine> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    at = end;
    // A blank line is skipped, as the device's scanf skipped blanks between fields.
    if (line.find_first_not_of(" \t\r\n\v\f") == std::string::npos) continue;
    size_t i = 0;
    unsigned long id = 0;
    long unread = 0;
    long partial = 0;
    if (!scanHex4(line, &i, &id) || !scanInt(line, &i, &unread) || !scanInt(line, &i, &partial)) {
      return OXMDL_ERR_STG_FILE_FMTILLGL_MSG;
    }
    lines.push_back({id, unread == 1, partial == 1});
  }
  *out = std::move(lines);
  return OXMDL_ERR_NONE;
}

std::vector<MessageLine> mergeMessageLists(const std::vector<MessageLine>& base, const std::vector<MessageLine>& ours,
                                           const std::vector<MessageLine>& theirs) {
  auto find = [](const std::vector<MessageLine>& lines, unsigned long id) -> const MessageLine* {
    for (const MessageLine& m : lines) {
      if (m.id == id) return &m;
    }
    return nullptr;
  };
  std::vector<MessageLine> merged;
  for (const MessageLine& t : theirs) {
    const MessageLine* b = find(base, t.id);
    const MessageLine* o = find(ours, t.id);
    if (b && !o) continue;
    const bool changedHere = o && (!b || o->unread != b->unread || o->partial != b->partial);
    merged.push_back(changedHere ? *o : t);
  }
  for (const MessageLine& o : ours) {
    if (!find(base, o.id) && !find(theirs, o.id)) merged.push_back(o);
  }
  return merged;
}

}  // namespace oxm
