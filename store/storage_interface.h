// OxStorageInterface: the exported handle to one open storage (an account's message store).
// All interfaces opened on the same directory in a process share one internal storage.
//
// Every member but GetErrorInfo returns false, null or 0 when the interface holds no storage.
// Failures leave one OXMDL_ERR_* code (GetOxMiddleError).
#pragma once

#include <string>

#include "frame/oxerror.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"

namespace oxm {
class OxStorage;
class StoreBatch;
}  // namespace oxm

class OxStorageInterface {
 public:
  // What RecoverStorage changed; all zero means the store was already consistent.
  struct RecoveryReport {
    unsigned long repaired = 0;     // message files whose damaged header was rebuilt from the text
    unsigned long quarantined = 0;  // unusable files moved aside into the storage's Quarantine
    unsigned long refiled = 0;      // messages put back into a folder's message list
    unsigned long removed = 0;      // files that held nothing: messages created but never written
    unsigned long rebuilt = 0;      // index files rewritten (lists, header caches, entry index, status)
    unsigned long folders = 0;      // folders no child list named, put back under the root
    bool changed() const { return repaired || quarantined || refiled || removed || rebuilt || folders; }
  };

  explicit OxStorageInterface(oxm::OxStorage* storage);
  // Releases the storage. The last release of a storage with open folders or messages fails
  // (OXMDL_ERR_STG_FOLDERSET / OXMDL_ERR_STG_MESSAGESET) and leaves it open.
  ~OxStorageInterface();
  OxStorageInterface(const OxStorageInterface&) = delete;
  OxStorageInterface& operator=(const OxStorageInterface&) = delete;

  // Storages are made with their account; both return false and set no code.
  static bool CreateStorage(const std::wstring& path);
  static bool DestroyStorage(const std::wstring& path);

  OxFolderInterface* OpenRootFolder();
  // Above 65535 (the virtual folders included): OXMDL_ERR_STG_NO_FOLDER.
  OxFolderInterface* OpenFolder(unsigned long id);
  // Above 65535: OXMDL_ERR_STG_NO_MESSAGE; no entry: OXMDL_ERR_STG_ENTRY_FREE.
  OxMessageInterface* OpenMessage(unsigned long id);
  bool RemoveMessage(unsigned long id);
  bool MoveMessage(unsigned long id, unsigned long folderId);
  // Folders beyond the root and the four trays.
  unsigned long GetUserFolderCnt();
  // Rebuilds a folder's header cache from its message files. Needs the registered codec
  // (OXMDL_ERR_MEM_SHORTAGE without one).
  bool RestoreFolderMessageHeader(unsigned long folderId);
  // Rebuilds a folder's message list from the entry index and the message files, then its
  // header cache; message files that cannot be used are dropped with their entries.
  bool RecoverMessageEntry(unsigned long folderId);
  // Repairs the whole storage (its folder tree, message files, lists, entry index, status files
  // and header caches). Unusable files are moved into S\Quarantine, never deleted; a message no
  // folder lists goes to the folder its entry or a header cache names, else to the root's first
  // child (the inbox).
  bool RecoverMessageEntryAll();
  // The same, adding what it did to *report (null: OXMDL_ERR_STG_INVALID_ARG).
  bool RecoverStorage(RecoveryReport* report);
  // Whether a failure with `errorCode` is one that RecoverMessageEntry mends.
  bool CheckWantRecoverEntry(unsigned long errorCode);
  unsigned long GetErrorInfo();

 private:
  friend class oxm::StoreBatch;
  oxm::OxStorage* storage_;
};
