#include "store/folder.h"

#include <algorithm>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/folderset.h"
#include "store/message.h"
#include "store/message_codec.h"
#include "store/messagefile.h"
#include "store/messageset.h"
#include "store/storefile.h"
#include "store/timeshift.h"

namespace oxm {

namespace {

// "部分受信トレイ" and "未読メールトレイ".
const std::wstring kPartialName = L"\u90E8\u5206\u53D7\u4FE1\u30C8\u30EC\u30A4";
const std::wstring kUnreadName = L"\u672A\u8AAD\u30E1\u30FC\u30EB\u30C8\u30EC\u30A4";

// Folders every storage has from its creation: the root and the four trays.
constexpr unsigned long kBuiltInFolders = 5;
constexpr unsigned long kMaxUserFolders = 20;

// The base class's answer for an operation the folder does not have (the virtual folders have
// no files: no children to change, no messages of their own to create or move).
constexpr unsigned kNotHere = OXMDL_ERR_STG_NO_FOLDER;

unsigned requireReserve(const std::wstring& path) { return requireFreeSpace(path, kFreeSpaceReserve); }

}  // namespace

const std::wstring& virtualFolderName(unsigned long id) {
  return id == kPartialFolder ? kPartialName : kUnreadName;
}

// ---- OxFolder: the base ----

MessageSet* OxFolder::messageSet() const { return set_->messageSet(); }

unsigned OxFolder::getChildIds(std::vector<unsigned long>* ids) {
  ids->clear();
  return OXMDL_ERR_NONE;
}

bool OxFolder::hasChild(unsigned long, std::wstring*) { return false; }

unsigned OxFolder::openChild(unsigned long id, OxFolder** out) {
  if (!isVirtualFolder(id)) {
    if (id > kMaxId) return OXMDL_ERR_STG_NO_FOLDER;
    if (!hasChild(id, nullptr)) return OXMDL_ERR_STG_NOT_CHILD;
  }
  return set_->acquire(id, out);
}

unsigned OxFolder::readFolderAttributes(unsigned long id, std::wstring* name) {
  if (isVirtualFolder(id)) {
    *name = virtualFolderName(id);
    return OXMDL_ERR_NONE;
  }
  return hasChild(id, name) ? OXMDL_ERR_NONE : OXMDL_ERR_STG_NOT_CHILD;
}

unsigned OxFolder::createFolder(const std::wstring&, unsigned long*) { return kNotHere; }
unsigned OxFolder::removeFolder(unsigned long) { return kNotHere; }
unsigned OxFolder::moveFolder(unsigned long, OxFolder*) { return kNotHere; }
unsigned OxFolder::unreadCount(unsigned long* count) {
  *count = 0;
  return kNotHere;
}
unsigned OxFolder::writeFolderAttributes(unsigned long, const std::wstring&) { return kNotHere; }
unsigned OxFolder::getMessageIds(std::vector<unsigned long>* ids) {
  ids->clear();
  return kNotHere;
}
unsigned OxFolder::openMessage(unsigned long, OxMessage**) { return kNotHere; }
unsigned OxFolder::createMessage(unsigned long*, std::optional<unsigned long>, const MessageAttributes*, std::string_view) {
  return kNotHere;
}
unsigned OxFolder::removeMessages(std::vector<unsigned long>&) { return kNotHere; }
unsigned OxFolder::removeOneMessage(unsigned long) { return kNotHere; }
unsigned OxFolder::moveMessages(std::vector<unsigned long>&, OxFolder*) { return kNotHere; }
unsigned OxFolder::removeAttachments(std::vector<unsigned long>&, std::vector<unsigned long>*) {
  return kNotHere;
}
unsigned OxFolder::remainMessageCount(unsigned long* count) {
  *count = 0;
  return kNotHere;
}
unsigned OxFolder::loadMessageHeader(FolderMsgHeader*, unsigned long) { return kNotHere; }

unsigned OxFolder::registerNotify(FolderNotify* notify) {
  std::lock_guard<std::mutex> g(notifyLock_);
  try {
    notifies_.push_back(notify);
  } catch (...) {
    return OXMDL_ERR_STG_NOTIFY_REGISTER;
  }
  return OXMDL_ERR_NONE;
}

unsigned OxFolder::unregisterNotify(FolderNotify* notify) {
  std::lock_guard<std::mutex> g(notifyLock_);
  auto it = std::find(notifies_.begin(), notifies_.end(), notify);
  if (it == notifies_.end()) return OXMDL_ERR_STG_NOTIFY_UNKNOWN;
  notifies_.erase(it);
  return OXMDL_ERR_NONE;
}

void OxFolder::notifyFolderChange(unsigned long folderId) {
  std::vector<FolderNotify*> copy;
  {
    std::lock_guard<std::mutex> g(notifyLock_);
    copy = notifies_;
  }
  for (FolderNotify* n : copy) n->FolderChanged(folderId);
}

void OxFolder::notifyMessageChange(unsigned long messageId) {
  std::vector<FolderNotify*> copy;
  {
    std::lock_guard<std::mutex> g(notifyLock_);
    copy = notifies_;
  }
  for (FolderNotify* n : copy) n->MessageChanged(messageId);
}

// ---- OrdinaryFolder: files ----

std::wstring OrdinaryFolder::childListPath(const std::wstring& tree, unsigned long id) {
  return idPath(tree, id, L".fld");
}
std::wstring OrdinaryFolder::messageListPath(const std::wstring& tree, unsigned long id) {
  return idPath(tree, id, L".msg");
}
std::wstring OrdinaryFolder::headerCachePath(const std::wstring& tree, unsigned long id) {
  return idPath(tree, id, L".fdb");
}

OrdinaryFolder::OrdinaryFolder(FolderSet* set, unsigned long id)
    : OxFolder(set, id),
      tree_(set->treeDir()),
      fld_(childListPath(tree_, id)),
      msg_(messageListPath(tree_, id)),
      headers_(headerCachePath(tree_, id)) {}

unsigned OrdinaryFolder::createFiles(const std::wstring& tree, unsigned long id) {
  bool madeDir = false;
  const std::wstring dir = idDirectory(tree, id);
  unsigned code = ensureDirectory(dir, OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE, &madeDir);
  if (code != OXMDL_ERR_NONE) return code;
  const std::wstring fld = childListPath(tree, id);
  const std::wstring msg = messageListPath(tree, id);
  const std::wstring fdb = headerCachePath(tree, id);
  // A failed creation of our own files must not count as "the files exist".
  ScopeGuard dropFiles([&] {
    DeleteFileW(fld);
    DeleteFileW(msg);
    DeleteFileW(fdb);
    if (madeDir) removeDirectoryIfEmpty(dir);
  });
  // The files are new: created in place, empty, and flushed.
  for (auto [path, failure] : {std::pair{fld, OXMDL_ERR_STG_FILEIO_FILE_OPEN_FLD},
                               std::pair{msg, OXMDL_ERR_STG_FILEIO_FILE_OPEN_MSG}}) {
    File f;
    if (!f.open(path, GENERIC_WRITE, 0, CREATE_NEW) || !f.flush()) return diskFullOr(failure);
  }
  code = HeaderCache::createEmpty(fdb);
  if (code != OXMDL_ERR_NONE) return code;
  dropFiles.dismiss();
  syncDirectoryOf(fdb);
  return OXMDL_ERR_NONE;
}

void OrdinaryFolder::deleteFiles(const std::wstring& tree, unsigned long id) {
  for (const std::wstring& p : {childListPath(tree, id), messageListPath(tree, id), headerCachePath(tree, id)}) {
    deleteFileRetrying(p);
  }
  removeDirectoryIfEmpty(idDirectory(tree, id));
}

unsigned OrdinaryFolder::writeMessageListFile(const std::wstring& path, const std::vector<MessageLine>& lines) {
  const std::string text = formatMessageList(lines);
  unsigned code = replaceFile(path, text.data(), text.size(), batch::indexFile(path));
  return fileCode(code, StoreFile::MessageList);
}

unsigned OrdinaryFolder::load() {
  unsigned code = refreshChildren();
  if (code != OXMDL_ERR_NONE) return code;
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  code = refreshMessages();
  if (code == OXMDL_ERR_NONE) code = headers_.refresh();
  if (code == OXMDL_ERR_NONE) code = mendHeaders();
  return code;
}

// Every writer changes the list and the cache under both locks, so counts that disagree under
// them is what a crash between the two writes left (a creation whose record was never
// appended, a removal whose cache was never compacted). The cache is made again from the list:
// the records it holds are kept, a missing one is read from the message file. The file is read
// without the message lock, which comes before these in the lock order: a message being
// rewritten at that moment gets an empty record, as a new message has.
unsigned OrdinaryFolder::mendHeaders() {
  if (headers_.live() == messages_.size()) return OXMDL_ERR_NONE;
  // A batch of another process appends records now and writes the list naming them at its end.
  if (batch::running(folderSet()->storageDir())) return OXMDL_ERR_NONE;
  NKDbgPrintfW(L"OxFolder::load() folder %04lX: %zu messages, %zu header records; cache rebuilt\r\n", id(),
               messages_.size(), headers_.live());
  MessageCodec* codec = messageCodec();
  std::vector<FolderMsgHeader> records;
  for (const MessageLine& m : messages_) {
    FolderMsgHeader record{};
    if (headers_.readRecord(m.id, &record) == OXMDL_ERR_NONE) {
      records.push_back(record);
      continue;
    }
    record = makeHeaderRecord(m.id, L"", L"", L"", L"", SYSTEMTIME{});
    std::string text;
    File f;
    uint64_t size = 0;
    MessageFields fields;
    if (codec && f.openStream(messageSet()->messagePath(m.id), "rb") && f.size(&size) && size > kMessageHeaderBytes &&
        size - kMessageHeaderBytes <= kMessageListCap * 64 && f.seek(kMessageHeaderBytes, SEEK_SET)) {
      text.resize(static_cast<size_t>(size - kMessageHeaderBytes));
      if (f.readAll(text.data(), text.size()) && codec->decodeFields(text, &fields) == OXMDL_ERR_NONE) {
        record = makeHeaderRecord(m.id, fields.toAddress, fields.fromAddress, fields.fromName, fields.subject,
                                  localToUtc(fields.localDate));
      }
    }
    records.push_back(record);
  }
  return headers_.rebuild(records);
}

unsigned OrdinaryFolder::refreshChildren() {
  MutexLock lock(entryMutex_);
  if (childStamp_.matches(fld_)) return OXMDL_ERR_NONE;
  unsigned code = preOpenCheck(fld_);
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::ChildList);
  std::string text;
  code = readSmallFile(fld_, kChildListCap, StoreFile::ChildList, &text);
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<ChildEntry> children;
  code = parseChildList(text, &children);
  if (code != OXMDL_ERR_NONE) return code;
  std::sort(children.begin(), children.end(), [](const ChildEntry& a, const ChildEntry& b) { return a.id < b.id; });
  children_ = std::move(children);
  childStamp_.take(fld_);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::refreshMessages() {
  MutexLock lock(listMutex_);
  if (messageStamp_.matches(msg_)) return OXMDL_ERR_NONE;
  unsigned code = preOpenCheck(msg_);
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::MessageList);
  std::string text;
  code = readSmallFile(msg_, kMessageListCap, StoreFile::MessageList, &text);
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<MessageLine> lines;
  code = parseMessageList(text, &lines);
  if (code != OXMDL_ERR_NONE) return code;
  if (listHeld_) {
    messages_ = mergeMessageLists(heldBase_, messages_, lines);
    heldBase_ = std::move(lines);
  } else {
    messages_ = std::move(lines);
  }
  messageStamp_.take(msg_);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::refreshHeaders() {
  MutexLock lock(headerMutex_);
  return headers_.refresh();
}

unsigned OrdinaryFolder::writeChildren(const std::vector<ChildEntry>& children) {
  std::string text;
  unsigned code = formatChildList(children, &text);
  if (code != OXMDL_ERR_NONE) return code;
  code = replaceFile(fld_, text.data(), text.size());
  if (code != OXMDL_ERR_NONE) {
    childStamp_.clear();
    return fileCode(code, StoreFile::ChildList);
  }
  children_ = children;
  childStamp_.take(fld_);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::writeMessages(const std::vector<MessageLine>& lines) {
  if (!batch::defers(msg_)) return storeMessages(lines);
  if (!listHeld_) {
    heldBase_ = messages_;
    listHeld_ = true;
    folderSet()->holdList(id());
  }
  messages_ = lines;
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::storeMessages(const std::vector<MessageLine>& lines) {
  unsigned code = writeMessageListFile(msg_, lines);
  if (code != OXMDL_ERR_NONE) {
    messageStamp_.clear();  // whatever is on disk now is read again next time
    return code;
  }
  messages_ = lines;
  listHeld_ = false;
  heldBase_.clear();
  messageStamp_.take(msg_);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::writeHeldBackList() {
  MutexLock lock(listMutex_);
  if (!listHeld_) return OXMDL_ERR_NONE;
  const unsigned code = refreshMessages();
  if (code == fileCode(OXMDL_ERR_STG_PRIM_NOFILE, StoreFile::MessageList)) {
    listHeld_ = false;  // the folder was removed meanwhile
    return OXMDL_ERR_NONE;
  }
  return code != OXMDL_ERR_NONE ? code : storeMessages(messages_);
}

bool OrdinaryFolder::lineOf(unsigned long messageId, MessageLine* line) const {
  for (const MessageLine& m : messages_) {
    if (m.id == messageId) {
      if (line) *line = m;
      return true;
    }
  }
  return false;
}

// ---- OrdinaryFolder: children ----

bool OrdinaryFolder::hasChild(unsigned long id, std::wstring* name) {
  MutexLock lock(entryMutex_);
  if (refreshChildren() != OXMDL_ERR_NONE) return false;
  for (const ChildEntry& c : children_) {
    if (c.id == id) {
      if (name) *name = c.name;
      return true;
    }
  }
  return false;
}

unsigned OrdinaryFolder::getChildIds(std::vector<unsigned long>* ids) {
  MutexLock lock(entryMutex_);
  unsigned code = refreshChildren();
  if (code != OXMDL_ERR_NONE) return code;
  ids->clear();
  for (const ChildEntry& c : children_) ids->push_back(c.id);
  if (id() == kRootFolder) {
    ids->push_back(kPartialFolder);
    ids->push_back(kUnreadFolder);
  }
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::createFolder(const std::wstring& name, unsigned long* newId) {
  std::string bytes;
  unsigned code = checkFolderName(name, &bytes);
  if (code != OXMDL_ERR_NONE) return code;
  code = createFolderLocked(name, newId);
  if (code == OXMDL_ERR_NONE) notifyFolderChange(*newId);
  return code;
}

unsigned OrdinaryFolder::createFolderLocked(const std::wstring& name, unsigned long* newId) {
  FolderSet& set = *folderSet();
  OxIdTraits& ids = set.ids();
  MutexLock entry(entryMutex_);
  MutexLock idLock(ids.mutex());
  unsigned code;
  const unsigned long folders = ids.count();
  if (folders >= kBuiltInFolders + kMaxUserFolders) return OXMDL_ERR_STG_FOLDER_LIMIT;
  code = requireReserve(tree_);
  if (code != OXMDL_ERR_NONE) return code;
  code = refreshChildren();
  if (code != OXMDL_ERR_NONE) return code;

  unsigned long id = 0;
  bool found = false;
  for (unsigned long tried = 0; tried < kMaxId && !found; ++tried) {
    id = ids.takeNext();
    found = !fileExists(childListPath(tree_, id)) && !fileExists(messageListPath(tree_, id)) &&
            !fileExists(headerCachePath(tree_, id));
  }
  if (!found) return OXMDL_ERR_STG_NO_FOLDER_ID;
  code = createFiles(tree_, id);
  if (code != OXMDL_ERR_NONE) return code;
  code = ids.changeCount(+1);
  if (code != OXMDL_ERR_NONE) {
    deleteFiles(tree_, id);
    return code;
  }
  std::vector<ChildEntry> children = children_;
  children.push_back({id, name});
  std::sort(children.begin(), children.end(), [](const ChildEntry& a, const ChildEntry& b) { return a.id < b.id; });
  code = writeChildren(children);
  if (code != OXMDL_ERR_NONE) {
    deleteFiles(tree_, id);
    ids.changeCount(-1);
    return code;
  }
  *newId = id;
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::removeFolder(unsigned long childId) {
  unsigned code = requireReserve(tree_);
  if (code != OXMDL_ERR_NONE) return code;
  if (childId > kMaxId) return OXMDL_ERR_STG_NO_FOLDER;
  FolderSet& set = *folderSet();
  {
    MutexLock setLock(set.mutex());
    MutexLock entry(entryMutex_);
    if (!hasChild(childId, nullptr)) return OXMDL_ERR_STG_NOT_CHILD;
    if (set.isOpen(childId)) return OXMDL_ERR_STG_FOLDER_OPEN;
    {
      FolderRef child(set);
      code = child.acquire(childId);
      if (code != OXMDL_ERR_NONE) return code;
      std::vector<unsigned long> ids;
      code = child.get()->getMessageIds(&ids);
      if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_HEADER_MISMATCH) return code;
      code = child.get()->removeMessages(ids);
      if (code != OXMDL_ERR_NONE) return code;
    }
    std::vector<ChildEntry> children = children_;
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const ChildEntry& c) { return c.id == childId; }),
                   children.end());
    code = writeChildren(children);
    if (code != OXMDL_ERR_NONE) return code;
    deleteFiles(tree_, childId);
    code = set.ids().changeCount(-1);
  }
  notifyFolderChange(childId);
  return code;
}

unsigned OrdinaryFolder::moveFolder(unsigned long childId, OxFolder* to) {
  if (childId > kMaxId) return OXMDL_ERR_STG_NO_FOLDER;
  OrdinaryFolder* dest = dynamic_cast<OrdinaryFolder*>(to);
  if (!dest) return OXMDL_ERR_STG_NO_FOLDER;
  FolderSet& set = *folderSet();
  std::wstring name;
  unsigned code;
  {
    MutexLock setLock(set.mutex());
    MutexLock entry(entryMutex_);
    if (!hasChild(childId, &name)) return OXMDL_ERR_STG_NOT_CHILD;
    if (set.isOpen(childId)) return OXMDL_ERR_STG_FOLDER_OPEN;
    if (dest == this) return OXMDL_ERR_NONE;
    // The destination must not lie inside the folder moved: the subtree would be cut off.
    std::vector<unsigned long> pending{childId};
    for (size_t i = 0; i < pending.size() && i <= kMaxId; ++i) {
      if (pending[i] == dest->id()) return OXMDL_ERR_STG_NOT_CHILD;
      std::string text;
      std::vector<ChildEntry> grandChildren;
      const std::wstring path = childListPath(tree_, pending[i]);
      if (readSmallFile(path, kChildListCap, StoreFile::ChildList, &text) == OXMDL_ERR_NONE &&
          parseChildList(text, &grandChildren) == OXMDL_ERR_NONE) {
        for (const ChildEntry& g : grandChildren) pending.push_back(g.id);
      }
    }
    code = dest->refreshChildren();
    if (code != OXMDL_ERR_NONE) return code;
    std::vector<ChildEntry> mine = children_;
    mine.erase(std::remove_if(mine.begin(), mine.end(), [&](const ChildEntry& c) { return c.id == childId; }),
               mine.end());
    std::vector<ChildEntry> theirs = dest->children_;
    theirs.push_back({childId, name});
    std::sort(theirs.begin(), theirs.end(), [](const ChildEntry& a, const ChildEntry& b) { return a.id < b.id; });
    const std::vector<ChildEntry> before = children_;
    code = writeChildren(mine);
    if (code != OXMDL_ERR_NONE) return code;
    code = dest->writeChildren(theirs);
    if (code != OXMDL_ERR_NONE) {
      // Put it back rather than lose the folder from the tree.
      writeChildren(before);
      return code;
    }
  }
  notifyFolderChange(childId);
  dest->notifyFolderChange(childId);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::writeFolderAttributes(unsigned long childId, const std::wstring& name) {
  std::string bytes;
  unsigned code = checkFolderName(name, &bytes);
  if (code != OXMDL_ERR_NONE) return code;
  code = requireReserve(tree_);
  if (code != OXMDL_ERR_NONE) return code;
  MutexLock entry(entryMutex_);
  if (!hasChild(childId, nullptr)) return OXMDL_ERR_STG_NOT_CHILD;
  std::vector<ChildEntry> children = children_;
  for (ChildEntry& c : children) {
    if (c.id == childId) c.name = name;
  }
  return writeChildren(children);
}

// ---- OrdinaryFolder: messages ----

unsigned OrdinaryFolder::unreadCount(unsigned long* count) {
  MutexLock lock(listMutex_);
  *count = 0;
  unsigned code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  for (const MessageLine& m : messages_) *count += m.unread ? 1 : 0;
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::remainMessageCount(unsigned long* count) {
  MutexLock lock(listMutex_);
  *count = 0;
  unsigned code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  *count = messages_.size() >= kMaxMessagesPerFolder ? 0 : kMaxMessagesPerFolder - messages_.size();
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::messageLines(std::vector<MessageLine>* lines) {
  MutexLock lock(listMutex_);
  unsigned code = refreshMessages();
  if (code == OXMDL_ERR_NONE) *lines = messages_;
  return code;
}

unsigned OrdinaryFolder::getMessageIds(std::vector<unsigned long>* ids) {
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  ids->clear();
  unsigned code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  ids->reserve(messages_.size());
  for (const MessageLine& m : messages_) ids->push_back(m.id);
  code = headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;
  return mendHeaders() == OXMDL_ERR_NONE ? OXMDL_ERR_NONE : OXMDL_ERR_STG_HEADER_MISMATCH;
}

unsigned OrdinaryFolder::openMessage(unsigned long id, OxMessage** out) {
  if (id > kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
  MutexLock list(listMutex_);
  unsigned code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  if (!lineOf(id, nullptr)) return OXMDL_ERR_STG_ENTRY_FREE;
  return messageSet()->acquire(id, out);
}

unsigned OrdinaryFolder::createMessage(unsigned long* newId, std::optional<unsigned long> size,
                                       const MessageAttributes* initial, std::string_view text) {
  MessageLine line{};
  unsigned code = createMessageLocked(newId, size, initial, text.substr(0, text.find('\0')), &line);
  if (code != OXMDL_ERR_NONE) return code;
  notifyMessageChange(*newId);
  // Flags set from the start are told as SetAttributes tells a change of them.
  if (line.unread || line.partial) notifyMessageChange(*newId);
  if (line.unread) folderSet()->notifyVirtual(kUnreadFolder, *newId);
  if (line.partial) folderSet()->notifyVirtual(kPartialFolder, *newId);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::createMessageLocked(unsigned long* newId, std::optional<unsigned long> size,
                                             const MessageAttributes* initial, std::string_view text,
                                             MessageLine* line) {
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  unsigned code;
  if (size) {
    code = headers_.refresh();
    if (code != OXMDL_ERR_NONE) return code;
    // Room for the header cache as it will be and for the message, plus a reserve, in 8 KB blocks.
    const uint64_t r = headers_.records();
    const uint64_t d = headers_.deleted();
    const uint64_t cacheBlocks = d == 0 ? (r * 1180 + 5180 + 8191) / 8192 : ((r - d) * 1180 + 4000 + 8191) / 8192;
    const uint64_t need = (cacheBlocks + (static_cast<uint64_t>(*size) + 8447) / 8192) * 8192 + 0x83000;
    uint64_t free = 0;
    if (!GetDiskFreeSpaceExW(tree_, &free) || free <= need) return OXMDL_ERR_STG_DISK_FULL;
    code = headers_.compact();
    if (code != OXMDL_ERR_NONE) return code;
  }
  code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  if (messages_.size() >= kMaxMessagesPerFolder) return OXMDL_ERR_STG_FOLDER_FULL;
  // The cache was read above when a size was given, under the same locks.
  code = size ? OXMDL_ERR_NONE : headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;

  MessageFileHeader fileHeader = newMessageHeader();
  if (initial) applyFileAttributes(*initial, &fileHeader);
  unsigned long id = 0;
  code = messageSet()->create(this->id(), fileHeader, text, &id);
  if (code != OXMDL_ERR_NONE) return code;
  *line = {id, fileHeader.flags[OxMessageInterface::FLAG_UNREAD] != 0,
           fileHeader.flags[OxMessageInterface::FLAG_PARTIAL] != 0};
  std::vector<MessageLine> lines = messages_;
  lines.push_back(*line);
  code = writeMessages(lines);
  if (code != OXMDL_ERR_NONE) return code;
  ScopeGuard dropLine([&] {
    lines.pop_back();
    writeMessages(lines);
  });
  FolderMsgHeader record = makeHeaderRecord(id, L"", L"", L"", L"", SYSTEMTIME{});
  if (initial) applyHeaderFields(*initial, &record);
  code = headers_.append({record});
  if (code != OXMDL_ERR_NONE) return code;
  dropLine.dismiss();
  *newId = id;
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::checkMovable(std::vector<unsigned long>& ids) {
  std::vector<unsigned long> unique;
  for (unsigned long id : ids) {
    if (std::find(unique.begin(), unique.end(), id) == unique.end()) unique.push_back(id);
  }
  MessageSet& messages = *messageSet();
  for (unsigned long id : unique) {
    if (!lineOf(id, nullptr)) return OXMDL_ERR_STG_ENTRY_FREE;
    if (messages.isOpen(id)) return OXMDL_ERR_STG_MESSAGE_OPEN;
  }
  ids = std::move(unique);
  return OXMDL_ERR_NONE;
}

// Removal needs no free space: it is how a user makes room on a full disk.
unsigned OrdinaryFolder::removeMessages(std::vector<unsigned long>& ids) {
  if (ids.empty()) return OXMDL_ERR_NONE;
  unsigned code;
  MessageSet& messages = *messageSet();
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  MutexLock set(messages.mutex());
  code = refreshMessages();
  if (code == OXMDL_ERR_NONE) code = headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<unsigned long> checked = ids;
  code = checkMovable(checked);
  if (code != OXMDL_ERR_NONE) return code;
  return removeChecked(checked);
}

unsigned OrdinaryFolder::removeChecked(const std::vector<unsigned long>& ids) {
  std::vector<MessageLine> lines;
  for (const MessageLine& m : messages_) {
    if (std::find(ids.begin(), ids.end(), m.id) == ids.end()) lines.push_back(m);
  }
  MessageSet& messages = *messageSet();
  unsigned code = writeMessages(lines);
  if (code == OXMDL_ERR_STG_DISK_FULL) {
    // No room even for the shorter list: the message files go first to make it. Should the list
    // still fail, its lines name files that are gone, which the next recovery drops.
    for (unsigned long id : ids) deleteFileRetrying(messages.messagePath(id));
    code = writeMessages(lines);
  }
  if (code != OXMDL_ERR_NONE) return code;
  // From here on the messages are out of the list; every one is taken out of the rest of the
  // store even when one step fails, and the first failure is reported.
  unsigned first = OXMDL_ERR_NONE;
  long removed = 0;
  for (unsigned long id : ids) {
    unsigned c = messages.removeFile(id);
    if (c == OXMDL_ERR_NONE) ++removed;
    if (first == OXMDL_ERR_NONE) first = c;
    c = headers_.markDeleted(id);
    if (first == OXMDL_ERR_NONE && c != OXMDL_ERR_STG_NO_HEADER) first = c;
  }
  if (removed > 0) {
    code = messages.ids().changeCount(-removed);
    if (first == OXMDL_ERR_NONE) first = code;
  }
  code = headers_.compact();
  return first != OXMDL_ERR_NONE ? first : code;
}

unsigned OrdinaryFolder::removeOneMessage(unsigned long id) {
  MessageLine line{};
  {
    MutexLock list(listMutex_);
    unsigned code = refreshMessages();
    if (code != OXMDL_ERR_NONE) return code;
    if (!lineOf(id, &line)) return OXMDL_ERR_STG_ENTRY_FREE;
  }
  std::vector<unsigned long> one{id};
  unsigned code = removeMessages(one);
  if (code != OXMDL_ERR_NONE) return code;
  notifyMessageChange(id);
  if (line.partial) folderSet()->notifyVirtual(kPartialFolder, id);
  if (line.unread) folderSet()->notifyVirtual(kUnreadFolder, id);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::moveMessages(std::vector<unsigned long>& ids, OxFolder* to) {
  OrdinaryFolder* dest = dynamic_cast<OrdinaryFolder*>(to);
  if (!dest) return OXMDL_ERR_STG_NO_FOLDER;
  if (ids.empty()) return OXMDL_ERR_NONE;
  MessageSet& messages = *messageSet();
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  MutexLock set(messages.mutex());
  unsigned code = refreshMessages();
  if (code == OXMDL_ERR_NONE) code = headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<unsigned long> checked = ids;
  code = checkMovable(checked);
  if (code != OXMDL_ERR_NONE || dest == this) return code;
  code = dest->refreshMessages();
  if (code == OXMDL_ERR_NONE) code = dest->headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;
  // Everything that could refuse is asked before the first file changes.
  if (dest->messages_.size() + checked.size() > kMaxMessagesPerFolder) return OXMDL_ERR_STG_FOLDER_FULL;
  if (dest->headers_.records() + checked.size() > kHeaderSlots) return OXMDL_ERR_STG_HEADER_FULL;
  std::vector<FolderMsgHeader> records(checked.size());
  for (size_t i = 0; i < checked.size(); ++i) {
    code = headers_.readRecord(checked[i], &records[i]);
    if (code != OXMDL_ERR_NONE) return code;
  }

  const std::vector<MessageLine> before = messages_;
  std::vector<MessageLine> mine;
  std::vector<MessageLine> theirs = dest->messages_;
  for (const MessageLine& m : messages_) {
    if (std::find(checked.begin(), checked.end(), m.id) == checked.end()) {
      mine.push_back(m);
    }
  }
  for (unsigned long id : checked) {
    MessageLine line{};
    lineOf(id, &line);
    theirs.push_back(line);
  }
  code = writeMessages(mine);
  if (code != OXMDL_ERR_NONE) return code;
  code = dest->writeMessages(theirs);
  if (code != OXMDL_ERR_NONE) {
    writeMessages(before);
    return code;
  }
  // The lists now say where the messages are; the caches and the index follow, and a failure
  // among them is mended by recovery, which rebuilds both from the index.
  unsigned first = dest->headers_.append(records);
  for (unsigned long id : checked) {
    headers_.markDeleted(id);
    unsigned c = messages.entries().change(EntryChange::Change, id, dest->id());
    if (first == OXMDL_ERR_NONE) first = c;
  }
  code = headers_.compact();
  return first != OXMDL_ERR_NONE ? first : code;
}

unsigned OrdinaryFolder::removeAttachments(std::vector<unsigned long>& ids, std::vector<unsigned long>* failed) {
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<unsigned long> checked = ids;
  {
    MutexLock list(listMutex_);
    MutexLock set(messageSet()->mutex());
    code = refreshMessages();
    if (code != OXMDL_ERR_NONE) return code;
    code = checkMovable(checked);
    if (code != OXMDL_ERR_NONE) return code;
  }
  for (unsigned long id : checked) {
    MessageRef message(*messageSet());
    code = message.acquire(id);
    if (code == OXMDL_ERR_NONE) code = message.get()->removeAttachments();
    if (code == OXMDL_ERR_STG_NO_ATTRIBUTE) {
      failed->push_back(id);
    } else if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_NO_ATTACHMENT && code != OXMDL_ERR_ATT_SINGLE_PART) {
      return code;
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::loadMessageHeader(FolderMsgHeader* buf, unsigned long count) {
  MutexLock list(listMutex_);
  MutexLock header(headerMutex_);
  unsigned code = headers_.refresh();
  if (code != OXMDL_ERR_NONE) return code;
  code = headers_.loadRecords(buf, count);
  if (code == OXMDL_ERR_STG_HEADER_COUNT && refreshMessages() == OXMDL_ERR_NONE && messages_.size() >= count &&
      headers_.live() > count) {
    // Messages were added since the caller read the list (by another process, say, or by a
    // batch of another process, whose list comes at its end): it gets the records of the list it
    // read, as it would have a moment before.
    std::vector<unsigned long> listed;
    for (unsigned long i = 0; i < count; ++i) listed.push_back(messages_[i].id);
    code = headers_.loadListed(listed, buf);
  }
  if (code != OXMDL_ERR_NONE) return code;
  const int64_t delta = localMinusUtc();
  for (unsigned long i = 0; i < count; ++i) buf[i].date = shiftedTime(buf[i].date, delta);
  return OXMDL_ERR_NONE;
}

unsigned OrdinaryFolder::readHeaderRecord(unsigned long messageId, FolderMsgHeader* out) {
  MutexLock header(headerMutex_);
  unsigned code = headers_.refresh();
  return code != OXMDL_ERR_NONE ? code : headers_.readRecord(messageId, out);
}

unsigned OrdinaryFolder::writeHeaderRecord(const FolderMsgHeader& record) {
  MutexLock header(headerMutex_);
  unsigned code = headers_.refresh();
  return code != OXMDL_ERR_NONE ? code : headers_.writeRecord(record);
}

unsigned OrdinaryFolder::setMessageFlags(unsigned long messageId, bool unread, bool partial) {
  MutexLock list(listMutex_);
  unsigned code = refreshMessages();
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<MessageLine> lines = messages_;
  for (MessageLine& m : lines) {
    if (m.id != messageId) continue;
    if (m.unread == unread && m.partial == partial) return OXMDL_ERR_NONE;
    m.unread = unread;
    m.partial = partial;
    return writeMessages(lines);
  }
  return OXMDL_ERR_STG_ENTRY_FREE;
}

// ---- VirtualFolder ----

unsigned VirtualFolder::getChildIds(std::vector<unsigned long>* ids) {
  ids->clear();
  return OXMDL_ERR_NONE;
}

unsigned VirtualFolder::getMessageIds(std::vector<unsigned long>* ids) {
  ids->clear();
  FolderSet& set = *folderSet();
  std::vector<unsigned long> pending{kRootFolder};
  std::vector<unsigned long> seen;
  while (!pending.empty()) {
    const unsigned long folderId = pending.back();
    pending.pop_back();
    if (std::find(seen.begin(), seen.end(), folderId) != seen.end()) continue;  // a damaged tree may loop
    seen.push_back(folderId);
    FolderRef folder(set);
    unsigned code = folder.acquire(folderId);
    if (code != OXMDL_ERR_NONE) return code;
    std::vector<MessageLine> lines;
    code = folder.ordinary()->messageLines(&lines);
    if (code != OXMDL_ERR_NONE) return code;
    for (const MessageLine& m : lines) {
      if (id() == kPartialFolder ? m.partial : m.unread) ids->push_back(m.id);
    }
    std::vector<unsigned long> children;
    code = folder.get()->getChildIds(&children);
    if (code != OXMDL_ERR_NONE) return code;
    // Depth first, children in ascending order: push them in reverse.
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (!isVirtualFolder(*it)) pending.push_back(*it);
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned VirtualFolder::openMessage(unsigned long id, OxMessage** out) {
  if (id > kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
  return messageSet()->acquire(id, out);
}

unsigned VirtualFolder::removeMessages(std::vector<unsigned long>& ids) {
  MessageSet& messages = *messageSet();
  for (unsigned long id : ids) {
    if (id > kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
    const uint32_t owner = messages.entries().owner(id);
    if (owner == kEntryFree) return OXMDL_ERR_STG_ENTRY_FREE;
    FolderRef folder(*folderSet());
    unsigned code = folder.acquire(owner);
    if (code == OXMDL_ERR_NONE) code = folder.get()->removeOneMessage(id);
    if (code != OXMDL_ERR_NONE) return code;
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
