#include "frame/profile.h"

#include <cstdlib>
#include <cwchar>
#include <new>
#include <string_view>
#include <vector>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "frame/textconv.h"
#include "platform/fs.h"
#include "platform/mutex.h"

using oxm::File;

namespace {

// Single writes need this much free space beyond the file's own length.
constexpr uint64_t kSpareBytes = 0x7F000;
const std::u16string kKeyLinePrefix = u"key1=";
const std::u16string kCrLf = u"\r\n";
const std::u16string kBomLine = u"\uFEFF\r\n";

// The line scrambling: its own inverse for every unit in U+0020..U+FFEF.
std::u16string scramble(int key, std::u16string_view line) {
  std::u16string out(line.size(), u'\0');
  for (size_t i = 0; i < line.size(); ++i) {
    int v = (key - static_cast<int>(line[i]) + 65519) % 65488 + 32;
    out[i] = static_cast<char16_t>(v & 0xFFFF);
  }
  return out;
}

// One line of the file as read: its text without CR LF, and where it ends in the file (after
// its line feed, in bytes).
struct Line {
  std::u16string text;
  size_t end;
};

// The file as UTF-16LE units split at line feeds; a trailing odd byte is not text and is left
// out. Returns false with the platform error set when the file cannot be opened or read.
bool readLines(const std::wstring& path, std::string* raw, std::vector<Line>* lines) {
  File f;
  if (!f.openStream(path, "rb")) return false;
  uint64_t size = 0;
  if (!f.size(&size)) return false;
  raw->resize(size);
  if (size != 0 && !f.readAll(raw->data(), size)) return false;
  const std::u16string units = oxm::utf16leUnits(raw->data(), raw->size());
  std::u16string current;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    if (c != u'\n') {
      current += c;
      continue;
    }
    if (!current.empty() && current.back() == u'\r') current.pop_back();
    lines->push_back({std::move(current), 2 * (i + 1)});
    current.clear();
  }
  if (!current.empty()) lines->push_back({std::move(current), units.size() * 2});
  return true;
}

bool startsWith(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The decimal number a key line carries; like the runtime's conversion, no digits give 0.
int keyOf(std::u16string_view keyLine) {
  int key = 0;
  for (size_t i = kKeyLinePrefix.size(); i < keyLine.size(); ++i) {
    char16_t c = keyLine[i];
    if (c < u'0' || c > u'9') break;
    key = key * 10 + (c - u'0');
    if (key > 0xFFFF) break;
  }
  return key;
}

bool isKeyLine(std::u16string_view line) { return startsWith(line, kKeyLinePrefix); }

// The line of `key`: it starts with the key, followed at once by "=".
bool isLineOf(std::u16string_view line, std::u16string_view key) {
  return line.size() > key.size() && line[key.size()] == u'=' && startsWith(line, key);
}

std::u16string freshKeyLine(int key) {
  return kKeyLinePrefix + oxm::toUtf16(std::to_wstring(key));
}

int freshKey() { return std::rand() % 13 + 2; }

bool hasEquals(const std::wstring& key) { return key.find(L'=') != std::wstring::npos; }

void setError(unsigned code) { SetOxMiddleError(code); }

// A rewrite needs the file to exist (measured through an unshared open) and the store's free
// space to exceed its length plus the margin.
bool roomToRewrite(const std::wstring& path, unsigned missingCode, unsigned fullCode) {
  uint64_t length = 0;
  File measure;
  if (!measure.open(path, oxm::GENERIC_READ, 0, oxm::OPEN_EXISTING) || !measure.size(&length)) {
    setError(missingCode);
    return false;
  }
  measure.close();
  uint64_t freeBytes = 0;
  if (!oxm::GetDiskFreeSpaceExW(path, &freeBytes) || freeBytes <= length + kSpareBytes) {
    setError(fullCode);
    return false;
  }
  return true;
}

// The pre-open check's outcomes under the single operations' own codes. A backup that could
// not be deleted (DELBAK) passes unchanged: the file itself is whole.
unsigned singleCode(unsigned repair) {
  switch (repair) {
    case OXMDL_ERR_STG_PRIM_DELTMP: return OXMDL_ERR_INI_DELTMP;
    case OXMDL_ERR_STG_PRIM_COMMIT:
    case OXMDL_ERR_STG_PRIM_RESTORE: return OXMDL_ERR_INI_RESTORE;
    case OXMDL_ERR_STG_PRIM_NOFILE: return OXMDL_ERR_INI_NOFILE;
    default: return repair;
  }
}

// The written temporary file replaces the file in one step, retried while either is busy
// (`maxRetries` -1: no limit). A crash before the step leaves the file and a stale temporary
// file, which the next pre-open check deletes.
bool replaceWithTemporary(const std::wstring& path, int maxRetries, unsigned failCode) {
  if (!oxm::deleteAndRenameRetrying(path, oxm::temporaryPath(path), maxRetries)) {
    setError(failCode);
    return false;
  }
  oxm::syncDirectoryOf(path);
  return true;
}

// "1" is true, "0" false, anything else leaves the default.
bool boolFrom(const std::u16string& text, bool def) {
  if (text == u"1") return true;
  if (text == u"0") return false;
  return def;
}

// An unsigned decimal number; 0 counts only as the one-character text "0", so "", "00" and
// text that is not a number give the default.
unsigned long ulongFrom(const std::u16string& text, unsigned long def) {
  std::wstring wide = oxm::fromUtf16(text);
  unsigned long v = std::wcstoul(wide.c_str(), nullptr, 10);
  if (v == 0 && text.size() != 1) return def;
  return v;
}

std::u16string textOf(const ProfileItem& item) {
  switch (item.type) {
    case PROFILE_ITEM_ULONG: return oxm::toUtf16(std::to_wstring(item.ulValue));
    case PROFILE_ITEM_BOOL: return item.bValue ? u"1" : u"0";
    default: return oxm::toUtf16(item.strValue);
  }
}

}  // namespace

