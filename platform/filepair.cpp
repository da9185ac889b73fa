#include "platform/filepair.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/syserr.h"

namespace oxm {

namespace {

bool fail(DWORD error) {
  SetLastError(error);
  return false;
}

// Opens `host` and takes its lock without waiting, then checks that the name still names the
// file locked (a rename in between would have moved it away).
host::Fd openLocked(const std::string& host, int flags, int lock, uint64_t* size) {
  host::Fd fd(::open(host.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.ok()) {
    SetLastError(errorFromErrno(errno));
    return {};
  }
  struct stat mine {}, named {};
  if (::fstat(fd.get(), &mine) != 0 || !S_ISREG(mine.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  if (::flock(fd.get(), lock | LOCK_NB) != 0 || ::stat(host.c_str(), &named) != 0 || named.st_ino != mine.st_ino ||
      named.st_dev != mine.st_dev) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return {};
  }
  *size = static_cast<uint64_t>(mine.st_size);
  return fd;
}

}  // namespace

bool FilePair::open(const std::wstring& path, const std::wstring& sparePath) {
  close();
  if (fault::injected(fault::Op::Open)) return false;
  path_ = hostPath(path);
  sparePath_ = hostPath(sparePath);
  // Both open for writing: each is the spare in turn.
  current_ = openLocked(path_, O_WRONLY, LOCK_SH, &currentSize_);
  if (current_.ok()) spare_ = openLocked(sparePath_, O_WRONLY | O_CREAT, LOCK_EX, &spareSize_);
  if (!spare_.ok()) close();
  return spare_.ok();
}

bool FilePair::writeSpare(const void* data, size_t size, bool flush) {
  if (!spare_.ok()) return fail(ERROR_INVALID_HANDLE);
  if (!writeSpareOnce(data, size, flush)) {
    const DWORD error = GetLastError();
    close();
    return fail(error);
  }
  return true;
}

bool FilePair::writeSpareOnce(const void* data, size_t size, bool flush) {
  if (fault::injected(fault::Op::Write)) return false;
  const char* p = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    ssize_t w = ::pwrite(spare_.get(), p + done, size - done, static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return fail(errorFromErrno(errno));
    done += static_cast<size_t>(w);
  }
  // Cut only when it was longer: a cut to the same size is one more metadata write.
  if (spareSize_ > size && ::ftruncate(spare_.get(), static_cast<off_t>(size)) != 0) {
    return fail(errorFromErrno(errno));
  }
  spareSize_ = size;
  if (flush && fault::injected(fault::Op::Flush)) return false;
  if (flush && syncEnabled() && ::fdatasync(spare_.get()) != 0) return fail(errorFromErrno(errno));
  return true;
}

bool FilePair::swap() {
  if (!current_.ok()) return fail(ERROR_INVALID_HANDLE);
  if (fault::injected(fault::Op::Rename)) {
    close();
    return false;
  }
  // The file is claimed as a rename claims it: held by nobody else. A lock converted from shared
  // may be dropped when the conversion fails, so a failure ends the pair.
  if (::flock(current_.get(), LOCK_EX | LOCK_NB) != 0) {
    close();
    return fail(ERROR_SHARING_VIOLATION);
  }
  if (::renameat2(AT_FDCWD, sparePath_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) != 0) {
    const DWORD error = errorFromErrno(errno);
    close();
    return fail(error);
  }
  // The spare is the file now, open to readers again; the old file is the spare, held.
  if (::flock(spare_.get(), LOCK_SH | LOCK_NB) != 0) {
    close();
    return fail(ERROR_SHARING_VIOLATION);
  }
  std::swap(current_, spare_);
  std::swap(currentSize_, spareSize_);
  return true;
}

void FilePair::close() {
  current_.reset();
  spare_.reset();
}

}  // namespace oxm
