#include "platform/registry.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>

#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "platform/env.h"
#include "platform/hostio.h"

// An opened key: the hive and the key's path in it. Declared by wintypes.h; the two predefined
// root keys are constants that never point at one.
struct HKEY__ {
  int hive;
  std::wstring path;
};

namespace oxm {

namespace {

enum : int { kCurrentUser, kLocalMachine, kHives };
const wchar_t* const kHiveNames[kHives] = {L"HKEY_CURRENT_USER", L"HKEY_LOCAL_MACHINE"};
const wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";

struct Value {
  std::wstring name;  // empty: the key's default value, "@" in the file
  DWORD type = REG_SZ;
  std::wstring text;
  DWORD number = 0;
};

// A section of the file. Path components are joined by '\'; the hive root is "".
struct Key {
  std::wstring path;
  std::vector<Value> values;
};

// A hive as its file holds it, sections and values in file order.
struct Tree {
  std::vector<Key> keys;
};

wchar_t foldCase(wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; }

// Key and value names compare case-insensitively in their ASCII letters.
bool sameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  return true;
}

// True when `path` is `ancestor` or lies below it.
bool isUnder(const std::wstring& path, const std::wstring& ancestor) {
  if (ancestor.empty()) return true;
  if (path.size() < ancestor.size()) return false;
  if (!sameName(std::wstring_view(path).substr(0, ancestor.size()), ancestor)) return false;
  return path.size() == ancestor.size() || path[ancestor.size()] == L'\\';
}

// Drops empty components: "\Software\\Tamarin\" is "Software\Tamarin".
std::wstring normalize(const std::wstring& path) {
  std::wstring out;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find(L'\\', at);
    if (end == std::wstring::npos) end = path.size();
    if (end > at) {
      if (!out.empty()) out += L'\\';
      out.append(path, at, end - at);
    }
    at = end + 1;
  }
  return out;
}

std::wstring join(const std::wstring& base, const std::wstring& subkey) {
  std::wstring rel = normalize(subkey);
  if (base.empty()) return rel;
  return rel.empty() ? base : base + L'\\' + rel;
}

Key* findKey(Tree& tree, const std::wstring& path) {
  for (Key& k : tree.keys)
    if (sameName(k.path, path)) return &k;
  return nullptr;
}

// A key exists when its section does, or a section below it (parents need no section).
bool keyExists(const Tree& tree, const std::wstring& path) {
  if (path.empty()) return true;
  for (const Key& k : tree.keys)
    if (isUnder(k.path, path)) return true;
  return false;
}

// Characters of `path` that name the same key components as the start of `other`.
size_t commonComponents(const std::wstring& path, const std::wstring& other) {
  size_t common = 0;
  for (size_t i = 0; i <= path.size() && i <= other.size(); ++i) {
    bool endA = i == path.size() || path[i] == L'\\';
    bool endB = i == other.size() || other[i] == L'\\';
    if (endA && endB) common = i;
    if (endA != endB || (!endA && foldCase(path[i]) != foldCase(other[i]))) break;
  }
  return common;
}

// A new key takes the spelling of the existing keys that share its parents.
Key& addKey(Tree& tree, const std::wstring& path) {
  if (Key* k = findKey(tree, path)) return *k;
  std::wstring spelled = path;
  for (const Key& k : tree.keys) {
    size_t common = commonComponents(path, k.path);
    spelled.replace(0, common, k.path, 0, common);
  }
  tree.keys.push_back(Key{spelled, {}});
  return tree.keys.back();
}

Value* findValue(Key& key, const std::wstring& name) {
  for (Value& v : key.values)
    if (sameName(v.name, name)) return &v;
  return nullptr;
}

// Text that a line of the file can carry: no line breaks or NULs, only real code points.
bool writable(const std::wstring& text) {
  for (wchar_t c : text) {
    auto u = static_cast<char32_t>(c);
    if (u == 0 || u == L'\r' || u == L'\n' || (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF)
      return false;
  }
  return true;
}

// ---- the file format ----

// A "..." string with \\ and \" escapes starting at text[*at]; moves *at past it.
bool parseQuoted(const std::wstring& text, size_t* at, std::wstring* out) {
  if (*at >= text.size() || text[*at] != L'"') return false;
  out->clear();
  for (size_t i = *at + 1; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'"') {
      *at = i + 1;
      return true;
    }
    if (c == L'\\') {
      if (i + 1 >= text.size() || (text[i + 1] != L'\\' && text[i + 1] != L'"')) return false;
      c = text[++i];
    }
    *out += c;
  }
  return false;
}