OxProfileManipulator::OxProfileManipulator(std::wstring path)
    : path_(std::move(path)),
      tmpPath_(oxm::temporaryPath(path_)),
      mutex_(new oxm::NamedMutex(L"OxProfileManipulator Mutex")) {}

OxProfileManipulator::~OxProfileManipulator() { delete mutex_; }

bool OxProfileManipulator::readText(const std::u16string& key, std::u16string* value) {
  // A companion that could not be deleted is reported but does not stop the read.
  const unsigned repair = singleCode(oxm::preOpenCheck(path_));
  if (repair == OXMDL_ERR_INI_RESTORE || repair == OXMDL_ERR_INI_NOFILE) {
    setError(repair);
    return false;
  }
  if (repair != OXMDL_ERR_NONE) setError(repair);
  std::string raw;
  std::vector<Line> lines;
  if (!readLines(path_, &raw, &lines)) {
    setError(OXMDL_ERR_INI_OPEN_READ);
    return false;
  }
  int current = 1;
  for (const Line& line : lines) {
    std::u16string plain = scramble(current, line.text);
    if (isKeyLine(plain)) current = keyOf(plain);
    if (isLineOf(plain, key)) {
      *value = plain.substr(key.size() + 1);
      break;
    }
  }
  return true;
}

bool OxProfileManipulator::GetPrivateProfileString(const std::wstring& key, const std::wstring& def,
                                                   std::wstring* out) {
  oxm::MutexLock hold(*mutex_);
  if (hasEquals(key)) {
    setError(OXMDL_ERR_INI_KEY_INVALID);
    return false;
  }
  std::u16string value;
  if (!readText(oxm::toUtf16(key), &value)) return false;
  *out = value.empty() ? def : oxm::fromUtf16(value);
  return true;
}

