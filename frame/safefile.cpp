#include "frame/safefile.h"

#include "frame/oxerror.h"
#include "frame/scope_guard.h"
#include "platform/debug.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// Whether a file is there, by its attributes (no open, so no claim to wait for). Only "not
// found" means the file is missing: a file that cannot be looked at for any other reason is
// there all the same, and taking it for missing would roll it back to its backup.
bool present(const std::wstring& path) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

template <class Step>
bool retrying(const wchar_t* what, int maxRetries, Step step) {
  for (int retry = 0;; ++retry) {
    if (step()) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
    if (maxRetries >= 0 && retry >= maxRetries) return false;
    NKDbgPrintfW(L" Retry %ls():(%d) /// Reason: file busy\r\n", what, retry + 1);
    Sleep(1);
  }
}

}  // namespace

bool moveFileRetrying(const std::wstring& from, const std::wstring& to, int maxRetries) {
  return retrying(L"MoveFile", maxRetries, [&] { return MoveFileW(from, to); });
}

// The device printed the MoveFile line for every step of the replacement, deletes included.
bool deleteFileRetrying(const std::wstring& path, int maxRetries) {
  return retrying(L"MoveFile", maxRetries, [&] { return DeleteFileW(path); });
}

bool deleteAndRenameRetrying(const std::wstring& destination, const std::wstring& source,
                             int maxRetries) {
  return retrying(L"DeleteAndRenameFile", maxRetries,
                  [&] { return DeleteAndRenameFile(destination, source); });
}

unsigned preOpenCheck(const std::wstring& path) {
  const std::wstring tmp = temporaryPath(path);
  const std::wstring bak = backupPath(path);
  const bool hasFile = present(path);
  const bool hasTmp = present(tmp);
  const bool hasBak = present(bak);
  unsigned result = OXMDL_ERR_NONE;
  if (hasFile) {
    if (hasTmp && !DeleteFileW(tmp)) result = OXMDL_ERR_STG_PRIM_DELTMP;
  } else if (hasTmp) {
    // A complete temporary file whose original was already moved aside is the new content.
    if (!moveFileRetrying(tmp, path)) result = OXMDL_ERR_STG_PRIM_COMMIT;
  } else if (!hasBak) {
    return OXMDL_ERR_STG_PRIM_NOFILE;
  } else {
    return moveFileRetrying(bak, path) ? OXMDL_ERR_NONE : OXMDL_ERR_STG_PRIM_RESTORE;
  }
  if (hasBak && !DeleteFileW(bak)) result = OXMDL_ERR_STG_PRIM_DELBAK;
  return result;
}

unsigned writeTemporary(const std::wstring& path, const void* data, size_t size, Flush flush) {
  const std::wstring tmp = temporaryPath(path);
  File f;
  if (!f.open(tmp, GENERIC_WRITE, 0, CREATE_ALWAYS)) return diskFullOr(OXMDL_ERR_STG_PRIM_OPEN);
  ScopeGuard dropTemporary([&] {
    f.close();
    DeleteFileW(tmp);
  });
  if (!f.write(data, size) || (flush == Flush::Now && !f.flush())) return diskFullOr(OXMDL_ERR_STG_PRIM_WRITE);
  dropTemporary.dismiss();
  return OXMDL_ERR_NONE;
}

// The rename replaces P in one step: a crash leaves P old (with P_tmp beside it, which the check
// drops) or new, and there is no moment without P, so no backup is needed.
unsigned commitReplacement(const std::wstring& path, Flush flush) {
  const std::wstring tmp = temporaryPath(path);
  if (!retrying(L"MoveFile", 100, [&] { return DeleteAndRenameFile(path, tmp); })) return OXMDL_ERR_STG_PRIM_COMMIT;
  if (flush == Flush::Now) syncDirectoryOf(path);
  return OXMDL_ERR_NONE;
}

unsigned replaceFile(const std::wstring& path, const void* data, size_t size, Flush flush) {
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_NOFILE) return code;
  code = writeTemporary(path, data, size, flush);
  if (code != OXMDL_ERR_NONE) return code;
  return commitReplacement(path, flush);
}

unsigned moduleCode(unsigned primCode, unsigned firstOutcome) {
  if (primCode >= OXMDL_ERR_STG_PRIM_BACKUP && primCode <= OXMDL_ERR_STG_PRIM_NOFILE) {
    return firstOutcome + (primCode - OXMDL_ERR_STG_PRIM_BACKUP);
  }
  return primCode;
}

unsigned diskFullOr(unsigned code) {
  return GetLastError() == ERROR_DISK_FULL ? OXMDL_ERR_STG_DISK_FULL : code;
}

}  // namespace oxm