bool parseDword(const std::wstring& digits, DWORD* out) {
  if (digits.empty() || digits.size() > 8) return false;
  DWORD v = 0;
  for (wchar_t c : digits) {
    int d;
    if (c >= L'0' && c <= L'9')
      d = c - L'0';
    else if (c >= L'a' && c <= L'f')
      d = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F')
      d = c - L'A' + 10;
    else
      return false;
    v = v << 4 | static_cast<DWORD>(d);
  }
  *out = v;
  return true;
}

// `"name"="text"`, `"name"=dword:0000001f`, or `@=` for the default value.
bool parseValue(const std::wstring& line, Value* out) {
  size_t at = 0;
  if (line[0] == L'@') {
    out->name.clear();
    at = 1;
  } else if (!parseQuoted(line, &at, &out->name)) {
    return false;
  }
  if (at >= line.size() || line[at] != L'=') return false;
  ++at;
  static const std::wstring kDword = L"dword:";
  if (line.compare(at, kDword.size(), kDword) == 0) {
    out->type = REG_DWORD;
    return parseDword(line.substr(at + kDword.size()), &out->number);
  }
  out->type = REG_SZ;
  return parseQuoted(line, &at, &out->text) && at == line.size();
}

// Parses a hive file. False for anything this layer would not write: no header, a line that
// is not a section, a value, a blank or a ';' comment, a section of another hive, a value
// before any section, an unknown value type, invalid UTF-8.
bool parseHive(std::string bytes, const wchar_t* hiveName, Tree* out) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);  // an editor's BOM
  std::wstring text;
  if (!host::fromUtf8(bytes, &text)) return false;
  out->keys.clear();
  Key* current = nullptr;
  bool sawHeader = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t'))
      line.pop_back();
    if (!sawHeader) {
      if (line != kHeader) return false;
      sawHeader = true;
      continue;
    }
    size_t lead = line.find_first_not_of(L" \t");
    if (lead == std::wstring::npos) continue;
    line.erase(0, lead);
    if (line[0] == L';') continue;
    if (line[0] == L'[') {
      if (line.back() != L']') return false;
      std::wstring name = line.substr(1, line.size() - 2);
      std::wstring hive = hiveName;
      if (!isUnder(name, hive)) return false;
      current = &addKey(*out, normalize(name.substr(hive.size())));
      continue;
    }
    if (!current) return false;
    Value v;
    if ((line[0] != L'"' && line[0] != L'@') || !parseValue(line, &v)) return false;
    if (Value* have = findValue(*current, v.name))
      *have = v;  // the last line of a name wins, as an import would do
    else
      current->values.push_back(v);
  }
  return sawHeader;
}

void appendQuoted(std::wstring* out, const std::wstring& text) {
  *out += L'"';
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') *out += L'\\';
    *out += c;
  }
  *out += L'"';
}

// The whole file: the header, a blank line, then each section followed by a blank line.
std::string serialize(const Tree& tree, const wchar_t* hiveName) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text = kHeader;
  text += L"\r\n\r\n";
  for (const Key& k : tree.keys) {
    text += L'[';
    text += hiveName;
    if (!k.path.empty()) text += L'\\' + k.path;
    text += L"]\r\n";
    for (const Value& v : k.values) {
      if (v.name.empty())
        text += L'@';
      else
        appendQuoted(&text, v.name);
      text += L'=';
      if (v.type == REG_DWORD) {
        text += L"dword:";
        for (int shift = 28; shift >= 0; shift -= 4) text += kHex[v.number >> shift & 0xF];
      } else {
        appendQuoted(&text, v.text);
      }
      text += L"\r\n";
    }
    text += L"\r\n";
  }
  return host::utf8(text);
}

// ---- the hive files and their cache ----

struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};

  static Stamp of(const struct stat& st) {
    return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  }
  bool operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

// The clock that file times come from (the kernel stamps files with its coarse clock).
struct timespec coarseNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME_COARSE, &ts);
  return ts;
}

// A cached hive. Invariants: when `cached`, `tree` is the content of `path` as it was when its
// stamp was `stamp` (empty if `bad`); readAt is the time just before that read began.
struct HiveState {
  std::mutex m;
  bool cached = false;
  std::string path;
  Stamp stamp;
  struct timespec readAt {};
  bool bad = false;
  Tree tree;