bool OxProfileManipulator::writeText(const std::u16string& key, const std::u16string& value) {
  if (!roomToRewrite(path_, OXMDL_ERR_INI_SIZE, OXMDL_ERR_INI_DISK_FULL)) return false;
  if (key.find(u'=') != std::u16string::npos) {
    setError(OXMDL_ERR_INI_KEY_INVALID);
    return false;
  }
  const unsigned repair = singleCode(oxm::preOpenCheck(path_));
  if (repair == OXMDL_ERR_INI_NOFILE) {
    // The file vanished since it was measured: start it again with only its BOM line.
    setError(OXMDL_ERR_INI_NOFILE);
    std::string bom;
    oxm::appendUtf16le(&bom, kBomLine);
    if (oxm::replaceFile(path_, bom.data(), bom.size()) != OXMDL_ERR_NONE) {
      setError(OXMDL_ERR_INI_WRITE);
      return false;
    }
  } else if (repair == OXMDL_ERR_INI_DELTMP || repair == OXMDL_ERR_INI_RESTORE) {
    setError(repair);
    return false;
  }

  std::string raw;
  std::vector<Line> lines;
  if (!readLines(path_, &raw, &lines)) {
    setError(OXMDL_ERR_INI_OPEN);
    return false;
  }
  std::string out;
  out.reserve(raw.size() + 2 * (key.size() + value.size() + 3));
  int current = 1;
  bool keyLineDone = false;
  bool matched = false;
  for (const Line& line : lines) {
    std::u16string plain = scramble(current, line.text);
    if (isKeyLine(plain)) {
      // The first key line is kept, scrambled with the key before it; later ones are dropped
      // so that every following line stays under the one key in force.
      if (!keyLineDone) {
        oxm::appendUtf16le(&out, line.text);
        oxm::appendUtf16le(&out, kCrLf);
        current = keyOf(plain);
        keyLineDone = true;
      }
      continue;
    }
    if (isLineOf(plain, key)) {
      oxm::appendUtf16le(&out, scramble(current, key + u"=" + value));
      oxm::appendUtf16le(&out, kCrLf);
      out.append(raw, line.end, std::string::npos);
      matched = true;
      break;
    }
    oxm::appendUtf16le(&out, line.text);
    oxm::appendUtf16le(&out, kCrLf);
  }
  if (!matched) oxm::appendUtf16le(&out, scramble(current, key + u"=" + value));

  if (oxm::writeTemporary(path_, out.data(), out.size()) != OXMDL_ERR_NONE) {
    setError(OXMDL_ERR_INI_WRITE);
    return false;
  }
  return replaceWithTemporary(path_, 100, OXMDL_ERR_INI_COMMIT);
}

bool OxProfileManipulator::WritePrivateProfileString(const std::wstring& key, const std::wstring& value) {
  oxm::MutexLock hold(*mutex_);
  return writeText(oxm::toUtf16(key), oxm::toUtf16(value));
}

bool OxProfileManipulator::GetPrivateProfileBool(const std::wstring& key, const bool& def, bool* out) {
  std::wstring text;
  if (!GetPrivateProfileString(key, def ? L"1" : L"0", &text)) return false;
  *out = boolFrom(oxm::toUtf16(text), def);
  return true;
}

bool OxProfileManipulator::GetPrivateProfileULong(const std::wstring& key, const unsigned long& def,
                                                  unsigned long* out) {
  std::wstring text;
  if (!GetPrivateProfileString(key, std::to_wstring(def), &text)) return false;
  *out = ulongFrom(oxm::toUtf16(text), def);
  return true;
}

bool OxProfileManipulator::WritePrivateProfileBool(const std::wstring& key, const bool& value) {
  return WritePrivateProfileString(key, value ? L"1" : L"0");
}

bool OxProfileManipulator::WritePrivateProfileULong(const std::wstring& key, const unsigned long& value) {
  return WritePrivateProfileString(key, std::to_wstring(value));
}

bool OxProfileManipulator::CreateNewProfile() {
  oxm::MutexLock hold(*mutex_);
  std::string out;
  oxm::appendUtf16le(&out, kBomLine);
  oxm::appendUtf16le(&out, scramble(1, freshKeyLine(freshKey())));
  oxm::appendUtf16le(&out, kCrLf);
  if (oxm::replaceFile(path_, out.data(), out.size()) != OXMDL_ERR_NONE) {
    setError(OXMDL_ERR_INI_WRITE);
    return false;
  }
  return true;
}

