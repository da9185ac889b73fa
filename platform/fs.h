// The device file system, mapped under one host directory (the root).
//
// Every path is a device path: "\Application Data\x", "Application Data/x" (either separator;
// relative means from the root). The prefix "\Host\" reaches the host's own file system
// ("\Host\home\me\a.eml" is "/home/me/a.eml"). Failing calls return false (or an invalid
// handle) and set the platform last error (syserr.h).
//
// Share modes: an open with share mode 0 is exclusive. It fails with ERROR_SHARING_VIOLATION
// while the file is open anywhere else (any thread, any process), and any other open, rename
// or delete of the file fails the same way while it is held. Opens with a non-zero share mode
// coexist with each other. The finer read/write share distinctions are not modelled: the
// library only ever opens files exclusively or fully shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/syserr.h"
#include "platform/wintypes.h"

namespace oxm {

enum : DWORD { GENERIC_READ = 0x80000000u, GENERIC_WRITE = 0x40000000u };
enum : DWORD { FILE_SHARE_READ = 1, FILE_SHARE_WRITE = 2 };
enum : DWORD {
  CREATE_NEW = 1,
  CREATE_ALWAYS = 2,
  OPEN_EXISTING = 3,
  OPEN_ALWAYS = 4,
  TRUNCATE_EXISTING = 5,
};
enum : DWORD {
  FILE_ATTRIBUTE_READONLY = 0x01,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu,
};

// An open file. Closing (explicitly or by the destructor) releases its share claim.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);
  // Stream modes as _wfopen takes them ("rb", "wb", "r+b", "ab", "w+b"); fully shared.
  bool openStream(const std::wstring& path, const char* mode);
  // A new file without a name, in the directory of `path`, open for writing (nobody else can open
  // it before it has one): what is written into it shows under `path` all at once when linkAs()
  // names it, and a crash before that leaves nothing. ERROR_NOT_SUPPORTED where the file system
  // (or a missing /proc) cannot make one.
  bool openUnnamed(const std::wstring& path);
  // Names the file opened by openUnnamed(); ERROR_FILE_EXISTS when the name is taken.
  bool linkAs(const std::wstring& path);
  bool isOpen() const { return fd_ >= 0; }
  void close();

  // Reads up to n bytes; *got is 0 at the end of the file.
  bool read(void* buf, size_t n, size_t* got);
  // Reads exactly n bytes or fails (ERROR_HANDLE_EOF when the file ends first).
  bool readAll(void* buf, size_t n);
  bool write(const void* buf, size_t n);
  // Writes at `offset`, leaving the file position alone (a file opened to append gets it at its end).
  bool writeAt(uint64_t offset, const void* buf, size_t n);
  bool seek(int64_t offset, int whence);  // SEEK_SET, SEEK_CUR, SEEK_END
  bool tell(uint64_t* pos) const;
  bool size(uint64_t* bytes) const;
  bool truncate(uint64_t bytes);
  // Forces the written data to the disk (skipped when OXMIDDLE_SYNC=0).
  bool flush();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool append_ = false;
  bool exclusive_ = false;  // opened with share mode 0

  friend bool replaceName(const std::wstring&, const std::wstring&, const File*, bool);
};

// Fails with ERROR_ALREADY_EXISTS when `to` exists.
bool MoveFileW(const std::wstring& from, const std::wstring& to);
// Replaces `destination` by `source` in one step (the destination may be missing). `held`, when
// given, is the caller's exclusive open (share mode 0) of `source`: that open is the source's
// claim, so it is not opened again; the caller closes it afterwards. ERROR_INVALID_HANDLE when
// `held` is not such an open of `source`.
bool DeleteAndRenameFile(const std::wstring& destination, const std::wstring& source, const File* held = nullptr);
// The same, but `source` is left holding what `destination` held (the names are swapped in one
// step), so that no file is freed; where `destination` is missing or the file system cannot
// swap names, the plain replacement.
bool ExchangeFileNames(const std::wstring& destination, const std::wstring& source, const File* held = nullptr);
bool DeleteFileW(const std::wstring& path);
bool CreateDirectoryW(const std::wstring& path);  // ERROR_ALREADY_EXISTS when present
bool RemoveDirectoryW(const std::wstring& path);
DWORD GetFileAttributesW(const std::wstring& path);
// True when nothing is at `path` (it or a directory on its way is missing), by one look and
// without an error code; a path that cannot be looked at for another reason is not missing.
bool nothingAt(const std::wstring& path);
bool SetFileAttributesW(const std::wstring& path, DWORD attributes);
bool GetFileSize(const std::wstring& path, uint64_t* bytes);
// Free bytes for the caller on the file system holding `path` (statvfs).
bool GetDiskFreeSpaceExW(const std::wstring& path, uint64_t* freeBytes);
// Flushes a directory entry change (rename, create, delete) of the directory holding `path`.
bool syncDirectoryOf(const std::wstring& path);
// Flushes everything written to the file system holding `path` (syncfs): for a repair after a
// crash, whose files' state is not known one by one.
bool syncFileSystemOf(const std::wstring& path);
// Whether flushes reach the disk: on unless OXMIDDLE_SYNC=0; benchmarks switch it in one run.
bool syncEnabled();
void setSyncEnabled(bool on);

struct FindData {
  std::wstring name;  // the entry's name, without its directory
  DWORD attributes = 0;
  uint64_t size = 0;
};

// FindFirstFile / FindNextFile over one directory with a "*" / "?" pattern in the last
// component (matched case-insensitively, as on the device; "*.*" matches every name).
// "." and ".." are never returned. The end is ERROR_NO_MORE_FILES.
class FindFile {
 public:
  FindFile() = default;
  ~FindFile();
  FindFile(const FindFile&) = delete;
  FindFile& operator=(const FindFile&) = delete;

  bool first(const std::wstring& pattern, FindData* out);
  bool next(FindData* out);
  void close();

 private:
  void* dir_ = nullptr;
  std::string dirPath_;
  std::wstring pattern_;
};

void Sleep(DWORD milliseconds);

// The host path of a device path (platform-internal users and diagnostics).
std::string hostPath(const std::wstring& devicePath);

}  // namespace oxm