  void forget() {
    cached = false;
    path.clear();
    bad = false;
    tree = {};
  }

  // A file changed again within the clock tick (or, with coarse file times, the second) of
  // the read can keep its stamp, so a read that close to the last change is not trusted.
  bool trusted() const {
    int64_t changed = stamp.mtime.tv_sec * 1000000000LL + stamp.mtime.tv_nsec;
    int64_t read = readAt.tv_sec * 1000000000LL + readAt.tv_nsec;
    return read - changed > 1000000000LL;
  }
};

HiveState hiveStates[kHives];

std::string registryDir() { return rootDirectory() + "/Registry"; }

std::string hivePath(int hive) {
  return registryDir() + "/" + host::utf8(kHiveNames[hive]) + ".reg";
}

bool readAll(int fd, std::string* out) {
  char buf[8192];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out->append(buf, static_cast<size_t>(n));
  }
}

// Brings h's tree up to date with the file. ERROR_BADDB when the file does not parse; a
// missing file is an empty hive.
DWORD load(int hive, HiveState& h) {
  std::string path = hivePath(hive);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return errorFromErrno(errno);
    h.forget();
    return ERROR_SUCCESS;
  }
  if (h.cached && h.path == path && h.stamp == Stamp::of(st) && h.trusted())
    return h.bad ? ERROR_BADDB : ERROR_SUCCESS;
  struct timespec before = coarseNow();
  host::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) {
    if (errno != ENOENT) return errorFromErrno(errno);
    h.forget();
    return ERROR_SUCCESS;
  }
  std::string bytes;
  if (::fstat(fd.get(), &st) != 0 || !readAll(fd.get(), &bytes)) return errorFromErrno(errno);
  h.cached = true;
  h.path = path;
  h.stamp = Stamp::of(st);
  h.readAt = before;
  h.bad = !parseHive(bytes, kHiveNames[hive], &h.tree);
  if (h.bad) h.tree = {};
  return h.bad ? ERROR_BADDB : ERROR_SUCCESS;
}

bool syncEnabled() { return getEnv("OXMIDDLE_SYNC").value_or("") != "0"; }

bool writeAllTo(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the hive file by `tree` through "<file>.tmp" and a rename; the caller holds the
// hive's file lock.
DWORD store(int hive, HiveState& h, Tree tree) {
  std::string path = hivePath(hive);
  std::string tmp = path + ".tmp";
  struct timespec before = coarseNow();
  host::Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  struct stat st;
  bool sync = syncEnabled();
  if (!fd.ok() || !writeAllTo(fd.get(), serialize(tree, kHiveNames[hive])) ||
      (sync && ::fsync(fd.get()) != 0) || ::fstat(fd.get(), &st) != 0 ||
      ::rename(tmp.c_str(), path.c_str()) != 0) {
    DWORD e = errorFromErrno(errno);
    ::unlink(tmp.c_str());
    return e;
  }
  if (sync) {
    host::Fd dir(::open(registryDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.ok()) ::fsync(dir.get());
  }
  h.cached = true;
  h.path = path;
  h.stamp = Stamp::of(st);
  h.readAt = before;
  h.bad = false;
  h.tree = std::move(tree);
  return ERROR_SUCCESS;
}

// Read-modify-write of a hive under its file lock, so that writers in other processes lose
// nothing. `change` edits a copy and sets *changed when the file must be rewritten.
DWORD modify(int hive, const std::function<DWORD(Tree&, bool*)>& change) {
  HiveState& h = hiveStates[hive];
  std::lock_guard<std::mutex> g(h.m);
  std::string lockPath = registryDir() + "/" + host::utf8(kHiveNames[hive]) + ".lock";
  host::Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.ok() && errno == ENOENT && host::makeDirectories(registryDir()))
    lock = host::Fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.ok()) return errorFromErrno(errno);
  while (::flock(lock.get(), LOCK_EX) != 0)
    if (errno != EINTR) return errorFromErrno(errno);
  if (DWORD e = load(hive, h)) return e;
  Tree tree = h.tree;
  bool changed = false;
  if (DWORD e = change(tree, &changed)) return e;
  return changed ? store(hive, h, std::move(tree)) : ERROR_SUCCESS;
}

