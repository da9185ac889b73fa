// The internal folder objects that OxFolderInterface wraps: OxFolder (the base, whose operations
// do nothing and report that the folder has no such content), OrdinaryFolder (the root and every
// real folder, backed by its .fld, .msg and .fdb) and VirtualFolder (0x10001 partial and 0x10002
// unread, which have no files and gather their messages from the whole tree).
//
// Lock order, for every path through the store (all mutexes are named, shared by every object
// of their class and by every process), with the members that hold them: "OxMessage Mutex"
// (OxMessage::mutex_), "OxFolderSet Mutex" (FolderSet::open_), "OxFolderEntry Mutex"
// (OrdinaryFolder::entryMutex_), "OxMessageEntry Mutex" (OrdinaryFolder::listMutex_),
// "OxMessageHeader Mutex" (OrdinaryFolder::headerMutex_), "OxMessageSet MessageSet Mutex"
// (MessageSet::open_), "OxIdTraits Mutex" (OxIdTraits::mutex_), "OxMessageSet MessageEntry
// Mutex" (EntryIndex::mutex_). A mutex is taken only while holding those before it (or itself
// again); observers are called after every lock is released.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filestamp.h"
#include "platform/mutex.h"
#include "store/folder_interface.h"
#include "store/folderfiles.h"
#include "store/headercache.h"
#include "store/message.h"

namespace oxm {

class FolderSet;
class MessageSet;
class OxMessage;

inline constexpr unsigned long kRootFolder = 0;
inline constexpr unsigned long kPartialFolder = 0x10001;
inline constexpr unsigned long kUnreadFolder = 0x10002;
inline constexpr size_t kMaxMessagesPerFolder = 1000;
inline constexpr bool isVirtualFolder(unsigned long id) { return id == kPartialFolder || id == kUnreadFolder; }
// The names the system gives the two virtual folders.
const std::wstring& virtualFolderName(unsigned long id);

using FolderNotify = OxFolderInterface::Notify;

class OxFolder {
 public:
  OxFolder(FolderSet* set, unsigned long id) : set_(set), id_(id) {}
  virtual ~OxFolder() = default;
  OxFolder(const OxFolder&) = delete;
  OxFolder& operator=(const OxFolder&) = delete;

  virtual unsigned getChildIds(std::vector<unsigned long>* ids);
  // A child, or a virtual folder from any folder; *out is acquired from the folder set.
  unsigned openChild(unsigned long id, OxFolder** out);
  virtual unsigned createFolder(const std::wstring& name, unsigned long* id);
  virtual unsigned removeFolder(unsigned long id);
  virtual unsigned moveFolder(unsigned long id, OxFolder* to);
  virtual unsigned unreadCount(unsigned long* count);
  // A child's name, or a virtual folder's from any folder.
  unsigned readFolderAttributes(unsigned long id, std::wstring* name);
  virtual unsigned writeFolderAttributes(unsigned long id, const std::wstring& name);
  virtual unsigned getMessageIds(std::vector<unsigned long>* ids);
  virtual unsigned openMessage(unsigned long id, OxMessage** out);
  // `initial` (may be null): attributes the new message has from the start, written with its
  // files as SetAttributes right after the creation would leave them, notifications included.
  // `text`: what Write right after would store (up to its first NUL), in the file from the start.
  virtual unsigned createMessage(unsigned long* id, std::optional<unsigned long> size,
                                 const MessageAttributes* initial = nullptr, std::string_view text = {});
  virtual unsigned removeMessages(std::vector<unsigned long>& ids);
  // Removes one message and tells the observers of this folder and of the virtual folder of
  // each flag the message had.
  virtual unsigned removeOneMessage(unsigned long id);
  virtual unsigned moveMessages(std::vector<unsigned long>& ids, OxFolder* to);
  virtual unsigned removeAttachments(std::vector<unsigned long>& ids, std::vector<unsigned long>* failed);
  virtual unsigned remainMessageCount(unsigned long* count);
  virtual unsigned loadMessageHeader(FolderMsgHeader* buf, unsigned long count);

  unsigned registerNotify(FolderNotify* notify);
  unsigned unregisterNotify(FolderNotify* notify);
  void notifyFolderChange(unsigned long folderId);
  void notifyMessageChange(unsigned long messageId);

  unsigned long id() const { return id_; }
  FolderSet* folderSet() const { return set_; }
  MessageSet* messageSet() const;

 protected:
  virtual bool hasChild(unsigned long id, std::wstring* name);

 private:
  FolderSet* const set_;
  const unsigned long id_;
  std::mutex notifyLock_;  // guards notifies_ within the process
  std::vector<FolderNotify*> notifies_;
};

// Invariants (each under its mutex):
// - children_ is ascending by identifier and equals the .fld that childStamp_ names; the same
//   for messages_ (list order) and the .msg, and for headers_ and the .fdb. A stamp that no
//   longer matches (another process rewrote the file) makes the next use read the file again.
// - Every identifier in messages_ has its entry index word equal to id() and, once the call that
//   made it returned, exactly one live record in headers_.
// - While a batch holds the list back (listHeld_), messages_ is ahead of the .msg, which still
//   holds heldBase_; a .msg that another process rewrote meanwhile is merged in when read.
class OrdinaryFolder : public OxFolder {
 public:
  OrdinaryFolder(FolderSet* set, unsigned long id);

