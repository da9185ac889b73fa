// OxFolderInterface: the exported handle to one open folder of a storage, and the header record
// (FolderMsgHeader) that a folder's header cache keeps for each of its messages.
//
// Every member returns false, null or 0 when the interface holds no folder, without touching the
// last-error code. Failures leave one OXMDL_ERR_* code (GetOxMiddleError); a null pointer
// argument is OXMDL_ERR_STG_INVALID_ARG. Every change writes its files before the call returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "platform/wintypes.h"

namespace oxm {
class MessageMaker;
class OxFolder;
class StoreBatch;
}  // namespace oxm

class OxMessageInterface;

// One message's list-view header, 1180 bytes, as stored in the folder's header cache
// (little-endian, UTF-16 text). Addresses hold at most 256 characters (NUL-terminated when
// shorter); a name or subject of 31 characters or more is cut to 30 followed by U+2026 and no
// terminator.
struct FolderMsgHeader {
  uint32_t messageId;
  char16_t toAddress[256];
  char16_t toAddressEnd;  // always 0
  char16_t fromAddress[256];
  char16_t fromAddressEnd;
  char16_t fromName[31];
  char16_t fromNameEnd;
  char16_t subject[31];
  char16_t subjectEnd;
  SYSTEMTIME date;  // UTC in the file; local time when loaded by LoadMessageHeader
  uint32_t reserved;
};
static_assert(sizeof(FolderMsgHeader) == 1180, "the header record is 1180 bytes");

class OxFolderInterface {
 public:
  // Change notifications, called on the thread that made the change. Slot 0: a child folder
  // was created, removed, or moved away or in; slot 1: a message was created in the folder, or
  // (on the virtual folders 0x10001 and 0x10002) a message's partial or unread flag changed.
  struct Notify {
    virtual void FolderChanged(unsigned long folderId) = 0;
    virtual void MessageChanged(unsigned long messageId) = 0;

   protected:
    ~Notify() = default;
  };

  struct FolderAttributes {
    // The leading word is neither read nor written by the library; callers may keep their own
    // value there.
    unsigned int reserved = 0;
    std::wstring name;
  };

  explicit OxFolderInterface(oxm::OxFolder* folder);
  // Unregisters this interface's notification and hands the folder back to its folder set.
  ~OxFolderInterface();
  OxFolderInterface(const OxFolderInterface&) = delete;
  OxFolderInterface& operator=(const OxFolderInterface&) = delete;

  // A child, or the virtual folders 0x10001 / 0x10002 from any folder. Above 65535:
  // OXMDL_ERR_STG_NO_FOLDER; not a child: OXMDL_ERR_STG_NOT_CHILD.
  OxFolderInterface* OpenFolder(unsigned long id);
  // Needs fewer than 20 user folders (OXMDL_ERR_STG_FOLDER_LIMIT) and 512000 bytes free. A name
  // that cannot be one line of the child list (CR, LF, NUL, over 252 bytes in the system code
  // page) is OXMDL_ERR_STG_FILE_FMTILLGL_FLD.
  bool CreateFolder(const std::wstring& name, unsigned long* id);
  // Removes a child and its messages (not its own children). An open child:
  // OXMDL_ERR_STG_FOLDER_OPEN.
  bool RemoveFolder(unsigned long id);
  bool MoveFolder(unsigned long id, OxFolderInterface* to);
  unsigned long GetUnreadCount();
  bool ReadFolderAttributes(unsigned long id, FolderAttributes* attr) const;
  bool WriteFolderAttributes(unsigned long id, const FolderAttributes& attr);
  // Child identifiers ascending; the root adds 0x10001 and 0x10002.
  bool GetFolderIds(std::vector<unsigned long>* ids) const;
  // The message list in order. A header cache whose live records differ in number:
  // OXMDL_ERR_STG_HEADER_MISMATCH (the list is still filled).
  bool GetMessageIds(std::vector<unsigned long>* ids);
  OxMessageInterface* OpenMessage(unsigned long id);
  // 1000 messages already: OXMDL_ERR_STG_FOLDER_FULL.
  bool CreateMessage(unsigned long* id);
  // The same after checking room for `size` bytes and compacting the header cache.
  bool CreateMessage(unsigned long* id, unsigned long size);
  // Every identifier must be in this folder and not open; otherwise nothing is removed.
  bool RemoveMessage(std::vector<unsigned long>& ids);
  bool RemoveMessage(unsigned long id);
  bool MoveMessage(std::vector<unsigned long>& ids, OxFolderInterface* to);
  bool MoveMessage(unsigned long id, OxFolderInterface* to);
  // Needs the registered codec (OXMDL_ERR_MEM_SHORTAGE without one).
  bool RemoveAttachments(std::vector<unsigned long>& ids, std::vector<unsigned long>* failed);
  unsigned long GetRemainMessageCount();
  // Copies `count` header records; `count` must be the number of live records (or of all
  // records). Dates come back in local time. When messages were added to the folder since the
  // caller's GetMessageIds (by another process), the records of that older list are given.
  bool LoadMessageHeader(FolderMsgHeader* buf, unsigned long count);
  bool FlushMessageHeader();
  // One notification per interface: a second one is OXMDL_ERR_STG_NOTIFY_BUSY.
  bool RegisterNotify(Notify* notify);
  bool UnregisterNotify(Notify* notify);
  unsigned long GetErrorInfo();

 private:
  friend class oxm::MessageMaker;
  friend class oxm::StoreBatch;
  oxm::OxFolder* folder_;
  Notify* notify_ = nullptr;
};
