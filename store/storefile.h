// What every store file has in common: its kind's error codes, the paths of an identifier, and
// the small file steps (whole reads with a size cap, free-space checks, directories that go
// when they are empty).
#pragma once

#include <cstdint>
#include <string>

namespace oxm {

enum class StoreFile {
  TreeStatus,   // TREE\Status.txt
  DataStatus,   // DATA\Status.txt
  MessageList,  // .msg
  ChildList,    // .fld
  HeaderCache,  // .fdb
  MessageFile,  // .eml
  EntryIndex,   // Entry.dat, Entry.txt
};

// Free space the store keeps in reserve before it writes.
inline constexpr uint64_t kFreeSpaceReserve = 512000;
// Identifiers of both allocators run from 0 to this.
inline constexpr unsigned long kMaxId = 65535;

// The kind's code for a primitive's result: PRIM_OPEN, PRIM_WRITE and PRIM_READ become the
// kind's open, write and read codes, the six replacement outcomes its own six; everything else
// (OXMDL_ERR_NONE, OXMDL_ERR_STG_DISK_FULL, ...) passes unchanged.
unsigned fileCode(unsigned primCode, StoreFile kind);
// The kind's format-illegal code (0 for the status files, which have none).
unsigned formatIllegalCode(StoreFile kind);

// "base\LL" and "base\LL\HH" + ext for identifier 0xHHLL: the low byte names the directory.
std::wstring idDirectory(const std::wstring& base, unsigned long id);
std::wstring idPath(const std::wstring& base, unsigned long id, const wchar_t* ext);

// OXMDL_ERR_NONE when the volume holding `path` has at least `minimum` bytes free, else (and
// when the query fails) OXMDL_ERR_STG_DISK_FULL.
unsigned requireFreeSpace(const std::wstring& path, uint64_t minimum);

// Reads a whole file of at most `cap` bytes (shared read). Returns the kind's open or read code,
// its format-illegal code for a longer file, or OXMDL_ERR_STG_NOT_ENOUGH_MEMORY.
unsigned readSmallFile(const std::wstring& path, size_t cap, StoreFile kind, std::string* out);

// Creates `dir` when missing; *made tells whether this call made it. Failure: `failCode`, or
// OXMDL_ERR_STG_DISK_FULL for platform error 112.
unsigned ensureDirectory(const std::wstring& dir, unsigned failCode, bool* made);
// Removes `dir` when it holds nothing; a directory with entries stays, quietly.
void removeDirectoryIfEmpty(const std::wstring& dir);
bool fileExists(const std::wstring& path);

}  // namespace oxm
