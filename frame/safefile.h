// Crash-safe replacement of a whole file P through P_tmp and P_bak, and the pre-open check that
// repairs whatever an interrupted replacement left. Results are the store primitives' codes
// (OXMDL_ERR_STG_PRIM_*); moduleCode() turns the six replacement outcomes into a module's own.
//
// Writing: preOpenCheck(P); write the whole new content to P_tmp and flush it (writeTemporary);
// then commitReplacement(P): one rename of P_tmp over P, which the file system does atomically,
// and a flush of the directory. After a crash at any point the next preOpenCheck yields either
// the old or the new content, never a mix or nothing. P_bak is never written any more; the check
// still repairs the layouts that the older three-step commit (P -> P_bak, P_tmp -> P, delete
// P_bak) could leave behind.
//
// Flush::Deferred skips both flushes: for files that a batch flushes later or that recovery
// rebuilds (the store's index files inside a batch, store/batch.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/filepair.h"

namespace oxm {

inline std::wstring temporaryPath(const std::wstring& path) { return path + L"_tmp"; }
inline std::wstring backupPath(const std::wstring& path) { return path + L"_bak"; }

enum class Flush { Now, Deferred };

// Repairs P from its companions (run under the caller's lock before opening P):
// P and P_tmp: P_tmp is stale and deleted (DELTMP on failure); P_tmp alone: it is complete and
// becomes P (COMMIT); P_bak alone: it becomes P again (RESTORE); none: NOFILE. A leftover P_bak
// is deleted last (DELBAK). The last failure met is the result.
unsigned preOpenCheck(const std::wstring& path);

// Writes `size` bytes as the complete new P_tmp and flushes them to the disk (unless deferred). Returns
// OXMDL_ERR_NONE, OXMDL_ERR_STG_PRIM_OPEN, OXMDL_ERR_STG_PRIM_WRITE or OXMDL_ERR_STG_DISK_FULL
// (platform error 112); a failed P_tmp is removed again.
unsigned writeTemporary(const std::wstring& path, const void* data, size_t size, Flush flush = Flush::Now);

// P_tmp renamed over P (COMMIT on failure, P untouched and P_tmp left for the next check),
// retried while either is busy; then the directory is flushed (unless deferred).
unsigned commitReplacement(const std::wstring& path, Flush flush = Flush::Now);

// writeTemporary and commitReplacement in one: P_tmp is renamed while its writer still has it
// open exclusively, which proves that nobody else has it open, so it is not opened again to
// claim it. The same codes.
unsigned writeAndCommit(const std::wstring& path, const void* data, size_t size, Flush flush = Flush::Now);
// The same with the content in two pieces, written one after the other (a header and a text
// that may be megabytes: no copy of them joined).
unsigned writeAndCommit(const std::wstring& path, std::string_view head, std::string_view rest, Flush flush);

// preOpenCheck (a missing file is fine), writeAndCommit.
unsigned replaceFile(const std::wstring& path, const void* data, size_t size, Flush flush = Flush::Now);

// writeAndCommit for a file rewritten again and again (the last UID after each message), with
// no pre-open check first: what it would repair, the new content replaces, and a P_bak left by
// the old replacement goes at the next check. The replaced content stays behind as P_tmp, and
// the next rewrite writes into that same file, instead of one file being freed and another made
// each time (ext4 makes every new file walk past each one freed in the last minutes, so a long
// series grows quadratic). The P_tmp left is an older complete copy, what a replacement cut
// short leaves too: the next preOpenCheck drops it, which the end of a series calls. The same
// codes.
unsigned rewriteFile(const std::wstring& path, const void* data, size_t size, Flush flush = Flush::Now);

// rewriteFile for a series of rewrites by one writer (the last UID after each message of a run):
// after the first, P and P_tmp stay open between rewrites as a FilePair, and a rewrite is a
// write into P_tmp and one swap of the names, which leaves the files in the states rewriteFile
// leaves. Meanwhile P can be read, but P_tmp is held: anyone else's pre-open check of P fails
// to delete it (DELTMP) and leaves P as it is. A step that fails ends the pair, and the plain
// rewriteFile does that rewrite. close() ends the series; the next preOpenCheck drops P_tmp.
class RewriteSeries {
 public:
  unsigned rewrite(const std::wstring& path, const void* data, size_t size, Flush flush);
  void close() { pair_.close(); }

 private:
  std::wstring path_;
  FilePair pair_;
};

// A module's code for a primitive's result: the six outcomes BACKUP..NOFILE (0x02004708 to
// 0x0200470D) become firstOutcome + 0..5; other codes pass unchanged.
unsigned moduleCode(unsigned primCode, unsigned firstOutcome);
// OXMDL_ERR_STG_DISK_FULL when the platform's last error is 112 (disk full), else `code`.
unsigned diskFullOr(unsigned code);

// MoveFileW / DeleteFileW / DeleteAndRenameFile retried after 1 ms while they fail with a
// sharing violation, at most `maxRetries` times (-1: no limit), each retry writing
// " Retry <what>():(n) /// Reason: file busy\r\n" to the debug output. The platform's last
// error tells why the last attempt failed.
bool moveFileRetrying(const std::wstring& from, const std::wstring& to, int maxRetries = 100);
bool deleteFileRetrying(const std::wstring& path, int maxRetries = 100);
bool deleteAndRenameRetrying(const std::wstring& destination, const std::wstring& source,
                             int maxRetries = 100);

}  // namespace oxm
