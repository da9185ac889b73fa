// OxMessage: one open message, shared by every interface on it. It reads and rewrites its file
// DATA\LL\HH.eml and reaches its owning folder for the header record and the message list.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mutex.h"
#include "store/message_interface.h"
#include "store/messagefile.h"

struct FolderMsgHeader;

namespace oxm {

class MessageSet;
class OrdinaryFolder;

using MessageAttributes = OxMessageInterface::Attributes;

// The file fields that `attr`'s mask names (bits of 0x183F) set in a message file header.
void applyFileAttributes(const MessageAttributes& attr, MessageFileHeader* h);
// The header record fields that `attr`'s mask names (bits of 0x7C0) set in a record.
void applyHeaderFields(const MessageAttributes& attr, FolderMsgHeader* r);

// Invariants: folderId_ is the entry index word of id_ at open time (a message cannot move while
// it is open); readPos_ >= 256. All file access holds "OxMessage Mutex".
class OxMessage {
 public:
  OxMessage(MessageSet* set, unsigned long id, unsigned long folderId, std::wstring path);

  unsigned write(const std::string& text);
  unsigned writeEmail(Email* mail);
  unsigned read(std::string* text);
  void seekToHead();
  unsigned getAttributes(MessageAttributes* attr);
  unsigned setAttributes(const MessageAttributes& attr);
  // Strips the attachments (codec) and clears the attachment flag: OXMDL_ERR_STG_NO_ATTACHMENT
  // when the flag is not set, the codec's OXMDL_ERR_ATT_SINGLE_PART when nothing may go.
  unsigned removeAttachments();

  unsigned long id() const { return id_; }
  unsigned long folderId() const { return folderId_; }
  MessageSet* messageSet() const { return set_; }

 private:
  // The header of the file; the pre-open check has run.
  unsigned readHeader(MessageFileHeader* h, uint64_t* size);
  // inPlace (a full disk, flags only): the flag bytes are written into the file itself.
  unsigned setFileAttributes(const MessageAttributes& attr, bool inPlace, bool* unreadChanged, bool* partialChanged,
                             MessageFileHeader* result);
  unsigned setHeaderRecord(const MessageAttributes& attr);
  // Writes header + text to the temporary file and commits it.
  unsigned replaceContent(const MessageFileHeader& h, const char* text, size_t size);

  MessageSet* const set_;
  const unsigned long id_;
  const unsigned long folderId_;
  const std::wstring path_;
  const std::wstring dir_;
  uint64_t readPos_ = kMessageHeaderBytes;
  NamedMutex mutex_{L"OxMessage Mutex"};
};

}  // namespace oxm
