#include "store/recovery.h"

#include <algorithm>
#include <cwchar>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/fs.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/message_codec.h"
#include "store/repair.h"
#include "store/storage.h"
#include "store/storefile.h"
#include "store/timeshift.h"

namespace oxm {

namespace {

struct Collected {
  unsigned long id;
  unsigned long owner;
  bool unread;
  bool partial;
};

unsigned readListFile(const std::wstring& path, std::vector<MessageLine>* lines) {
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::MessageList);
  std::string text;
  code = readSmallFile(path, kMessageListCap, StoreFile::MessageList, &text);
  return code != OXMDL_ERR_NONE ? code : parseMessageList(text, lines);
}

// Step 1: every message with an entry, its owner and flags. Unusable message files go with
// their entries; the message count is corrected to what is left.
unsigned scanEntries(OxStorage& storage, std::vector<Collected>* out) {
  MessageSet& messages = storage.messages();
  // Held across the scan, so the many message opens below take them as the owning thread only.
  NamedMutex messageMutex(L"OxMessage Mutex");
  MutexLock messageLock(messageMutex);
  MutexLock setLock(messages.mutex());
  std::vector<Collected> collected;
  for (unsigned long id = 0; id <= kMaxId; ++id) {
    const uint32_t owner = messages.entries().owner(id);
    if (owner == kEntryFree) continue;
    MessageRef message(messages);
    unsigned code = message.acquire(id);
    if (code != OXMDL_ERR_NONE) return code;
    MessageAttributes attr;
    attr.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_PARTIAL;
    code = message.get()->getAttributes(&attr);
    if (code == OXMDL_ERR_NONE || code == OXMDL_ERR_STG_NO_ATTRIBUTE) {
      collected.push_back({id, owner, attr.flags[OxMessageInterface::FLAG_UNREAD] != 0, attr.flags[OxMessageInterface::FLAG_PARTIAL] != 0});
      continue;
    }
    const std::wstring dir = idDirectory(messages.dataDir(), id);
    if (code == OXMDL_ERR_STG_FILE_FMTILLGL_EML || code == OXMDL_ERR_STG_FILE_VERSION_EML) {
      // Out of the folder, but kept for the user: whole-store repair rebuilds such headers.
      wchar_t name[16];
      std::swprintf(name, 16, L"%04lX.eml", id);
      if (!quarantineFile(storage.directory(), messages.messagePath(id), name)) return OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
      code = messages.entries().change(EntryChange::Free, id, 0);
      if (code != OXMDL_ERR_NONE) return code;
      removeDirectoryIfEmpty(dir);
    } else if (code == OXMDL_ERR_STG_NOFILE_EML) {
      // The check probes by opening, and a failed open is no proof that the file is gone: a
      // message dropped here would be lost for good.
      const std::wstring path = messages.messagePath(id);
      if (fileExists(path) || fileExists(temporaryPath(path)) || fileExists(backupPath(path))) {
        return OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML;
      }
      code = messages.entries().change(EntryChange::Free, id, 0);
      if (code != OXMDL_ERR_NONE) return code;
      removeDirectoryIfEmpty(dir);
    } else {
      return code;
    }
  }
  const unsigned long counted = messages.ids().count();
  if (collected.size() != counted) {
    unsigned code = messages.ids().changeCount(static_cast<long>(collected.size()) - static_cast<long>(counted));
    if (code != OXMDL_ERR_NONE) return code;
  }
  *out = std::move(collected);
  return OXMDL_ERR_NONE;
}

// Steps 2 to 4 for one folder.
unsigned rebuildFolder(OxStorage& storage, unsigned long folderId, const std::vector<Collected>& collected) {
  const std::wstring& tree = storage.folders().treeDir();
  // Only an existing folder gets its files rewritten.
  unsigned code = preOpenCheck(OrdinaryFolder::childListPath(tree, folderId));
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::ChildList);
  std::vector<MessageLine> lines;
  for (const Collected& c : collected) {
    if (c.owner == folderId) lines.push_back({c.id, c.unread, c.partial});
  }
  {
    NamedMutex listMutex(L"OxMessageEntry Mutex");
    MutexLock lock(listMutex);
    code = OrdinaryFolder::writeMessageListFile(OrdinaryFolder::messageListPath(tree, folderId), lines);
    if (code != OXMDL_ERR_NONE) return code;
  }
  return restoreFolderMessageHeader(storage, folderId);
}

}  // namespace

bool wantsRecovery(unsigned long code) {
  return code == OXMDL_ERR_STG_FILE_FMTILLGL_FDB || code == OXMDL_ERR_STG_FILE_FMTILLGL_EML ||
         code == OXMDL_ERR_STG_HEADER_COUNT || code == OXMDL_ERR_STG_HEADER_MISMATCH;
}

unsigned restoreFolderMessageHeader(OxStorage& storage, unsigned long folderId, bool* changed) {
  if (folderId > kMaxId) return OXMDL_ERR_STG_NO_FOLDER;
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  code = storage.writeHeldBack();  // the recovery reads the lists a batch may hold back
  if (code != OXMDL_ERR_NONE) return code;
  const std::wstring& tree = storage.folders().treeDir();
  std::vector<MessageLine> lines;
  {
    NamedMutex listMutex(L"OxMessageEntry Mutex");
    MutexLock lock(listMutex);
    code = readListFile(OrdinaryFolder::messageListPath(tree, folderId), &lines);
    if (code != OXMDL_ERR_NONE) return code;
  }
  if (lines.size() > kHeaderSlots) return OXMDL_ERR_STG_FOLDER_FULL;
  MessageSet& messages = storage.messages();
  std::vector<FolderMsgHeader> records;
  records.reserve(lines.size());
  for (const MessageLine& line : lines) {
    // A private message object: its read position is its own, whoever has the message open.
    OxMessage message(&messages, line.id, folderId, messages.messagePath(line.id));
    std::string text;
    code = message.read(&text);
    if (code != OXMDL_ERR_NONE) return code;
    MessageFields fields;
    code = codec->decodeFields(text, &fields);
    if (code != OXMDL_ERR_NONE) return code;
    records.push_back(makeHeaderRecord(line.id, fields.toAddress, fields.fromAddress, fields.fromName,
                                       fields.subject, localToUtc(fields.localDate)));
  }
  NamedMutex headerMutex(L"OxMessageHeader Mutex");
  MutexLock lock(headerMutex);
  HeaderCache cache(OrdinaryFolder::headerCachePath(tree, folderId));
  return cache.rebuild(records, changed);
}

unsigned recoverMessageEntry(OxStorage& storage, unsigned long folderId) {
  if (folderId > kMaxId) return OXMDL_ERR_STG_NO_FOLDER;
  // The codec is needed at the end; without it nothing is rewritten.
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  code = storage.writeHeldBack();  // the recovery reads the lists a batch may hold back
  if (code != OXMDL_ERR_NONE) return code;
  std::vector<Collected> collected;
  code = scanEntries(storage, &collected);
  if (code != OXMDL_ERR_NONE) return code;
  return rebuildFolder(storage, folderId, collected);
}

}  // namespace oxm