bool OxProfileManipulator::loadMap() {
  unsigned code = oxm::preOpenCheck(path_);
  if (code != OXMDL_ERR_NONE) {
    setError(code);
    return false;
  }
  map_.clear();
  std::string raw;
  std::vector<Line> lines;
  if (!readLines(path_, &raw, &lines)) {
    setError(OXMDL_ERR_INI_BATCH_OPEN);
    return false;
  }
  int current = 1;
  for (const Line& line : lines) {
    std::u16string plain = scramble(current, line.text);
    if (isKeyLine(plain)) {
      current = keyOf(plain);
      continue;
    }
    size_t eq = plain.find(u'=');
    if (eq == std::u16string::npos) continue;
    map_.emplace(plain.substr(0, eq), plain.substr(eq + 1));  // the first of duplicates wins
  }
  return true;
}

bool OxProfileManipulator::ReadProfileItems(std::list<ProfileItem>& items) {
  oxm::MutexLock hold(*mutex_);
  if (!loadMap()) return false;
  for (ProfileItem& item : items) {
    auto it = map_.find(oxm::toUtf16(item.strKey));
    if (it == map_.end()) continue;
    switch (item.type) {
      case PROFILE_ITEM_ULONG: item.ulValue = ulongFrom(it->second, item.ulValue); break;
      case PROFILE_ITEM_BOOL: item.bValue = boolFrom(it->second, item.bValue); break;
      default: item.strValue = oxm::fromUtf16(it->second); break;
    }
  }
  return true;
}

bool OxProfileManipulator::WriteProfileItems(std::list<ProfileItem>& items) {
  oxm::MutexLock hold(*mutex_);
  std::list<ProfileItem> batch;
  batch.swap(items);  // the caller's list is empty on every return
  for (const ProfileItem& item : batch) {
    if (hasEquals(item.strKey)) {
      setError(OXMDL_ERR_INI_KEY_INVALID);
      return false;
    }
  }
  if (!roomToRewrite(path_, OXMDL_ERR_INI_BATCH_SIZE, OXMDL_ERR_INI_BATCH_DISK_FULL)) return false;
  if (!loadMap()) return false;
  for (const ProfileItem& item : batch) map_[oxm::toUtf16(item.strKey)] = textOf(item);

  const int key = freshKey();
  std::string header, keyLine, body;
  try {
    oxm::appendUtf16le(&header, kBomLine);
    oxm::appendUtf16le(&keyLine, scramble(1, freshKeyLine(key)));
    oxm::appendUtf16le(&keyLine, kCrLf);
    for (const auto& [name, value] : map_) {
      oxm::appendUtf16le(&body, scramble(key, name + u"=" + value));
      oxm::appendUtf16le(&body, kCrLf);
    }
  } catch (const std::bad_alloc&) {
    setError(OXMDL_ERR_INI_NO_MEMORY);
    return false;
  }
  File tmp;
  ScopeGuard dropTemporary([&] {  // a temporary file not written whole is not left behind
    if (!tmp.isOpen()) return;
    tmp.close();
    oxm::DeleteFileW(tmpPath_);
  });
  unsigned failed = OXMDL_ERR_NONE;
  if (!tmp.openStream(tmpPath_, "wb") || !tmp.write(header.data(), header.size())) {
    failed = OXMDL_ERR_INI_BATCH_HEADER;
  } else if (!tmp.write(keyLine.data(), keyLine.size())) {
    failed = OXMDL_ERR_INI_BATCH_KEYLINE;
  } else if (!tmp.write(body.data(), body.size()) || !tmp.flush()) {
    failed = OXMDL_ERR_INI_WRITE;
  }
  if (failed != OXMDL_ERR_NONE) {
    setError(failed);
    return false;
  }
  tmp.close();
  dropTemporary.dismiss();
  // A reader holding the file only delays the replacement; any other failure ends it.
  return replaceWithTemporary(path_, -1, OXMDL_ERR_INI_BATCH_COMMIT);
}
