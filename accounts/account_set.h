// The account objects shared by OxAccountInfoInterface, the process-wide set that counts them,
// and the account name table. None of these is locked: the callers of account operations use
// one thread at a time.
#pragma once

#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "accounts/account_info.h"
#include "frame/profile.h"
#include "frame/refset.h"
#include "frame/safefile.h"

namespace oxm {

// The account's file names and the subdirectory keys with the names written at creation.
inline constexpr const wchar_t* kAccountInfoFile = L"AccountInfo.ini";
inline constexpr const wchar_t* kLastUidFile = L"LastUID.ini";
inline constexpr const wchar_t* kUidListFile = L"UID.list";

struct PartKey {
  const wchar_t* key;
  const wchar_t* name;  // written at creation; also taken when the key is absent
};
inline constexpr PartKey kStoragePart{L"strStorageDirName", L"Storage"};
inline constexpr PartKey kClassificationPart{L"strClassificationDirName", L"Classification"};
inline constexpr PartKey kSignaturePart{L"strSignatureDirName", L"Signature"};

// One account: its directory (DataPath + directory name, no trailing separator) and its
// settings file. Invariant: path() never changes; every interface on the directory shares it,
// from any thread, so a call keeps its scratch data on its own stack.
class OxAccountInfo {
 public:
  using Attributes = OxAccountInfoInterface::Attributes;

  explicit OxAccountInfo(std::wstring path);

  const std::wstring& path() const { return path_; }
  std::wstring file(const wchar_t* name) const;

  // *guidMalformed: guidNetworkSetting was selected and its text did not parse (the field is
  // kept; the read still succeeds).
  unsigned readAttributes(Attributes* attrs, bool* guidMalformed);
  unsigned writeAttributes(Attributes& attrs);
  unsigned saveLastUid(const std::string& uid);
  unsigned lastUid(std::wstring* uid);
  unsigned uidList(std::list<std::wstring>* uids);
  unsigned saveUidList(const std::list<std::wstring>& uids);

 private:
  Flush lastUidFlush();
  void flushLastUid();

  std::wstring path_;
  OxProfileManipulator profile_;  // guarded by its named mutex
  std::mutex lastUidLock_;        // guards the three below
  RewriteSeries lastUidSeries_;   // a run's rewrites, ended by the UID list's save or a read
  std::chrono::steady_clock::time_point lastUidFlushed_{};
  bool lastUidPending_ = false;  // LastUID.ini was rewritten since its last flush
};

// The full path of a part's subdirectory, from its key in the account's AccountInfo.ini:
// profile codes pass through, other read failures and names that are not one plain path
// component are OXMDL_ERR_ACC_PART_KEY.
unsigned partPathOf(const std::wstring& accountPath, const PartKey& part, std::wstring* path);

// Open accounts by directory path, counted; the last release deletes the object.
RefCountedSet<std::wstring, OxAccountInfo>& accountSet();
// The account at `path` (an existing directory), made when the set has none: OXMDL_ERR_ACC_OPEN
// when the directory is not there.
unsigned acquireAccount(const std::wstring& path, OxAccountInfo** out);

// Removes the account directory at `path`: each part (storage, rules, signatures) is asked to
// let go of its subdirectory first (OXMDL_ERR_ACC_DELETE_BUSY, nothing removed), then the parts'
// trees and the account's (OXMDL_ERR_ACC_DELETE). The name table is the caller's.
unsigned removeAccountTree(const std::wstring& path);

// The entries of DataPath that are account directories (attributes exactly "directory"), in
// listing order. None: OXMDL_ERR_ACC_NONE; the listing failed: OXMDL_ERR_ACC_FIND.
unsigned listAccountDirectories(const std::wstring& dataPath, std::vector<std::wstring>* dirs);

// The process-wide name table: display name -> directory name, the set of directory names,
// and whether it has been built. It remembers the DataPath it was built from: an operation on
// another DataPath (the feed program's key) rebuilds it first, so names of one key never answer
// for another.
class AccountNameTable {
 public:
  // Builds the table from the files when it is not built for this DataPath. An empty DataPath
  // is an empty table for `tolerateEmpty` callers (creation), OXMDL_ERR_ACC_NONE otherwise.
  unsigned ensureBuilt(const std::wstring& dataPath, bool tolerateEmpty);
  unsigned rebuild(const std::wstring& dataPath, bool tolerateEmpty);
  void markNotBuilt() { built_ = false; }
  bool built() const { return built_; }

  const std::wstring* directoryOf(const std::wstring& name) const;
  bool holdsDirectory(const std::wstring& directory) const { return directories_.count(directory) != 0; }
  size_t directoryCount() const { return directories_.size(); }
  // Enters name -> directory (a name already present keeps its directory) and the directory.
  void enter(const std::wstring& name, const std::wstring& directory);
  bool rename(const std::wstring& oldName, const std::wstring& newName);
  // Removes the name and its directory.
  void remove(const std::wstring& name);
  // Display names in the order they were entered.
  const std::vector<std::wstring>& names() const { return order_; }

 private:
  std::wstring dataPath_;
  bool built_ = false;
  std::map<std::wstring, std::wstring> byName_;
  std::set<std::wstring> directories_;
  std::vector<std::wstring> order_;
};

AccountNameTable& nameTable();

}  // namespace oxm
