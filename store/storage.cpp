#include "store/storage.h"

#include <new>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/message_codec.h"
#include "store/repair.h"

namespace oxm {

OxStorage::OxStorage(std::wstring dir) : dir_(std::move(dir)), folders_(dir_), messages_(dir_) {
  folders_.setMessageSet(&messages_);
  messages_.setFolderSet(&folders_);
}

namespace {

// A status file that is missing or does not parse: what a crash or a damaged disk leaves. Its
// content is only a count and a starting point for new identifiers, both of which the repair
// recomputes from the tree.
bool damagedStatus(unsigned code, StoreFile kind) {
  return code == fileCode(OXMDL_ERR_STG_PRIM_READ, kind) || code == fileCode(OXMDL_ERR_STG_PRIM_NOFILE, kind);
}

unsigned resetStatus(const std::wstring& base, StoreFile kind) {
  const DWORD attributes = GetFileAttributesW(base);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return fileCode(OXMDL_ERR_STG_PRIM_NOFILE, kind);
  }
  NKDbgPrintfW(L"OxStorage::open() %ls\\Status.txt damaged, rebuilt\r\n", base.c_str());
  const std::string text = OxIdTraits::statusText(0, 0);
  return fileCode(replaceFile(base + L"\\Status.txt", text.data(), text.size()), kind);
}

}  // namespace

unsigned OxStorage::open() {
  // A batch that died may have left index files that never reached the disk.
  const bool batchDied = batch::leftBehind(dir_);
  bool damaged = batchDied;
  unsigned code = folders_.open();
  if (damagedStatus(code, StoreFile::TreeStatus)) {
    damaged = true;
    code = resetStatus(folders_.treeDir(), StoreFile::TreeStatus);
    if (code == OXMDL_ERR_NONE) code = folders_.open();
  }
  if (code != OXMDL_ERR_NONE) return code;
  code = messages_.ids().load();
  if (damagedStatus(code, StoreFile::DataStatus)) {
    damaged = true;
    code = resetStatus(messages_.dataDir(), StoreFile::DataStatus);
    if (code == OXMDL_ERR_NONE) code = messages_.ids().load();
  }
  if (code != OXMDL_ERR_NONE) return code;
  code = messages_.entries().open();
  if (code == OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY || code == OXMDL_ERR_STG_FILEIO_FILE_READ_ENTRY) {
    // An entry index of the wrong size is set aside and made again; the repair below refills it
    // from the folders' lists.
    damaged = true;
    const std::wstring index = messages_.entries().path();
    if (!quarantineFile(dir_, index, L"Entry.dat")) return code;
    code = messages_.entries().open();
  }
  if (code != OXMDL_ERR_NONE) return code;
  // A batch of another process holds its count back until it ends.
  if (!damaged && !batch::running(dir_) && !indexAgrees()) damaged = true;
  if (damaged && messageCodec()) {
    code = repairStorage(*this, defaultFallbackFolder(*this), &healed_);
    if (code != OXMDL_ERR_NONE) {
      close();
      return code;
    }
    if (batchDied) batch::clearLeftBehind(dir_);
  }
  return OXMDL_ERR_NONE;
}

// The entry index names as many messages as the message status counts. They differ after a
// crash between the two writes of a creation or a removal, or when the index was damaged; both
// are compared under the locks that creation and removal hold across those writes.
bool OxStorage::indexAgrees() {
  NamedMutex listMutex(L"OxMessageEntry Mutex");
  NamedMutex headerMutex(L"OxMessageHeader Mutex");
  MutexLock l1(listMutex);
  MutexLock l2(headerMutex);
  MutexLock l3(messages_.mutex());
  MutexLock l4(messages_.ids().mutex());
  unsigned long used = 0;
  for (unsigned long id = 0; id <= kMaxId; ++id) {
    if (messages_.entries().owner(id) != kEntryFree) ++used;
  }
  return used == messages_.ids().count();
}

void OxStorage::close() { messages_.close(); }

unsigned OxStorage::writeHeldBack() {
  const unsigned code = folders_.writeHeldBack();
  const unsigned status = messages_.ids().writeHeldBack();
  return code != OXMDL_ERR_NONE ? code : status;
}

StorageSet& StorageSet::instance() {
  // Made on first use and kept to the end of the process, like the device's global set.
  static StorageSet* set = new StorageSet;
  return *set;
}

unsigned StorageSet::open(const std::wstring& dir, OxStorage** out) {
  MutexLock lock(mutex_);
  for (Record& r : records_) {
    if (r.dir == dir) {
      ++r.refs;
      *out = r.storage.get();
      return OXMDL_ERR_NONE;
    }
  }
  std::unique_ptr<OxStorage> storage;
  try {
    storage = std::make_unique<OxStorage>(dir);
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  unsigned code = storage->open();
  if (code != OXMDL_ERR_NONE) return code;
  try {
    records_.push_back({dir, std::move(storage), 1});
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  *out = records_.back().storage.get();
  return OXMDL_ERR_NONE;
}

unsigned StorageSet::release(OxStorage* storage) {
  MutexLock lock(mutex_);
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    if (it->storage.get() != storage) continue;
    // A refused close keeps the record at count 0: the next open counts from there and its
    // release tries again.
    if (it->refs > 0) --it->refs;
    if (it->refs > 0) return OXMDL_ERR_NONE;
    return closeRecord(it);
  }
  return OXMDL_ERR_STG_NOT_OPEN;
}

unsigned StorageSet::closeRecord(std::vector<Record>::iterator it) {
  if (!it->storage->folders().empty()) return OXMDL_ERR_STG_FOLDERSET;
  if (!it->storage->messages().empty()) return OXMDL_ERR_STG_MESSAGESET;
  it->storage->close();
  records_.erase(it);
  return OXMDL_ERR_NONE;
}

bool StorageSet::isOpen(const std::wstring& dir) {
  MutexLock lock(mutex_);
  for (const Record& r : records_) {
    if (r.dir == dir) return true;
  }
  return false;
}

bool StorageSet::letGo(const std::wstring& dir) {
  MutexLock lock(mutex_);
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    if (it->dir != dir) continue;
    return it->refs == 0 && closeRecord(it) == OXMDL_ERR_NONE;
  }
  return true;
}

OxStorageInterface* openStorageInterface(const std::wstring& dir) {
  OxStorage* storage = nullptr;
  unsigned code = StorageSet::instance().open(dir, &storage);
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return nullptr;
  }
  OxStorageInterface* wrapped = new (std::nothrow) OxStorageInterface(storage);
  if (!wrapped) {
    StorageSet::instance().release(storage);
    SetOxMiddleError(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  }
  return wrapped;
}

}  // namespace oxm