// Renames an unparsable hive file to "<file>.damaged" (then ".damaged-1", ...) under its lock, so
// that the next write starts an empty hive.
DWORD setAside(int hive, std::string* movedTo) {
  HiveState& h = hiveStates[hive];
  std::lock_guard<std::mutex> g(h.m);
  movedTo->clear();
  struct stat st;
  if (::stat(hivePath(hive).c_str(), &st) != 0) return ERROR_SUCCESS;  // no file: nothing to set aside
  std::string lockPath = registryDir() + "/" + host::utf8(kHiveNames[hive]) + ".lock";
  host::Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.ok()) return errno == ENOENT ? ERROR_SUCCESS : errorFromErrno(errno);
  while (::flock(lock.get(), LOCK_EX) != 0)
    if (errno != EINTR) return errorFromErrno(errno);
  DWORD e = load(hive, h);
  if (e != ERROR_BADDB) return e;
  const std::string path = hivePath(hive);
  for (int n = 0; n < 1000; ++n) {
    std::string target = path + ".damaged" + (n == 0 ? std::string() : "-" + std::to_string(n));
    if (::lstat(target.c_str(), &st) == 0) continue;
    if (::rename(path.c_str(), target.c_str()) != 0) return errorFromErrno(errno);
    h.forget();
    *movedTo = target;
    return ERROR_SUCCESS;
  }
  return ERROR_ALREADY_EXISTS;
}

// Runs `look` on the current tree of a hive.
DWORD inspect(int hive, const std::function<DWORD(Tree&)>& look) {
  HiveState& h = hiveStates[hive];
  std::lock_guard<std::mutex> g(h.m);
  if (DWORD e = load(hive, h)) return e;
  return look(h.tree);
}

// ---- handles ----

std::mutex handlesLock;
std::set<HKEY> openHandles;

// The hive and path of a handle; false for a handle that is not open.
bool resolve(HKEY key, int* hive, std::wstring* path) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    *hive = key == HKEY_CURRENT_USER ? kCurrentUser : kLocalMachine;
    path->clear();
    return true;
  }
  std::lock_guard<std::mutex> g(handlesLock);
  if (openHandles.count(key) == 0) return false;
  *hive = key->hive;
  *path = key->path;
  return true;
}

HKEY newHandle(int hive, const std::wstring& path) {
  HKEY key = new HKEY__{hive, path};
  std::lock_guard<std::mutex> g(handlesLock);
  openHandles.insert(key);
  return key;
}

// Looks up one value of an existing key for the query functions.
DWORD queryValue(HKEY key, const std::wstring& name, Value* out) {
  int hive;
  std::wstring path;
  if (!resolve(key, &hive, &path)) return ERROR_INVALID_HANDLE;
  return inspect(hive, [&](Tree& tree) -> DWORD {
    Key* k = findKey(tree, path);
    Value* v = k ? findValue(*k, name) : nullptr;
    if (!v) return ERROR_FILE_NOT_FOUND;
    *out = *v;
    return ERROR_SUCCESS;
  });
}

DWORD setValue(HKEY key, const Value& value) {
  int hive;
  std::wstring path;
  if (!resolve(key, &hive, &path)) return ERROR_INVALID_HANDLE;
  if (!writable(value.name) || (value.type == REG_SZ && !writable(value.text)))
    return ERROR_INVALID_PARAMETER;
  return modify(hive, [&](Tree& tree, bool* changed) -> DWORD {
    Key& k = addKey(tree, path);
    Value* v = findValue(k, value.name);
    if (v && v->type == value.type &&
        (value.type == REG_DWORD ? v->number == value.number : v->text == value.text))
      return ERROR_SUCCESS;
    if (v) {
      v->type = value.type;  // the name keeps the case it was first written with
      v->text = value.text;
      v->number = value.number;
    } else {
      k.values.push_back(value);
    }
    *changed = true;
    return ERROR_SUCCESS;
  });
}

}  // namespace

