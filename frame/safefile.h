// Crash-safe replacement of a whole file P through P_tmp and P_bak, and the pre-open check that
// repairs whatever an interrupted replacement left. Results are the store primitives' codes
// (OXMDL_ERR_STG_PRIM_*); moduleCode() turns the six replacement outcomes into a module's own.
//
// Writing: preOpenCheck(P); write the whole new content to P_tmp (writeTemporary); then
// commitReplacement(P): P -> P_bak, P_tmp -> P, delete P_bak. After a crash at any point the
// next preOpenCheck yields either the old or the new content, never a mix or nothing.
#pragma once

#include <cstddef>
#include <string>

namespace oxm {

inline std::wstring temporaryPath(const std::wstring& path) { return path + L"_tmp"; }
inline std::wstring backupPath(const std::wstring& path) { return path + L"_bak"; }

// Repairs P from its companions (run under the caller's lock before opening P):
// P and P_tmp: P_tmp is stale and deleted (DELTMP on failure); P_tmp alone: it is complete and
// becomes P (COMMIT); P_bak alone: it becomes P again (RESTORE); none: NOFILE. A leftover P_bak
// is deleted last (DELBAK). The last failure met is the result.
unsigned preOpenCheck(const std::wstring& path);

// Writes `size` bytes as the complete new P_tmp and flushes them to the disk. Returns
// OXMDL_ERR_NONE, OXMDL_ERR_STG_PRIM_OPEN, OXMDL_ERR_STG_PRIM_WRITE or OXMDL_ERR_STG_DISK_FULL
// (platform error 112); a failed P_tmp is removed again.
unsigned writeTemporary(const std::wstring& path, const void* data, size_t size);

// P -> P_bak (BACKUP), P_tmp -> P (COMMIT), delete P_bak (DELBAK), each retried while the file
// is busy. A P that does not exist yet (a new file) skips the first step. The directory is
// flushed once P holds the new content, before the backup goes.
unsigned commitReplacement(const std::wstring& path);

// preOpenCheck (a missing file is fine), writeTemporary, commitReplacement.
unsigned replaceFile(const std::wstring& path, const void* data, size_t size);

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
