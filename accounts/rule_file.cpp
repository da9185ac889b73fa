#include "accounts/rule_file.h"

#include <new>
#include <string_view>

#include "accounts/commit.h"
#include "accounts/paths.h"
#include "accounts/tree.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "frame/refset.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "frame/textconv.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// Column lengths in the file, in UTF-16 units.
constexpr size_t kNameUnits = 10;
constexpr size_t kFieldUnits = 9;
constexpr size_t kKeywordUnits = 128;
// The longest line the writer makes: the three columns, two numbers of up to 11 characters
// ("-2147483648"), four TABs and CR LF. A longer line is damage; it is read up to this length
// and then lacks its line end.
constexpr size_t kMaxLineUnits = kNameUnits + kFieldUnits + kKeywordUnits + 11 + 11 + 4 + 2;
constexpr size_t kReadChunkBytes = 8192;

const TreeCodes kClassificationTree{OXMDL_ERR_CLS_TREE_FIND, OXMDL_ERR_CLS_TREE_DELFILE,
                                    OXMDL_ERR_CLS_TREE_RMDIR};

// The first `max` units of the text (a surrogate pair is not split), without control characters.
std::u16string column(const std::wstring& text, size_t max) {
  std::u16string units = toUtf16(text);
  if (units.size() > max) {
    units.resize(max);
    if (units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  }
  std::erase_if(units, [](char16_t c) { return c < 0x20; });
  return units;
}

std::u16string decimal(uint32_t value) {
  return toUtf16(std::to_wstring(static_cast<int32_t>(value)));
}

// A signed decimal number as the runtime's conversion reads it: an optional sign, digits, and
// whatever follows ignored; no digits give 0. Kept as the 32-bit pattern the writer's "%d" had.
uint32_t numberOf(std::u16string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    v = v * 10 + (text[i] - u'0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
  }
  uint32_t low = static_cast<uint32_t>(v);
  return negative ? 0u - low : low;
}

// UTF-16LE units of a file, a chunk at a time.
class UnitReader {
 public:
  explicit UnitReader(File& f) : f_(f) {}
  // One line: the units up to and including a line feed, or up to `max` units, or up to the
  // end of the file. False on a read error.
  bool line(std::u16string* out, size_t max) {
    out->clear();
    while (out->size() < max) {
      if (pos_ + 1 >= have_) {
        if (!fill()) return false;
        if (pos_ + 1 >= have_) return true;  // end of the file (an odd last byte is not text)
      }
      char16_t c = static_cast<char16_t>(static_cast<unsigned char>(buf_[pos_]) |
                                         static_cast<unsigned char>(buf_[pos_ + 1]) << 8);
      pos_ += 2;
      out->push_back(c);
      if (c == u'\n') break;
    }
    return true;
  }

 private:
  bool fill() {
    // Keep an odd byte left over from the last chunk.
    std::string rest = buf_.substr(pos_, have_ - pos_);
    buf_.assign(kReadChunkBytes, '\0');
    buf_.replace(0, rest.size(), rest);
    size_t got = 0;
    if (!f_.read(buf_.data() + rest.size(), buf_.size() - rest.size(), &got)) return false;
    have_ = rest.size() + got;
    pos_ = 0;
    return true;
  }

  File& f_;
  std::string buf_;
  size_t pos_ = 0;
  size_t have_ = 0;
};

// Parses one line read from Rule.cls. OXMDL_ERR_CLS_FILE_OLD_LINE marks a four-column line that
// was read all the same.
unsigned parseRuleLine(const std::u16string& line, Rule* rule) {
  const bool hasLineEnd = line.size() >= 2 && line.compare(line.size() - 2, 2, u"\r\n") == 0;
  std::u16string_view text(line.data(), hasLineEnd ? line.size() - 2 : line.size());
  size_t tabs[3];
  size_t from = 0;
  for (size_t& tab : tabs) {
    tab = text.find(u'\t', from);
    if (tab == std::u16string_view::npos) return OXMDL_ERR_CLS_FILE_FIELD;
    from = tab + 1;
  }
  rule->strName = fromUtf16(std::u16string(text.substr(0, tabs[0])));
  rule->strField = fromUtf16(std::u16string(text.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1)));
  rule->strKeyword = fromUtf16(std::u16string(text.substr(tabs[1] + 1, tabs[2] - tabs[1] - 1)));
  std::u16string_view rest = text.substr(tabs[2] + 1);
  size_t fourth = rest.find(u'\t');
  if (fourth != std::u16string_view::npos) {
    if (!hasLineEnd) return OXMDL_ERR_CLS_FILE_FORMAT;
    rule->ulFolderID = numberOf(rest.substr(0, fourth));
    rule->ulTarget = numberOf(rest.substr(fourth + 1));
    rule->ulFormat = 0;
    return OXMDL_ERR_NONE;
  }
  if (!hasLineEnd) return OXMDL_ERR_CLS_FILE_FIELD;
  rule->ulFolderID = numberOf(rest);
  rule->ulTarget = 0;
  rule->ulFormat = 16;
  return OXMDL_ERR_CLS_FILE_OLD_LINE;
}