LONG RegOpenKeyExW(HKEY root, const std::wstring& subkey, HKEY* out) {
  int hive;
  std::wstring base;
  if (!out) return ERROR_INVALID_PARAMETER;
  if (!resolve(root, &hive, &base)) return ERROR_INVALID_HANDLE;
  std::wstring path = join(base, subkey);
  DWORD e = inspect(hive, [&](Tree& tree) -> DWORD {
    return keyExists(tree, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (e == ERROR_SUCCESS) *out = newHandle(hive, path);
  return static_cast<LONG>(e);
}

LONG RegCreateKeyExW(HKEY root, const std::wstring& subkey, HKEY* out) {
  int hive;
  std::wstring base;
  if (!out) return ERROR_INVALID_PARAMETER;
  if (!resolve(root, &hive, &base)) return ERROR_INVALID_HANDLE;
  if (!writable(subkey)) return ERROR_INVALID_PARAMETER;
  std::wstring path = join(base, subkey);
  DWORD e = modify(hive, [&](Tree& tree, bool* changed) -> DWORD {
    if (!path.empty() && !findKey(tree, path)) {
      addKey(tree, path);
      *changed = true;
    }
    return ERROR_SUCCESS;
  });
  if (e == ERROR_SUCCESS) *out = newHandle(hive, path);
  return static_cast<LONG>(e);
}

LONG RegSetAsideDamagedHive(HKEY root, std::string* movedTo) {
  if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  return static_cast<LONG>(setAside(root == HKEY_CURRENT_USER ? kCurrentUser : kLocalMachine, movedTo));
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> g(handlesLock);
    if (openHandles.erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryString(HKEY key, const std::wstring& name, std::wstring* out, DWORD maxBytes) {
  if (!out) return ERROR_INVALID_PARAMETER;
  Value v;
  if (DWORD e = queryValue(key, name, &v)) return static_cast<LONG>(e);
  if (v.type != REG_SZ) return ERROR_INVALID_PARAMETER;
  uint64_t units = 1;  // the terminating NUL
  for (wchar_t c : v.text) units += static_cast<char32_t>(c) > 0xFFFF ? 2 : 1;
  if (units * 2 > maxBytes) return ERROR_MORE_DATA;
  *out = std::move(v.text);
  return ERROR_SUCCESS;
}

LONG RegQueryDword(HKEY key, const std::wstring& name, DWORD* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  Value v;
  if (DWORD e = queryValue(key, name, &v)) return static_cast<LONG>(e);
  if (v.type != REG_DWORD) return ERROR_INVALID_PARAMETER;
  *out = v.number;
  return ERROR_SUCCESS;
}

LONG RegQueryType(HKEY key, const std::wstring& name, DWORD* type) {
  if (!type) return ERROR_INVALID_PARAMETER;
  Value v;
  if (DWORD e = queryValue(key, name, &v)) return static_cast<LONG>(e);
  *type = v.type;
  return ERROR_SUCCESS;
}

LONG RegSetString(HKEY key, const std::wstring& name, const std::wstring& value) {
  Value v;
  v.name = name;
  v.type = REG_SZ;
  v.text = value;
  return static_cast<LONG>(setValue(key, v));
}

LONG RegSetDword(HKEY key, const std::wstring& name, DWORD value) {
  Value v;
  v.name = name;
  v.type = REG_DWORD;
  v.number = value;
  return static_cast<LONG>(setValue(key, v));
}

LONG RegDeleteValueW(HKEY key, const std::wstring& name) {
  int hive;
  std::wstring path;
  if (!resolve(key, &hive, &path)) return ERROR_INVALID_HANDLE;
  return static_cast<LONG>(modify(hive, [&](Tree& tree, bool* changed) -> DWORD {
    Key* k = findKey(tree, path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (sameName(it->name, name)) {
        k->values.erase(it);
        *changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }));
}

LONG RegDeleteTree(HKEY root, const std::wstring& subkey) {
  int hive;
  std::wstring base;
  if (!resolve(root, &hive, &base)) return ERROR_INVALID_HANDLE;
  std::wstring path = join(base, subkey);
  // An empty subkey empties the key itself (values and subkeys) but keeps it.
  bool keepKey = normalize(subkey).empty();
  return static_cast<LONG>(modify(hive, [&](Tree& tree, bool* changed) -> DWORD {
    if (!keyExists(tree, path)) return ERROR_FILE_NOT_FOUND;
    std::vector<Key> kept;
    for (Key& k : tree.keys) {
      bool below = isUnder(k.path, path);
      bool self = below && k.path.size() == path.size();
      if (self && keepKey) {
        *changed = *changed || !k.values.empty();
        k.values.clear();
        kept.push_back(std::move(k));
      } else if (below) {
        *changed = true;
      } else {
        kept.push_back(std::move(k));
      }
    }
    tree.keys = std::move(kept);
    return ERROR_SUCCESS;
  }));
}

}  // namespace oxm
