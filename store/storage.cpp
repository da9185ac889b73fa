#include "store/storage.h"

#include <new>

#include "frame/oxerror.h"

namespace oxm {

OxStorage::OxStorage(std::wstring dir) : dir_(std::move(dir)), folders_(dir_), messages_(dir_) {
  folders_.setMessageSet(&messages_);
  messages_.setFolderSet(&folders_);
}

unsigned OxStorage::open() {
  unsigned code = folders_.open();
  if (code != OXMDL_ERR_NONE) return code;
  return messages_.open();
}

void OxStorage::close() { messages_.close(); }

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
