#include "store/messageset.h"

#include <memory>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/message.h"
#include "store/messagefile.h"
#include "store/storefile.h"

namespace oxm {

MessageSet::MessageSet(const std::wstring& storageDir)
    : data_(storageDir + L"\\DATA"),
      ids_(data_, StoreFile::DataStatus),
      entries_(data_),
      open_(L"OxMessageSet MessageSet Mutex") {}

MessageSet::~MessageSet() { close(); }

unsigned MessageSet::open() {
  unsigned code = ids_.load();
  if (code != OXMDL_ERR_NONE) return code;
  return entries_.open();
}

void MessageSet::close() { entries_.close(); }

std::wstring MessageSet::messagePath(unsigned long id) const { return idPath(data_, id, L".eml"); }

unsigned MessageSet::create(unsigned long folderId, const MessageFileHeader& header, std::string_view text,
                            unsigned long* newId) {
  MutexLock lock(ids_.mutex());
  for (unsigned long tried = 0; tried <= kMaxId; ++tried) {
    const unsigned long id = ids_.takeNext();
    const std::wstring path = messagePath(id);
    // An identifier whose entry is still in use (its file was lost), or whose file is there
    // (found when the file is named: a name that is taken is never written over), belongs to
    // someone: take the next one.
    if (entries_.owner(id) != kEntryFree) continue;
    const std::wstring dir = idDirectory(data_, id);
    bool madeDir = false;
    unsigned code = ensureDirectory(dir, OXMDL_ERR_STG_FILEIO_DIR_CREATE_DATA, &madeDir);
    if (code != OXMDL_ERR_NONE) return code;
    ScopeGuard dropDirectory([&] {
      if (madeDir) removeDirectoryIfEmpty(dir);
    });
    // A message made with its text shows whole or not at all: the file is written without a
    // name and then named. A message without text, or on a file system that cannot make a file
    // without a name, is made under its name from the start.
    File f;
    const bool unnamed = !text.empty() && f.openUnnamed(path);
    if (!unnamed) {
      if (!text.empty() && GetLastError() != ERROR_NOT_SUPPORTED) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
      if (!f.open(path, GENERIC_WRITE, 0, CREATE_NEW)) {
        if (GetLastError() == ERROR_FILE_EXISTS) continue;  // another process was quicker
        return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
      }
    }
    bool named = !unnamed;
    batch::createdMessage(path, madeDir);
    ScopeGuard dropFile([&] {
      f.close();
      if (named) DeleteFileW(path);
    });
    // Inside a batch the commit flushes what the batch made, before anyone acknowledges it. A
    // file without a name is flushed before it is named, in a batch too (the same one flush,
    // without opening the file again at the commit): its commit is its directory entry.
    const Flush flush = unnamed ? Flush::Now : batch::messageFile(path);
    if (!f.write(&header, sizeof header) || (!text.empty() && !f.write(text.data(), text.size())) ||
        (flush == Flush::Now && !f.flush())) {
      return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML);
    }
    if (unnamed) {
      if (!f.linkAs(path)) {
        if (GetLastError() == ERROR_FILE_EXISTS) continue;  // another process was quicker
        return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
      }
      named = true;
      if (batch::messageFile(path, true) == Flush::Now && !syncDirectoryOf(path)) {
        return OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
      }
    }
    f.close();
    code = entries_.change(EntryChange::Add, id, folderId);
    if (code != OXMDL_ERR_NONE) return code;
    ScopeGuard freeEntry([&] { entries_.change(EntryChange::Free, id, 0); });
    code = ids_.changeCount(+1);
    if (code != OXMDL_ERR_NONE) return code;
    freeEntry.dismiss();
    dropFile.dismiss();
    dropDirectory.dismiss();
    *newId = id;
    return OXMDL_ERR_NONE;
  }
  return OXMDL_ERR_STG_ENTRY_USED;
}

unsigned MessageSet::acquire(unsigned long id, OxMessage** out) {
  if (id > kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
  MutexLock lock(open_.mutex());
  const uint32_t owner = entries_.owner(id);
  if (owner == kEntryFree) return OXMDL_ERR_STG_ENTRY_FREE;
  return open_.acquire(id, [&](std::unique_ptr<OxMessage>* made) -> unsigned {
    *made = std::make_unique<OxMessage>(this, id, owner, messagePath(id));
    return OXMDL_ERR_NONE;
  }, out);
}

// Out of line: closing a message needs its complete type.
void MessageSet::release(OxMessage* message) { open_.release(message); }

unsigned MessageSet::removeFile(unsigned long id) {
  unsigned code = entries_.change(EntryChange::Free, id, 0);
  // An entry that was already free (a crash between the steps of an earlier removal) is no
  // reason to keep the file.
  if (code == OXMDL_ERR_STG_ENTRY_FREE) code = OXMDL_ERR_NONE;
  if (code != OXMDL_ERR_NONE) return code;
  const std::wstring path = messagePath(id);
  batch::beforeMessageDelete(path);
  deleteFileRetrying(path);
  removeDirectoryIfEmpty(idDirectory(data_, id));
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
