#include "accounts/account_set.h"

#include <algorithm>
#include <array>
#include <new>

#include "accounts/commit.h"
#include "accounts/key_table.h"
#include "accounts/paths.h"
#include "accounts/utf16_bytes.h"
#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "frame/textconv.h"
#include "platform/fs.h"

namespace oxm {

namespace {

using Attributes = OxAccountInfoInterface::Attributes;

constexpr std::array kAccountKeys = {
#define OXM_ACCOUNT_KEY(bit, type, name, def) keyRow(bit, L"" #name, &Attributes::name, def),
#include "accounts/account_keys.inc"
#undef OXM_ACCOUNT_KEY
};
static_assert(ascendingBits(kAccountKeys), "account_keys.inc: bits ascending, each once");
static_assert(fullMask(kAccountKeys) == 0x77EFFFFFFFFull, "bits 0-42 but 32 and 39");

// LastUID.ini holds one UID (at most 70 characters); only its first part is looked at.
constexpr size_t kLastUidReadBytes = 64 * 1024;
// UID.list of a large mailbox: 64 MiB holds about 400,000 UIDs of 70 characters.
constexpr uint64_t kUidListMaxBytes = 64ull << 20;

const std::string kCrLf16("\r\0\n\0", 4);

bool isProfileCode(unsigned code) {
  return code >= OXMDL_ERR_INI_KEY_INVALID && code <= OXMDL_ERR_INI_BATCH_COMMIT;
}

}  // namespace

OxAccountInfo::OxAccountInfo(std::wstring path)
    : path_(std::move(path)), profile_(joinPath(path_, kAccountInfoFile)) {}

std::wstring OxAccountInfo::file(const wchar_t* name) const { return joinPath(path_, name); }

unsigned OxAccountInfo::readAttributes(Attributes* attrs, bool* guidMalformed) {
  *guidMalformed = false;
  const uint64_t mask = attrs->mask;
  attrs->mask = 0;
  if (mask == 0) return OXMDL_ERR_ACC_GET_NOMASK;
  // The batch is the call's own: threads share this object.
  std::list<ProfileItem> items;
  for (const auto& row : kAccountKeys) {
    if (mask & row.maskBit()) items.push_back(readItem(row));
  }
  if (!profile_.ReadProfileItems(items)) return GetOxMiddleError();
  auto item = items.begin();
  for (const auto& row : kAccountKeys) {
    if (!(mask & row.maskBit())) continue;
    if (!takeItem(row, *item++, attrs)) *guidMalformed = true;
  }
  return OXMDL_ERR_NONE;
}

unsigned OxAccountInfo::writeAttributes(Attributes& attrs) {
  const uint64_t mask = attrs.mask;
  attrs.mask = 0;
  if (mask == 0) return OXMDL_ERR_ACC_SET_NOMASK;
  std::list<ProfileItem> items;
  for (const auto& row : kAccountKeys) {
    if (mask & row.maskBit()) items.push_back(writeItem(row, attrs));
  }
  if (profile_.WriteProfileItems(items)) return OXMDL_ERR_NONE;
  unsigned code = GetOxMiddleError();
  return code == OXMDL_ERR_INI_BATCH_DISK_FULL ? code : OXMDL_ERR_ACC_SET;
}

unsigned OxAccountInfo::saveLastUid(const std::string& uid) {
  std::wstring wide;
  unsigned code = multiToWide(uid, &wide);
  if (code == OXMDL_ERR_CONV_MTOW_SIZE) return OXMDL_ERR_ACC_UID_MTOW_SIZE;
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_ACC_UID_MTOW;
  const std::string bytes = utf16Bytes(wide);
  // Replaced through LastUID.ini_tmp, so that a crash never leaves half a UID behind; rewritten
  // again and again during a retrieval, so both files stay open for the next write.
  const Flush flush = lastUidFlush();
  {
    std::lock_guard<std::mutex> g(lastUidLock_);
    code = lastUidSeries_.rewrite(file(kLastUidFile), bytes.data(), bytes.size(), flush);
  }
  if (code == OXMDL_ERR_NONE || code == OXMDL_ERR_STG_DISK_FULL) return code;
  return OXMDL_ERR_ACC_CREATE_UIDFILE;
}

// LastUID.ini is flushed at most once a second, and by the UID list's save that ends a
// retrieval. A retriever writes a UID only after its message is on the disk, so a power cut
// can take back at most the last second's UIDs: those messages come again, none is lost. A
// crash of the process loses nothing (the file is written each time).
Flush OxAccountInfo::lastUidFlush() {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> g(lastUidLock_);
  if (now - lastUidFlushed_ < std::chrono::seconds(1)) {
    lastUidPending_ = true;
    return Flush::Deferred;
  }
  lastUidFlushed_ = now;
  lastUidPending_ = false;
  return Flush::Now;
}

// Flushes a LastUID.ini written without a flush (its directory entry: the caller's).
void OxAccountInfo::flushLastUid() {
  {
    std::lock_guard<std::mutex> g(lastUidLock_);
    if (!lastUidPending_) return;
    lastUidPending_ = false;
    lastUidFlushed_ = std::chrono::steady_clock::now();
  }
  File f;
  if (f.open(file(kLastUidFile), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) f.flush();
}

unsigned OxAccountInfo::lastUid(std::wstring* uid) {
  const std::wstring path = file(kLastUidFile);
  // A reader in this process ends the series, so that the check may repair with LastUID.ini_tmp.
  {
    std::lock_guard<std::mutex> g(lastUidLock_);
    lastUidSeries_.close();
  }
  unsigned code = preOpenCheck(path);
  // LastUID.ini_tmp held by a retrieval's series of rewrites: LastUID.ini is whole all the same.
  if (code == OXMDL_ERR_STG_PRIM_DELTMP) code = OXMDL_ERR_NONE;
  if (code == OXMDL_ERR_STG_PRIM_NOFILE) {
    std::wstring old;
    if (!profile_.GetPrivateProfileString(L"strLastUid", L"", &old)) return GetOxMiddleError();
    *uid = old;
    return OXMDL_ERR_NONE;
  }
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_ACC_LASTUID_READ;
  File f;
  uint64_t size = 0;
  if (!f.openStream(path, "rb") || !f.size(&size)) return OXMDL_ERR_ACC_LASTUID_READ;
  std::string bytes(std::min<uint64_t>(size, kLastUidReadBytes), '\0');
  size_t got = 0;
  if (!f.read(bytes.data(), bytes.size(), &got)) return OXMDL_ERR_ACC_LASTUID_READ;
  std::wstring text = textOfUtf16(bytes.data(), got);
  *uid = text.substr(0, text.find_first_of(L"\r\n"));
  return OXMDL_ERR_NONE;
}

unsigned OxAccountInfo::uidList(std::list<std::wstring>* uids) {
  const std::wstring path = file(kUidListFile);
  unsigned code = preOpenCheck(path);
  if (code == OXMDL_ERR_STG_PRIM_NOFILE) return OXMDL_ERR_NONE;
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_FILE_OPEN;
  File f;
  uint64_t size = 0;
  if (!f.openStream(path, "rb") || !f.size(&size) || size > kUidListMaxBytes) {
    return OXMDL_ERR_FILE_OPEN;
  }
  std::string bytes(size, '\0');
  if (size != 0 && !f.readAll(bytes.data(), size)) return OXMDL_ERR_FILE_OPEN;
  const std::wstring text = textOfUtf16(bytes.data(), bytes.size());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) uids->push_back(std::move(line));
    start = end + 1;
  }
  return OXMDL_ERR_NONE;
}

