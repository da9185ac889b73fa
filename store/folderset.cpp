#include "store/folderset.h"

#include <memory>

#include "frame/oxerror.h"

namespace oxm {

FolderSet::FolderSet(const std::wstring& storageDir)
    : storageDir_(storageDir), tree_(storageDir + L"\\TREE"), ids_(tree_, StoreFile::TreeStatus) {}

unsigned FolderSet::open() { return ids_.load(); }

unsigned FolderSet::acquire(unsigned long id, OxFolder** out) {
  if (id > kMaxId && !isVirtualFolder(id)) return OXMDL_ERR_STG_NO_FOLDER;
  MutexLock lock(open_.mutex());
  return open_.acquire(id, [&](std::unique_ptr<OxFolder>* made) -> unsigned {
    if (isVirtualFolder(id)) {
      *made = std::make_unique<VirtualFolder>(this, id);
      ++openVirtual_;
      return OXMDL_ERR_NONE;
    }
    std::unique_ptr<OrdinaryFolder> folder;
    if (auto idle = idle_.find(id); idle != idle_.end()) {
      folder.reset(static_cast<OrdinaryFolder*>(idle->second.release()));
      idle_.erase(idle);
    } else {
      folder = std::make_unique<OrdinaryFolder>(this, id);
    }
    unsigned code = folder->load();
    if (code != OXMDL_ERR_NONE) return code;
    *made = std::move(folder);
    return OXMDL_ERR_NONE;
  }, out);
}

void FolderSet::release(OxFolder* folder) {
  MutexLock lock(open_.mutex());
  std::unique_ptr<OxFolder> last = open_.releaseLast(folder);
  if (!last) return;
  if (isVirtualFolder(last->id())) {
    --openVirtual_;
  } else {
    idle_[last->id()] = std::move(last);
  }
}

void FolderSet::holdList(unsigned long id) {
  std::lock_guard<std::mutex> g(heldLock_);
  held_.insert(id);
}

unsigned FolderSet::writeHeldBack() {
  std::set<unsigned long> held;
  {
    std::lock_guard<std::mutex> g(heldLock_);
    held.swap(held_);
  }
  unsigned code = OXMDL_ERR_NONE;
  for (unsigned long id : held) {
    FolderRef folder(*this);
    unsigned written = folder.acquire(id);
    if (written == OXMDL_ERR_STG_NOFILE_FLD) continue;  // removed meanwhile, with its list
    if (written == OXMDL_ERR_NONE) written = folder.ordinary()->writeHeldBackList();
    if (code == OXMDL_ERR_NONE) code = written;
  }
  const unsigned status = ids_.writeHeldBack();
  return code != OXMDL_ERR_NONE ? code : status;
}

void FolderSet::notifyVirtual(unsigned long virtualId, unsigned long messageId) {
  if (openVirtual_.load() == 0) return;
  OxFolder* folder = nullptr;
  {
    MutexLock lock(open_.mutex());
    if (!open_.find(virtualId) || acquire(virtualId, &folder) != OXMDL_ERR_NONE) return;
  }
  folder->notifyMessageChange(messageId);
  release(folder);
}

}  // namespace oxm
