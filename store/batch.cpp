#include "store/batch.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "frame/oxerror.h"
#include "platform/fs.h"
#include "store/folder.h"
#include "store/storage.h"

namespace oxm {

namespace {

constexpr const wchar_t* kLockName = L"\\Batch.lock";

std::wstring directoryOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// One storage's open batch.
struct Batch {
  std::wstring dir;
  int depth = 0;
  bool ending = false;           // the held-back index changes are being written
  OxStorage* storage = nullptr;  // held open in the storage set while the batch runs
  File lock;
  std::set<std::wstring> created;             // message files the batch made
  std::set<std::wstring> pending;             // of those, written since the last commit
  std::map<std::wstring, std::wstring> dirs;  // directory -> a file in it, entries changed since the last commit
  std::set<std::wstring> index;               // index files written unflushed
};

// The open batches of the process; `active` lets the writers skip the lock when there are none.
std::mutex registryLock;
std::vector<std::unique_ptr<Batch>> registry;
std::atomic<int> active{0};

// The batch whose storage holds `path` (the caller holds registryLock).
Batch* batchOf(const std::wstring& path) {
  for (auto& b : registry) {
    if (path.size() > b->dir.size() && path.compare(0, b->dir.size(), b->dir) == 0 && path[b->dir.size()] == L'\\') {
      return b.get();
    }
  }
  return nullptr;
}

// Flushes a file written earlier; one that is gone since needs nothing.
bool flushFile(const std::wstring& path) {
  if (!syncEnabled()) return true;
  File f;
  if (!f.open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return f.flush();
}

unsigned commitLocked(Batch& b) {
  unsigned code = OXMDL_ERR_NONE;
  for (const std::wstring& path : b.pending) {
    if (!flushFile(path)) code = OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
  }
  for (const auto& [dir, file] : b.dirs) {
    if (!syncDirectoryOf(file)) code = OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
  }
  if (code == OXMDL_ERR_NONE) {
    b.pending.clear();
    b.dirs.clear();
  }
  return code;
}

// `code`: the failure of writing the held-back index changes, if any (the lock file then stays).
unsigned finishLocked(Batch& b, unsigned code) {
  const unsigned committed = commitLocked(b);
  if (code == OXMDL_ERR_NONE) code = committed;
  std::set<std::wstring> dirs;
  for (const std::wstring& path : b.index) {
    if (!flushFile(path) && code == OXMDL_ERR_NONE) code = OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY;
    // The replaced lists and status files are new directory entries.
    if (dirs.insert(directoryOf(path)).second && !syncDirectoryOf(path) && code == OXMDL_ERR_NONE) {
      code = OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY;
    }
  }
  b.lock.close();
  if (code == OXMDL_ERR_NONE) {
    // Everything is on the disk: the lock file no longer stands for work to repair.
    const std::wstring lock = b.dir + kLockName;
    DeleteFileW(lock);
    syncDirectoryOf(lock);
  }
  return code;
}

}  // namespace

StoreBatch::StoreBatch(OxStorageInterface* storage) {
  if (storage && storage->storage_) start(storage->storage_->directory());
}

StoreBatch::StoreBatch(OxFolderInterface* folder) {
  if (folder && folder->folder_) start(folder->folder_->folderSet()->storageDir());
}

void StoreBatch::start(const std::wstring& storageDir) {
  dir_ = storageDir;
  std::lock_guard<std::mutex> g(registryLock);
  if (Batch* b = batchOf(dir_ + L"\\x")) {
    ++b->depth;
    open_ = true;
    return;
  }
  auto b = std::make_unique<Batch>();
  b->dir = dir_;
  b->depth = 1;
  const std::wstring lock = dir_ + kLockName;
  // Held exclusively: a batch of another process on the same storage keeps this one out (its
  // work is then flushed as outside a batch), and a held lock file is not taken for a dead one.
  if (!b->lock.open(lock, GENERIC_WRITE, 0, CREATE_ALWAYS)) return;
  if (!syncDirectoryOf(lock) || StorageSet::instance().open(dir_, &b->storage) != OXMDL_ERR_NONE) {
    b->lock.close();
    DeleteFileW(lock);
    return;
  }
  registry.push_back(std::move(b));
  ++active;
  open_ = true;
}

StoreBatch::~StoreBatch() { finish(); }

unsigned StoreBatch::commitMessages() {
  if (!open_) return OXMDL_ERR_NONE;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(dir_ + L"\\x");
  return b ? commitLocked(*b) : OXMDL_ERR_NONE;
}

unsigned StoreBatch::finish() {
  if (!open_) return OXMDL_ERR_NONE;
  open_ = false;
  OxStorage* storage = nullptr;
  {
    std::lock_guard<std::mutex> g(registryLock);
    Batch* b = batchOf(dir_ + L"\\x");
    if (!b || b->depth > 1) {
      if (b) --b->depth;
      return OXMDL_ERR_NONE;
    }
    b->ending = true;
    storage = b->storage;
  }
  // Written outside the registry lock: the writers ask the batch how to flush.
  unsigned code = storage->writeHeldBack();
  {
    std::lock_guard<std::mutex> g(registryLock);
    Batch* b = batchOf(dir_ + L"\\x");
    if (--b->depth > 0) {
      b->ending = false;  // another batch joined meanwhile: it ends the batch
      return code;
    }
    code = finishLocked(*b, code);
    for (auto it = registry.begin(); it != registry.end(); ++it) {
      if (it->get() == b) {
        registry.erase(it);
        break;
      }
    }
    --active;
  }
  StorageSet::instance().release(storage);
  return code;
}

namespace batch {

Flush indexFile(const std::wstring& path) {
  if (active.load() == 0) return Flush::Now;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(path);
  if (!b) return Flush::Now;
  b->index.insert(path);
  return Flush::Deferred;
}

bool defers(const std::wstring& path) {
  if (active.load() == 0) return false;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(path);
  return b && !b->ending;
}

Flush messageFile(const std::wstring& path, bool dataFlushed) {
  if (active.load() == 0) return Flush::Now;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(path);
  if (!b || !b->created.count(path)) return Flush::Now;
  if (!dataFlushed) b->pending.insert(path);
  b->dirs.emplace(directoryOf(path), path);
  return Flush::Deferred;
}

void createdMessage(const std::wstring& path, bool newDirectory) {
  if (active.load() == 0) return;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(path);
  if (!b) return;
  b->created.insert(path);
  if (newDirectory) {
    const std::wstring dir = directoryOf(path);
    b->dirs.emplace(directoryOf(dir), dir);
  }
}

void beforeMessageDelete(const std::wstring& path) {
  if (active.load() == 0) return;
  std::lock_guard<std::mutex> g(registryLock);
  Batch* b = batchOf(path);
  if (b && (!b->pending.empty() || !b->dirs.empty())) commitLocked(*b);
}

namespace {

// A batch that runs holds its lock file; a file nobody holds was left by one that died.
enum class LockFile { Absent, Held, Left };

LockFile lockFile(const std::wstring& storageDir) {
  const std::wstring lock = storageDir + kLockName;
  if (GetFileAttributesW(lock) == INVALID_FILE_ATTRIBUTES) return LockFile::Absent;
  File f;
  return f.open(lock, GENERIC_READ, 0, OPEN_EXISTING) ? LockFile::Left : LockFile::Held;
}

}  // namespace

bool running(const std::wstring& storageDir) { return lockFile(storageDir) == LockFile::Held; }

bool leftBehind(const std::wstring& storageDir) { return lockFile(storageDir) == LockFile::Left; }

void clearLeftBehind(const std::wstring& storageDir) {
  const std::wstring lock = storageDir + kLockName;
  if (DeleteFileW(lock)) syncDirectoryOf(lock);
}

}  // namespace batch

}  // namespace oxm
