#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <thread>

#include "platform/env.h"
#include "platform/fault.h"
#include "platform/hostio.h"

namespace oxm {

namespace {

bool fail(DWORD error) {
  SetLastError(error);
  return false;
}

bool failErrno() { return fail(errorFromErrno(errno)); }

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::string parentOf(const std::string& host) {
  size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

// ENOENT means "file not found" when the directory exists and "path not found" when not,
// as the device tells the two apart.
DWORD missingError(const std::string& host) {
  struct stat st;
  if (::stat(parentOf(host).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

bool failPath(const std::string& host) {
  if (errno == ENOENT) return fail(missingError(host));
  return failErrno();
}

// Claims a file exclusively for a rename or delete: fails with a sharing violation while the
// file is open anywhere. A directory, or a path that is not there, needs no claim (fd -1).
class Claim {
 public:
  bool take(const std::string& host) {
    fd_ = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd_ < 0) return true;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      release();
      return true;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      release();
      return fail(ERROR_SHARING_VIOLATION);
    }
    return true;
  }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  ~Claim() { release(); }

 private:
  int fd_ = -1;
};

std::atomic<int> syncState{-1};  // -1: not read from the environment yet

bool matchWild(const wchar_t* p, const wchar_t* s) {
  // Iterative '*' / '?' match with one backtrack point, case-insensitive.
  const wchar_t* star = nullptr;
  const wchar_t* resume = nullptr;
  while (*s) {
    if (*p == L'*') {
      star = p++;
      resume = s;
    } else if (*p == L'?' || std::towlower(*p) == std::towlower(*s)) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == L'*') ++p;
  return *p == 0;
}

DWORD attributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR)) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

std::string hostPath(const std::wstring& devicePath) {
  const auto slash = [](wchar_t c) { return c == L'\\' ? L'/' : c; };
  static const std::wstring kHost = L"/host/";
  const bool onHost = devicePath.size() >= kHost.size() &&
                      std::equal(kHost.begin(), kHost.end(), devicePath.begin(), [&](wchar_t a, wchar_t b) {
                        return static_cast<wint_t>(a) == std::towlower(slash(b));
                      });
  size_t start = onHost ? kHost.size() - 1 : 0;
  std::string out;
  if (!onHost) {
    while (start < devicePath.size() && slash(devicePath[start]) == L'/') ++start;
    out = rootDirectory() + "/";
  }
  // Nearly every path is ASCII: turned in one pass, without the UTF-8 encoder.
  if (std::all_of(devicePath.begin() + static_cast<std::ptrdiff_t>(start), devicePath.end(),
                  [](wchar_t c) { return c >= 0 && c < 0x80; })) {
    out.reserve(out.size() + devicePath.size() - start);
    for (size_t i = start; i < devicePath.size(); ++i) out += static_cast<char>(slash(devicePath[i]));
    return out;
  }
  std::wstring rest = devicePath.substr(start);
  for (auto& c : rest) c = slash(c);
  return out + host::utf8(rest);
}

// ---- File ----

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_), append_(other.append_), exclusive_(other.exclusive_) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    append_ = other.append_;
    exclusive_ = other.exclusive_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  close();
  if (fault::injected(fault::Op::Open)) return false;
  const std::string host = hostPath(path);
  int flags = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    flags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  bool truncateAfter = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncateAfter = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncateAfter = true; break;
    default: return fail(ERROR_INVALID_PARAMETER);
  }
  if (append_) flags |= O_APPEND;
  // A rename may move the file between our open and our lock; then we locked the old name's
  // file and must try again on what the path names now.
  for (int attempt = 0; attempt < 8; ++attempt) {
    host::Fd fd(::open(host.c_str(), flags, 0666));
    if (!fd.ok()) {
      if (errno == EEXIST) return fail(ERROR_FILE_EXISTS);
      return failPath(host);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return failErrno();
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (::flock(fd.get(), (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return fail(ERROR_SHARING_VIOLATION);
    struct stat now;
    if (::stat(host.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) continue;
    // An empty file is left alone: truncating it changes nothing but makes the file system
    // write the file out when it is closed (ext4's allocation on close after a truncate).
    if (truncateAfter && now.st_size != 0 && ::ftruncate(fd.get(), 0) != 0) return fail(errorFromErrno(errno));
    fd_ = fd.release();
    exclusive_ = share == 0;
    return true;
  }
  return fail(ERROR_SHARING_VIOLATION);
}

bool File::openUnnamed(const std::wstring& path) {
  close();
  if (fault::injected(fault::Op::Open)) return false;
  // The link goes through /proc/self/fd (linking a descriptor directly needs a privilege), so
  // without /proc (a restricted sandbox) there is no file without a name either.
  static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
  if (!procMounted) return fail(ERROR_NOT_SUPPORTED);
  const std::string host = hostPath(path);
  host::Fd fd(::open(parentOf(host).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!fd.ok()) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return fail(ERROR_NOT_SUPPORTED);
    return failPath(host);
  }
  fd_ = fd.release();
  exclusive_ = false;
  return true;
}

bool File::linkAs(const std::wstring& path) {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Rename)) return false;
  const std::string host = hostPath(path);
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, host.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    if (errno == EEXIST) return fail(ERROR_FILE_EXISTS);
    return failPath(host);
  }
  return true;
}

bool File::openStream(const std::wstring& path, const char* mode) {
  std::string m;
  for (const char* c = mode; *c; ++c) {
    if (*c != 'b' && *c != 't') m += *c;
  }
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  append_ = false;
  if (m == "r") return open(path, GENERIC_READ, share, OPEN_EXISTING);
  if (m == "w") return open(path, GENERIC_WRITE, share, CREATE_ALWAYS);
  if (m == "r+") return open(path, GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING);
  if (m == "w+") return open(path, GENERIC_READ | GENERIC_WRITE, share, CREATE_ALWAYS);
  if (m == "a" || m == "a+") {
    append_ = true;
    DWORD access = m == "a" ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    bool ok = open(path, access, share, OPEN_ALWAYS);
    append_ = false;
    return ok;
  }
  return fail(ERROR_INVALID_PARAMETER);
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::read(void* buf, size_t n, size_t* got) {
  *got = 0;
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Read)) return false;
  char* p = static_cast<char*>(buf);
  while (*got < n) {
    ssize_t r = ::read(fd_, p + *got, n - *got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return failErrno();
    }
    if (r == 0) break;
    *got += static_cast<size_t>(r);
  }
  return true;
}

