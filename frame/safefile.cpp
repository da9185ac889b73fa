#include "frame/safefile.h"

#include "frame/oxerror.h"
#include "frame/scope_guard.h"
#include "platform/debug.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// Whether a file is there, by one look at its name (no open, so no claim to wait for). Only a
// missing name means the file is missing: a file that cannot be looked at for any other reason
// is there all the same, and taking it for missing would roll it back to its backup.
bool present(const std::wstring& path) { return !nothingAt(path); }

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

namespace {

// Cuts a file written over from its start to what was written, when it was longer: a cut to the
// same size still changes the file's times, one more metadata write.
bool cutTo(File& f, uint64_t bytes) {
  uint64_t size = 0;
  return f.size(&size) && (size == bytes || f.truncate(bytes));
}

// Opens P_tmp exclusively and writes (and, unless deferred, flushes) the new content into `f`,
// which stays open; a failed P_tmp is removed again. `reuse` writes over an existing P_tmp and
// cuts it to size after, rather than emptying it first (on ext4, emptying a file makes its close
// write it out).
unsigned writeOpenTemporary(const std::wstring& path, std::string_view head, std::string_view rest, Flush flush,
                            File& f, bool reuse = false) {
  const std::wstring tmp = temporaryPath(path);
  if (!f.open(tmp, GENERIC_WRITE, 0, reuse ? OPEN_ALWAYS : CREATE_ALWAYS)) return diskFullOr(OXMDL_ERR_STG_PRIM_OPEN);
  ScopeGuard dropTemporary([&] {
    f.close();
    DeleteFileW(tmp);
  });
  if (!f.write(head.data(), head.size()) || (!rest.empty() && !f.write(rest.data(), rest.size())) ||
      (reuse && !cutTo(f, head.size() + rest.size())) || (flush == Flush::Now && !f.flush())) {
    return diskFullOr(OXMDL_ERR_STG_PRIM_WRITE);
  }
  dropTemporary.dismiss();
  return OXMDL_ERR_NONE;
}

// The rename replaces P in one step: a crash leaves P old (with P_tmp beside it, which the check
// drops) or new, and there is no moment without P, so no backup is needed. `held`, when given,
// is the writer's own exclusive open of P_tmp, which stands for the claim on it; it is closed
// as soon as the rename is done, so that P is not held a moment longer.
// `keepReplaced` swaps the names instead, so that P_tmp keeps the old content (rewriteFile).
unsigned renameTemporary(const std::wstring& path, Flush flush, File* held, bool keepReplaced = false) {
  const std::wstring tmp = temporaryPath(path);
  auto step = [&] { return keepReplaced ? ExchangeFileNames(path, tmp, held) : DeleteAndRenameFile(path, tmp, held); };
  if (!retrying(L"MoveFile", 100, step)) return OXMDL_ERR_STG_PRIM_COMMIT;
  if (held) held->close();
  if (flush == Flush::Now) syncDirectoryOf(path);
  return OXMDL_ERR_NONE;
}

std::string_view bytes(const void* data, size_t size) { return {static_cast<const char*>(data), size}; }

}  // namespace

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
  File f;
  return writeOpenTemporary(path, bytes(data, size), {}, flush, f);
}

unsigned commitReplacement(const std::wstring& path, Flush flush) { return renameTemporary(path, flush, nullptr); }

unsigned writeAndCommit(const std::wstring& path, const void* data, size_t size, Flush flush) {
  return writeAndCommit(path, bytes(data, size), {}, flush);
}

unsigned writeAndCommit(const std::wstring& path, std::string_view head, std::string_view rest, Flush flush) {
  File f;
  const unsigned code = writeOpenTemporary(path, head, rest, flush, f);
  return code != OXMDL_ERR_NONE ? code : renameTemporary(path, flush, &f);
}

unsigned replaceFile(const std::wstring& path, const void* data, size_t size, Flush flush) {
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_NOFILE) return code;
  return writeAndCommit(path, data, size, flush);
}

// No pre-open check first: whatever it would repair, the new content replaces (a P_tmp is
// written over, a missing P is named anew), and a P_bak left by the old replacement goes at
// the next check. That spares three looks a rewrite.
unsigned rewriteFile(const std::wstring& path, const void* data, size_t size, Flush flush) {
  File f;
  const unsigned code = writeOpenTemporary(path, bytes(data, size), {}, flush, f, true);
  return code != OXMDL_ERR_NONE ? code : renameTemporary(path, flush, &f, true);
}

unsigned RewriteSeries::rewrite(const std::wstring& path, const void* data, size_t size, Flush flush) {
  if (pair_.isOpen() && path == path_ && pair_.writeSpare(data, size, flush == Flush::Now) && pair_.swap()) {
    if (flush == Flush::Now) syncDirectoryOf(path);
    return OXMDL_ERR_NONE;
  }
  const unsigned code = rewriteFile(path, data, size, flush);
  if (code == OXMDL_ERR_NONE && pair_.open(path, temporaryPath(path))) path_ = path;
  return code;
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