  // Reads the three files.
  unsigned load();

  unsigned getChildIds(std::vector<unsigned long>* ids) override;
  unsigned createFolder(const std::wstring& name, unsigned long* id) override;
  unsigned removeFolder(unsigned long id) override;
  unsigned moveFolder(unsigned long id, OxFolder* to) override;
  unsigned unreadCount(unsigned long* count) override;
  unsigned writeFolderAttributes(unsigned long id, const std::wstring& name) override;
  unsigned getMessageIds(std::vector<unsigned long>* ids) override;
  unsigned openMessage(unsigned long id, OxMessage** out) override;
  unsigned createMessage(unsigned long* id, std::optional<unsigned long> size,
                         const MessageAttributes* initial = nullptr, std::string_view text = {}) override;
  unsigned removeMessages(std::vector<unsigned long>& ids) override;
  unsigned removeOneMessage(unsigned long id) override;
  unsigned moveMessages(std::vector<unsigned long>& ids, OxFolder* to) override;
  unsigned removeAttachments(std::vector<unsigned long>& ids, std::vector<unsigned long>* failed) override;
  unsigned remainMessageCount(unsigned long* count) override;
  unsigned loadMessageHeader(FolderMsgHeader* buf, unsigned long count) override;

  // For the messages of this folder.
  unsigned readHeaderRecord(unsigned long messageId, FolderMsgHeader* out);
  unsigned writeHeaderRecord(const FolderMsgHeader& record);
  // Mirrors a message's flags in its message-list line (rewritten only when they differ).
  unsigned setMessageFlags(unsigned long messageId, bool unread, bool partial);
  // The message list with its flags (virtual folders gather from it).
  unsigned messageLines(std::vector<MessageLine>* lines);
  // Writes the message list a batch held back; a folder removed meanwhile has nothing to write.
  unsigned writeHeldBackList();

  // The three file paths of folder `id`.
  static std::wstring childListPath(const std::wstring& tree, unsigned long id);
  static std::wstring messageListPath(const std::wstring& tree, unsigned long id);
  static std::wstring headerCachePath(const std::wstring& tree, unsigned long id);
  // Makes a new folder's three files (empty lists, an empty header cache); on failure removes
  // what it made. Codes of the kinds, or OXMDL_ERR_STG_DISK_FULL.
  static unsigned createFiles(const std::wstring& tree, unsigned long id);
  // Deletes a folder's three files and its directory when empty.
  static void deleteFiles(const std::wstring& tree, unsigned long id);
  // Rewrites a folder's message list crash-safely (codes of the message list).
  static unsigned writeMessageListFile(const std::wstring& path, const std::vector<MessageLine>& lines);

 protected:
  bool hasChild(unsigned long id, std::wstring* name) override;

 private:
  unsigned createFolderLocked(const std::wstring& name, unsigned long* newId);
  unsigned createMessageLocked(unsigned long* newId, std::optional<unsigned long> size,
                               const MessageAttributes* initial, std::string_view text, MessageLine* line);
  unsigned refreshChildren();
  unsigned refreshMessages();
  unsigned refreshHeaders();
  // Rebuilds the header cache when it holds more or fewer live records than the list, unless a
  // batch runs on the storage (its records come before its list); the caller holds the list and
  // header locks.
  unsigned mendHeaders();
  unsigned writeChildren(const std::vector<ChildEntry>& children);
  unsigned writeMessages(const std::vector<MessageLine>& lines);
  unsigned storeMessages(const std::vector<MessageLine>& lines);
  // Steps 2 to 5 of removing messages whose identifiers were checked; the caller holds the
  // message-list, header and message-set locks.
  unsigned removeChecked(const std::vector<unsigned long>& ids);
  // Every identifier in this folder's list and not open; duplicates dropped.
  unsigned checkMovable(std::vector<unsigned long>& ids);
  bool lineOf(unsigned long messageId, MessageLine* line) const;

  const std::wstring tree_;
  const std::wstring fld_;
  const std::wstring msg_;
  NamedMutex entryMutex_{L"OxFolderEntry Mutex"};
  NamedMutex listMutex_{L"OxMessageEntry Mutex"};
  NamedMutex headerMutex_{L"OxMessageHeader Mutex"};
  std::vector<ChildEntry> children_;
  FileStamp childStamp_;
  std::vector<MessageLine> messages_;
  FileStamp messageStamp_;
  bool listHeld_ = false;
  std::vector<MessageLine> heldBase_;
  HeaderCache headers_;
};

// 0x10001 lists the messages whose partial flag is set, 0x10002 those whose unread flag is set,
// from every folder of the tree, root first, each folder before its children.
class VirtualFolder : public OxFolder {
 public:
  using OxFolder::OxFolder;
  unsigned getChildIds(std::vector<unsigned long>* ids) override;
  unsigned getMessageIds(std::vector<unsigned long>* ids) override;
  unsigned openMessage(unsigned long id, OxMessage** out) override;
  unsigned removeMessages(std::vector<unsigned long>& ids) override;
};

}  // namespace oxm
