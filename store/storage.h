// OxStorage, one open storage directory (its folder set and message set), and the process-wide
// storage set that shares one OxStorage among every open of the same directory.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "store/folderset.h"
#include "store/messageset.h"
#include "store/storage_interface.h"

namespace oxm {

class OxStorage {
 public:
  explicit OxStorage(std::wstring dir);
  OxStorage(const OxStorage&) = delete;
  OxStorage& operator=(const OxStorage&) = delete;

  // Opens the folder set, then the message set; the first failure's code. A status file that is
  // missing or does not parse, an entry index of the wrong size, or an index that does not count
  // as many messages as the status says (a crash between two writes) makes the open repair the
  // whole store first (repair.h); what it did is kept in healed().
  unsigned open();
  void close();
  // Writes the index changes a batch held back (message lists, DATA\Status.txt), each merged
  // with what another process wrote meanwhile; the first failure's code.
  unsigned writeHeldBack();

  const std::wstring& directory() const { return dir_; }
  FolderSet& folders() { return folders_; }
  MessageSet& messages() { return messages_; }
  // What the repair at open changed (all zero when there was none), handed out once.
  OxStorageInterface::RecoveryReport takeHealed() { return std::exchange(healed_, {}); }

 private:
  bool indexAgrees();

  const std::wstring dir_;
  FolderSet folders_;
  MessageSet messages_;
  OxStorageInterface::RecoveryReport healed_;
};

// Invariants, under "OxStorageSet Mutex": each directory path appears in at most one record;
// a record's count is the number of opens not yet released, and its storage is open.
class StorageSet {
 public:
  static StorageSet& instance();

  unsigned open(const std::wstring& dir, OxStorage** out);
  // The last release closes the storage, unless folders (OXMDL_ERR_STG_FOLDERSET) or messages
  // (OXMDL_ERR_STG_MESSAGESET) of it are open; an unknown storage is OXMDL_ERR_STG_NOT_OPEN.
  unsigned release(OxStorage* storage);
  // Whether a storage of this directory is open in this process.
  bool isOpen(const std::wstring& dir);
  // Lets go of the directory before it is removed: a storage of it that no interface holds any
  // more (its last release was refused while folders or messages were open, and they are
  // closed now) is closed here. True when no storage of the directory is open afterwards.
  bool letGo(const std::wstring& dir);

 private:
  StorageSet() = default;
  struct Record {
    std::wstring dir;
    std::unique_ptr<OxStorage> storage;
    int refs;
  };
  // Closes a record's storage at count 0 unless folders or messages of it are open.
  unsigned closeRecord(std::vector<Record>::iterator it);

  NamedMutex mutex_{L"OxStorageSet Mutex"};
  std::vector<Record> records_;
};

// The exported handle for an open storage (the account's OpenStorage uses it too): opens
// `dir` in the storage set and wraps it; null with the code set on failure.
OxStorageInterface* openStorageInterface(const std::wstring& dir);

}  // namespace oxm