bool File::readAll(void* buf, size_t n) {
  size_t got = 0;
  if (!read(buf, n, &got)) return false;
  if (got != n) return fail(ERROR_HANDLE_EOF);
  return true;
}

bool File::write(const void* buf, size_t n) {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Write)) return false;
  const char* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd_, p + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return failErrno();
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool File::writeAt(uint64_t offset, const void* buf, size_t n) {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Write)) return false;
  const char* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return failErrno();
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool File::seek(int64_t offset, int whence) {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (::lseek(fd_, offset, whence) < 0) return failErrno();
  return true;
}

bool File::tell(uint64_t* pos) const {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return failErrno();
  *pos = static_cast<uint64_t>(at);
  return true;
}

bool File::size(uint64_t* bytes) const {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return failErrno();
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::truncate(uint64_t bytes) {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) return failErrno();
  return true;
}

bool File::flush() {
  if (fd_ < 0) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Flush)) return false;
  if (syncEnabled() && ::fdatasync(fd_) != 0) return failErrno();
  return true;
}

// ---- names ----

bool MoveFileW(const std::wstring& from, const std::wstring& to) {
  if (fault::injected(fault::Op::Rename)) return false;
  const std::string src = hostPath(from);
  const std::string dst = hostPath(to);
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0) return failPath(src);
  Claim claim;
  if (!claim.take(src)) return false;
  // RENAME_NOREPLACE where the file system has it; a check before the rename elsewhere.
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
  if (errno != EINVAL && errno != ENOSYS) return failPath(dst);
  if (::lstat(dst.c_str(), &st) == 0) return fail(ERROR_ALREADY_EXISTS);
  if (::rename(src.c_str(), dst.c_str()) != 0) return failPath(dst);
  return true;
}

// The checks and claims of DeleteAndRenameFile; `exchange` swaps the two names where it can.
bool replaceName(const std::wstring& destination, const std::wstring& source, const File* held, bool exchange) {
  if (fault::injected(fault::Op::Rename)) return false;
  const std::string src = hostPath(source);
  const std::string dst = hostPath(destination);
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0) return failPath(src);
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  Claim claimSource;
  if (held) {
    struct stat mine;
    if (!held->isOpen() || !held->exclusive_ || ::fstat(held->fd(), &mine) != 0 || mine.st_ino != st.st_ino ||
        mine.st_dev != st.st_dev) {
      return fail(ERROR_INVALID_HANDLE);
    }
  } else if (!claimSource.take(src)) {
    return false;
  }
  Claim claimDestination;
  if (!claimDestination.take(dst)) return false;
  if (exchange && ::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_EXCHANGE) == 0) return true;
  if (::rename(src.c_str(), dst.c_str()) != 0) return failPath(dst);
  return true;
}

bool DeleteAndRenameFile(const std::wstring& destination, const std::wstring& source, const File* held) {
  return replaceName(destination, source, held, false);
}

bool ExchangeFileNames(const std::wstring& destination, const std::wstring& source, const File* held) {
  return replaceName(destination, source, held, true);
}