unsigned OxAccountInfo::saveUidList(const std::list<std::wstring>& uids) {
  for (const std::wstring& uid : uids) {
    if (uid.find_first_of(L"\r\n") != std::wstring::npos) return OXMDL_ERR_ACC_UIDL_WRITE;
  }
  // The list is saved at the end of a retrieval: the older copy of the last UID goes now, and
  // the last UID reaches the disk (the list's flush of the directory covers its name).
  {
    std::lock_guard<std::mutex> g(lastUidLock_);
    lastUidSeries_.close();
  }
  preOpenCheck(file(kLastUidFile));
  flushLastUid();
  const std::wstring path = file(kUidListFile);
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_NOFILE) return OXMDL_ERR_ACC_UIDL_OPEN;
  // The new list goes to UID.list_tmp and replaces the file whole: a crash keeps either list.
  const std::wstring tmpPath = temporaryPath(path);
  File tmp;
  if (!tmp.open(tmpPath, GENERIC_WRITE, 0, CREATE_ALWAYS)) return diskFullOr(OXMDL_ERR_ACC_UIDL_OPEN);
  ScopeGuard removeTemporary([&] {
    tmp.close();
    DeleteFileW(tmpPath);
  });
  for (const std::wstring& uid : uids) {
    const std::string bytes = utf16Bytes(uid);
    if (!tmp.write(bytes.data(), bytes.size())) return diskFullOr(OXMDL_ERR_ACC_UIDL_WRITE);
    if (!tmp.write(kCrLf16.data(), kCrLf16.size())) return diskFullOr(OXMDL_ERR_ACC_UIDL_WRITE_END);
  }
  if (!tmp.flush()) return diskFullOr(OXMDL_ERR_ACC_UIDL_WRITE);
  removeTemporary.dismiss();
  tmp.close();
  return commitOrDiscard(path) == OXMDL_ERR_NONE ? OXMDL_ERR_NONE : OXMDL_ERR_ACC_UIDL_OPEN;
}