// Set of the rule-file objects with its lock.
struct ParamSet {
  NamedMutex mutex{L"OxClassificationParamSet Mutex"};
  RefCountedSet<std::wstring, OxClassificationParam> objects;
};

ParamSet& paramSet() {
  static ParamSet set;
  return set;
}

// Data.ini text of one key; an empty or missing value is missing.
unsigned oldValue(OxProfileManipulator& profile, const std::wstring& key, std::wstring* out) {
  if (!profile.GetPrivateProfileString(key, L"", out)) return GetOxMiddleError();
  return out->empty() ? OXMDL_ERR_CLS_FILE_FIELD : OXMDL_ERR_NONE;
}

// An unsigned decimal of only digits.
bool digitsOnly(const std::wstring& text, uint64_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + static_cast<uint64_t>(c - L'0');
  }
  *out = v;
  return v <= 0xFFFFFFFFull;
}

unsigned readOldRules(const std::wstring& path, std::vector<Rule>* rules) {
  OxProfileManipulator profile(path);
  std::wstring text;
  unsigned code = oldValue(profile, L"count", &text);
  if (code != OXMDL_ERR_NONE) return code;
  uint64_t count = 0;
  if (!digitsOnly(text, &count)) return OXMDL_ERR_CLS_FILE_FIELD;
  if (count > kMaxRules) return OXMDL_ERR_CLS_TOO_MANY;
  for (uint64_t i = 0; i < count; ++i) {
    const std::wstring n = std::to_wstring(i);
    Rule rule;
    std::wstring folder;
    if ((code = oldValue(profile, n + L"name", &rule.strName)) != OXMDL_ERR_NONE ||
        (code = oldValue(profile, n + L"field", &rule.strField)) != OXMDL_ERR_NONE ||
        (code = oldValue(profile, n + L"keyword", &rule.strKeyword)) != OXMDL_ERR_NONE ||
        (code = oldValue(profile, n + L"folderid", &folder)) != OXMDL_ERR_NONE) {
      return code;
    }
    uint64_t id = 0;
    if (!digitsOnly(folder, &id)) return OXMDL_ERR_CLS_FILE_FIELD;
    rule.ulFolderID = static_cast<uint32_t>(id);
    rule.ulTarget = kConvertedRuleTarget;
    rules->push_back(std::move(rule));
  }
  return OXMDL_ERR_NONE;
}

}  // namespace

std::string ruleFileBytes(const std::vector<Rule>& rules) {
  std::u16string units;
  for (const Rule& rule : rules) {
    units += column(rule.strName, kNameUnits) + u"\t";
    units += column(rule.strField, kFieldUnits) + u"\t";
    units += column(rule.strKeyword, kKeywordUnits) + u"\t";
    units += decimal(rule.ulFolderID) + u"\t" + decimal(rule.ulTarget) + u"\r\n";
  }
  std::string bytes;
  appendUtf16le(&bytes, units);
  return bytes;
}

unsigned convertDataIni(const std::wstring& dir) {
  const std::wstring oldPath = joinPath(dir, kOldRuleFile);
  unsigned code = preOpenCheck(oldPath);
  // A backup that would not go does not stop the conversion.
  if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_DELBAK) return code;
  std::vector<Rule> rules;
  code = readOldRules(oldPath, &rules);
  if (code != OXMDL_ERR_NONE) return code;

  const std::wstring path = joinPath(dir, kRuleFile);
  std::string bytes;
  try {
    bytes = ruleFileBytes(rules);
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_CLS_NO_MEMORY2;
  }
  File f;
  if (!f.openStream(path, "wb")) return OXMDL_ERR_CLS_FILE_OPEN;
  ScopeGuard removePartial([&] {
    f.close();
    DeleteFileW(path);
  });
  if (!f.write(bytes.data(), bytes.size()) || !f.flush()) return OXMDL_ERR_CLS_FILE_WRITE;
  removePartial.dismiss();
  f.close();
  DeleteFileW(oldPath);
  return OXMDL_ERR_NONE;
}