bool DeleteFileW(const std::wstring& path) {
  if (fault::injected(fault::Op::Delete)) return false;
  const std::string host = hostPath(path);
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return failPath(host);
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  Claim claim;
  if (!claim.take(host)) return false;
  if (::unlink(host.c_str()) != 0) return failPath(host);
  return true;
}

bool CreateDirectoryW(const std::wstring& path) {
  if (fault::injected(fault::Op::CreateDir)) return false;
  const std::string host = hostPath(path);
  if (::mkdir(host.c_str(), 0777) != 0) return failPath(host);
  return true;
}

bool RemoveDirectoryW(const std::wstring& path) {
  if (fault::injected(fault::Op::RemoveDir)) return false;
  const std::string host = hostPath(path);
  if (::rmdir(host.c_str()) != 0) return failPath(host);
  return true;
}

DWORD GetFileAttributesW(const std::wstring& path) {
  const std::string host = hostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    failPath(host);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(st);
}

bool nothingAt(const std::wstring& path) {
  struct stat st;
  return ::stat(hostPath(path).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool SetFileAttributesW(const std::wstring& path, DWORD attributes) {
  const std::string host = hostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return failPath(host);
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (::chmod(host.c_str(), mode) != 0) return failErrno();
  return true;
}

bool GetFileSize(const std::wstring& path, uint64_t* bytes) {
  const std::string host = hostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return failPath(host);
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool GetDiskFreeSpaceExW(const std::wstring& path, uint64_t* freeBytes) {
  if (auto fixed = fault::freeSpaceOverride()) {
    *freeBytes = *fixed;
    return true;
  }
  // The nearest existing directory stands for a path that is not there yet.
  std::string host = hostPath(path);
  struct statvfs vfs;
  while (::statvfs(host.c_str(), &vfs) != 0) {
    if (errno != ENOENT || host == "/" || host == ".") return failErrno();
    host = parentOf(host);
  }
  *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool syncEnabled() {
  int s = syncState.load();
  if (s < 0) {
    auto v = getEnv("OXMIDDLE_SYNC");
    s = (v && *v == "0") ? 0 : 1;
    syncState.store(s);
  }
  return s == 1;
}

void setSyncEnabled(bool on) { syncState.store(on ? 1 : 0); }

bool syncDirectoryOf(const std::wstring& path) {
  if (!syncEnabled()) return true;
  if (fault::injected(fault::Op::Flush)) return false;
  const std::string dir = parentOf(hostPath(path));
  host::Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.ok()) return failErrno();
  if (::fsync(fd.get()) != 0) return fail(errorFromErrno(errno));
  return true;
}

bool syncFileSystemOf(const std::wstring& path) {
  if (!syncEnabled()) return true;
  if (fault::injected(fault::Op::Flush)) return false;
  host::Fd fd(::open(parentOf(hostPath(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.ok()) return failErrno();
  if (::syncfs(fd.get()) != 0) return fail(errorFromErrno(errno));
  return true;
}

// ---- FindFile ----

FindFile::~FindFile() { close(); }

void FindFile::close() {
  if (dir_) ::closedir(static_cast<DIR*>(dir_));
  dir_ = nullptr;
}

bool FindFile::first(const std::wstring& pattern, FindData* out) {
  close();
  if (fault::injected(fault::Op::Find)) return false;
  size_t cut = pattern.size();
  while (cut > 0 && !isSeparator(pattern[cut - 1])) --cut;
  std::wstring dir = pattern.substr(0, cut);
  pattern_ = pattern.substr(cut);
  // "*.*" matches every name, dotted or not, as on the device.
  if (pattern_ == L"*.*") pattern_ = L"*";
  dirPath_ = hostPath(dir.empty() ? std::wstring(L".") : dir);
  DIR* d = ::opendir(dirPath_.c_str());
  if (!d) {
    if (errno == ENOENT || errno == ENOTDIR) return fail(ERROR_PATH_NOT_FOUND);
    return failErrno();
  }
  dir_ = d;
  if (next(out)) return true;
  if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
  close();
  return false;
}

bool FindFile::next(FindData* out) {
  if (!dir_) return fail(ERROR_INVALID_HANDLE);
  DIR* d = static_cast<DIR*>(dir_);
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (!e) {
      if (errno != 0) return failErrno();
      return fail(ERROR_NO_MORE_FILES);
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    // A host name that is not UTF-8 has no device path to reach it by; it is not listed.
    std::wstring name;
    if (!host::fromUtf8(e->d_name, &name)) continue;
    if (!matchWild(pattern_.c_str(), name.c_str())) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0) continue;  // vanished meanwhile
    out->name = name;
    out->attributes = attributesOf(st);
    out->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
  }
}

void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace oxm