unsigned partPathOf(const std::wstring& accountPath, const PartKey& part, std::wstring* path) {
  OxProfileManipulator profile(joinPath(accountPath, kAccountInfoFile));
  std::wstring name;
  if (!profile.GetPrivateProfileString(part.key, part.name, &name)) {
    unsigned code = GetOxMiddleError();
    return isProfileCode(code) ? code : OXMDL_ERR_ACC_PART_KEY;
  }
  if (!isPlainName(name)) return OXMDL_ERR_ACC_PART_KEY;
  *path = joinPath(accountPath, name);
  return OXMDL_ERR_NONE;
}

RefCountedSet<std::wstring, OxAccountInfo>& accountSet() {
  static RefCountedSet<std::wstring, OxAccountInfo> set;
  return set;
}

unsigned acquireAccount(const std::wstring& path, OxAccountInfo** out) {
  return accountSet().acquire(
      path,
      [&path](std::unique_ptr<OxAccountInfo>* made) {
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
          return OXMDL_ERR_ACC_OPEN;
        }
        made->reset(new (std::nothrow) OxAccountInfo(path));
        return *made ? OXMDL_ERR_NONE : OXMDL_ERR_ACC_OPEN;
      },
      out);
}

unsigned listAccountDirectories(const std::wstring& dataPath, std::vector<std::wstring>* dirs) {
  FindFile find;
  FindData entry;
  if (!find.first(dataPath + L"*.*", &entry)) {
    // An empty DataPath, or one not made yet, holds no account.
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? OXMDL_ERR_ACC_NONE
                                                                   : OXMDL_ERR_ACC_FIND;
  }
  do {
    if (entry.attributes == FILE_ATTRIBUTE_DIRECTORY) dirs->push_back(entry.name);
  } while (find.next(&entry));
  if (GetLastError() != ERROR_NO_MORE_FILES) return OXMDL_ERR_ACC_FIND;
  return dirs->empty() ? OXMDL_ERR_ACC_NONE : OXMDL_ERR_NONE;
}

unsigned AccountNameTable::ensureBuilt(const std::wstring& dataPath, bool tolerateEmpty) {
  if (built_ && dataPath_ == dataPath) return OXMDL_ERR_NONE;
  return rebuild(dataPath, tolerateEmpty);
}

unsigned AccountNameTable::rebuild(const std::wstring& dataPath, bool tolerateEmpty) {
  built_ = false;
  byName_.clear();
  directories_.clear();
  order_.clear();
  dataPath_ = dataPath;
  std::vector<std::wstring> dirs;
  unsigned code = listAccountDirectories(dataPath, &dirs);
  if (code == OXMDL_ERR_ACC_NONE && tolerateEmpty) code = OXMDL_ERR_NONE;
  if (code != OXMDL_ERR_NONE) return code;
  for (const std::wstring& dir : dirs) {
    OxProfileManipulator profile(joinPath(dataPath + dir, kAccountInfoFile));
    std::wstring display;
    if (!profile.GetPrivateProfileString(L"strAccountName", L"", &display)) display.clear();
    enter(display.empty() ? dir : display, dir);
  }
  built_ = true;
  return OXMDL_ERR_NONE;
}

const std::wstring* AccountNameTable::directoryOf(const std::wstring& name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &it->second;
}

void AccountNameTable::enter(const std::wstring& name, const std::wstring& directory) {
  // A display name met a second time stands under its directory name instead.
  const std::wstring& key = byName_.count(name) ? directory : name;
  if (!byName_.emplace(key, directory).second) return;
  directories_.insert(directory);
  order_.push_back(key);
}

bool AccountNameTable::rename(const std::wstring& oldName, const std::wstring& newName) {
  auto it = byName_.find(oldName);
  if (it == byName_.end() || byName_.count(newName)) return false;
  byName_.emplace(newName, it->second);
  byName_.erase(it);
  for (std::wstring& name : order_) {
    if (name == oldName) name = newName;
  }
  return true;
}

void AccountNameTable::remove(const std::wstring& name) {
  auto it = byName_.find(name);
  if (it == byName_.end()) return;
  directories_.erase(it->second);
  byName_.erase(it);
  std::erase(order_, name);
}

AccountNameTable& nameTable() {
  static AccountNameTable table;
  return table;
}

}  // namespace oxm
