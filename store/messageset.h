// A storage's message set: the message identifier allocator over S\DATA, the entry index
// (Entry.dat) and the open messages, each shared by every interface on it.
#pragma once

#include <string>
#include <string_view>

#include "platform/mutex.h"
#include "store/borrowed.h"
#include "store/entryindex.h"
#include "store/idtraits.h"
#include "store/messagefile.h"
#include "store/openset.h"

namespace oxm {

class FolderSet;
class OxMessage;

// Invariants, under "OxMessageSet MessageSet Mutex": open_ holds each open message once with its
// number of acquisitions; a message in it has a used entry index word.
class MessageSet {
 public:
  explicit MessageSet(const std::wstring& storageDir);
  ~MessageSet();
  MessageSet(const MessageSet&) = delete;
  MessageSet& operator=(const MessageSet&) = delete;

  // Reads DATA\Status.txt and maps Entry.dat (rebuilt when missing).
  unsigned open();
  void close();
  void setFolderSet(FolderSet* folders) { folders_ = folders; }
  FolderSet* folderSet() const { return folders_; }

  // Makes a message file holding `header` and `text` and its index entry owned by `folderId`, and
  // counts it. On failure nothing of it is left.
  unsigned create(unsigned long folderId, const MessageFileHeader& header, std::string_view text, unsigned long* id);
  // The open message `id`: OXMDL_ERR_STG_NO_MESSAGE above 65535, OXMDL_ERR_STG_ENTRY_FREE
  // without an entry. The file itself is not touched.
  unsigned acquire(unsigned long id, OxMessage** out);
  void release(OxMessage* message);
  bool isOpen(unsigned long id) { return open_.isOpen(id); }
  bool empty() { return open_.empty(); }
  // Frees the entry, deletes the file and its directory when empty (the count is the caller's).
  unsigned removeFile(unsigned long id);

  EntryIndex& entries() { return entries_; }
  OxIdTraits& ids() { return ids_; }
  NamedMutex& mutex() { return open_.mutex(); }
  const std::wstring& dataDir() const { return data_; }
  std::wstring messagePath(unsigned long id) const;

 private:
  const std::wstring data_;
  OxIdTraits ids_;
  EntryIndex entries_;
  OpenSet<OxMessage> open_;
  FolderSet* folders_ = nullptr;
};

using MessageRef = Borrowed<MessageSet, OxMessage>;

}  // namespace oxm
