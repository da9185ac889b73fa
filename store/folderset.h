// A storage's folder set: the folder identifier allocator over S\TREE and the open folders,
// each shared by every interface on it and closed with the last one.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "store/borrowed.h"
#include "store/folder.h"
#include "store/idtraits.h"
#include "store/openset.h"

namespace oxm {

class MessageSet;

// Invariants, under "OxFolderSet Mutex": open_ holds each open folder once, with the number of
// acquisitions not yet released; an OrdinaryFolder in it has loaded its three files.
class FolderSet {
 public:
  explicit FolderSet(const std::wstring& storageDir);
  FolderSet(const FolderSet&) = delete;
  FolderSet& operator=(const FolderSet&) = delete;

  // Reads TREE\Status.txt.
  unsigned open();
  void setMessageSet(MessageSet* messages) { messages_ = messages; }
  MessageSet* messageSet() const { return messages_; }

  // The folder `id` (0..65535 or a virtual one), loaded on first use. A folder without a child
  // list is OXMDL_ERR_STG_NOFILE_FLD.
  unsigned acquire(unsigned long id, OxFolder** out);
  void release(OxFolder* folder);
  bool isOpen(unsigned long id) { return open_.isOpen(id); }
  bool empty() { return open_.empty(); }
  // The open folder `id` without taking a reference, or null (the caller holds mutex()).
  OxFolder* findOpen(unsigned long id) { return open_.find(id); }
  // The observers of an open virtual folder, collected for calling outside every lock.
  void notifyVirtual(unsigned long virtualId, unsigned long messageId);

  // Notes a folder whose message list a batch holds back.
  void holdList(unsigned long id);
  // Writes every list held back and TREE\Status.txt; the first failure's code.
  unsigned writeHeldBack();

  OxIdTraits& ids() { return ids_; }
  NamedMutex& mutex() { return open_.mutex(); }
  const std::wstring& storageDir() const { return storageDir_; }
  const std::wstring& treeDir() const { return tree_; }

 private:
  const std::wstring storageDir_;
  const std::wstring tree_;
  OxIdTraits ids_;
  OpenSet<OxFolder> open_{L"OxFolderSet Mutex"};
  // Ordinary folders nobody has open any more, kept with what they read: the stamps of their
  // files tell the next acquire whether it still holds, which spares reading the three files
  // again when a folder is opened and released over and over (a retrieval files every message
  // through a fresh open of its folder). Not open in any sense: isOpen() and empty() ignore them.
  std::map<unsigned long, std::unique_ptr<OxFolder>> idle_;
  // Virtual folders open: none (the usual case) lets notifyVirtual skip the named mutex, which
  // every new unread message would take. Changed under it.
  std::atomic<int> openVirtual_{0};
  MessageSet* messages_ = nullptr;
  std::mutex heldLock_;
  std::set<unsigned long> held_;  // folders whose lists a batch holds back
};

// A folder borrowed for a scope; ordinary() is null for the virtual folders.
class FolderRef : public Borrowed<FolderSet, OxFolder> {
 public:
  using Borrowed::Borrowed;
  OrdinaryFolder* ordinary() const { return dynamic_cast<OrdinaryFolder*>(get()); }
};

}  // namespace oxm
