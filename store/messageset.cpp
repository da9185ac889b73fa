#include "store/messageset.h"

#include <memory>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/fs.h"
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

unsigned MessageSet::create(unsigned long folderId, unsigned long* newId) {
  MutexLock lock(ids_.mutex());
  for (unsigned long tried = 0; tried <= kMaxId; ++tried) {
    const unsigned long id = ids_.takeNext();
    const std::wstring path = messagePath(id);
    // An identifier whose file is there, or whose entry is still in use (its file was lost),
    // belongs to someone: take the next one.
    if (fileExists(path) || entries_.owner(id) != kEntryFree) continue;
    const std::wstring dir = idDirectory(data_, id);
    bool madeDir = false;
    unsigned code = ensureDirectory(dir, OXMDL_ERR_STG_FILEIO_DIR_CREATE_DATA, &madeDir);
    if (code != OXMDL_ERR_NONE) return code;
    auto undo = [&](unsigned failure) {
      DeleteFileW(path);
      if (madeDir) removeDirectoryIfEmpty(dir);
      return failure;
    };
    File f;
    if (!f.open(path, GENERIC_WRITE, 0, CREATE_NEW)) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;  // another process was quicker
      code = diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
      if (madeDir) removeDirectoryIfEmpty(dir);
      return code;
    }
    const MessageFileHeader header = newMessageHeader();
    if (!f.write(&header, sizeof header) || !f.flush()) {
      code = diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML);
      f.close();
      return undo(code);
    }
    f.close();
    code = entries_.change(EntryChange::Add, id, folderId);
    if (code != OXMDL_ERR_NONE) return undo(code);
    code = ids_.changeCount(+1);
    if (code != OXMDL_ERR_NONE) {
      entries_.change(EntryChange::Free, id, 0);
      DeleteFileW(path);
      removeDirectoryIfEmpty(dir);
      return code;
    }
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
  deleteFileRetrying(path);
  removeDirectoryIfEmpty(idDirectory(data_, id));
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