OxClassificationParam::OxClassificationParam(std::wstring dir)
    : dir_(std::move(dir)), file_(joinPath(dir_, kRuleFile)), mutex_(L"OxClassificationParam Mutex") {}

unsigned OxClassificationParam::read(std::vector<Rule>* rules) {
  MutexLock hold(mutex_);
  unsigned code = preOpenCheck(file_);
  if (code == OXMDL_ERR_STG_PRIM_NOFILE) {
    if (convertDataIni(dir_) != OXMDL_ERR_NONE) return OXMDL_ERR_CLS_FILE_MIGRATE;
  } else if (code != OXMDL_ERR_NONE) {
    return moduleCode(code, OXMDL_ERR_CLS_FILE_BACKUP);
  }
  File f;
  if (!f.openStream(file_, "rb")) return OXMDL_ERR_CLS_FILE_OPEN;
  rules->clear();
  UnitReader reader(f);
  std::u16string line;
  size_t count = 0;
  unsigned result = OXMDL_ERR_NONE;
  for (;;) {
    if (!reader.line(&line, kMaxLineUnits)) return OXMDL_ERR_CLS_FILE_READ;
    if (line.empty()) break;
    Rule rule;
    code = parseRuleLine(line, &rule);
    if (code == OXMDL_ERR_CLS_FILE_OLD_LINE) {
      result = code;  // reported at the end; the line counts
    } else if (code != OXMDL_ERR_NONE) {
      return code;
    }
    // Past the limit the lines are still checked and counted, but not kept.
    if (++count <= kMaxRules) rules->push_back(std::move(rule));
  }
  return count > kMaxRules ? OXMDL_ERR_CLS_TOO_MANY : result;
}

unsigned OxClassificationParam::write(const std::vector<Rule>& rules) {
  if (rules.size() > kMaxRules) return OXMDL_ERR_CLS_TOO_MANY;
  MutexLock hold(mutex_);
  unsigned code = preOpenCheck(file_);
  if (code != OXMDL_ERR_NONE) return moduleCode(code, OXMDL_ERR_CLS_FILE_BACKUP);
  std::string bytes;
  try {
    bytes = ruleFileBytes(rules);
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_CLS_NO_MEMORY2;
  }
  code = writeTemporary(file_, bytes.data(), bytes.size());
  if (code == OXMDL_ERR_STG_DISK_FULL) return OXMDL_ERR_CLS_DISK_FULL;
  if (code == OXMDL_ERR_STG_PRIM_OPEN) return OXMDL_ERR_CLS_FILE_OPEN;
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_CLS_FILE_WRITE;
  return moduleCode(commitOrDiscard(file_), OXMDL_ERR_CLS_FILE_BACKUP);
}

unsigned acquireClassificationParam(const std::wstring& dir, OxClassificationParam** out) {
  ParamSet& set = paramSet();
  MutexLock hold(set.mutex);
  return set.objects.acquire(
      dir,
      [&dir](std::unique_ptr<OxClassificationParam>* made) {
        made->reset(new (std::nothrow) OxClassificationParam(dir));
        return *made ? OXMDL_ERR_NONE : OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
      },
      out);
}

void releaseClassificationParam(const OxClassificationParam* param) {
  ParamSet& set = paramSet();
  MutexLock hold(set.mutex);
  set.objects.release(param);
}

bool classificationParamInUse(const std::wstring& dir) {
  ParamSet& set = paramSet();
  MutexLock hold(set.mutex);
  return set.objects.references(dir) > 0;
}

unsigned createEmptyRuleFile(const std::wstring& dir) {
  File f;
  return f.openStream(joinPath(dir, kRuleFile), "wb") ? OXMDL_ERR_NONE : OXMDL_ERR_CLS_CREATE;
}

unsigned removeClassificationTree(const std::wstring& dir) {
  return removeTree(dir, kClassificationTree);
}

}  // namespace oxm
