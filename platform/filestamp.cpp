#include "platform/filestamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/hostio.h"

namespace oxm {

FileStamp::~FileStamp() { clear(); }

void FileStamp::clear() {
  if (pin_ >= 0) ::close(pin_);
  pin_ = -1;
}

void FileStamp::take(const std::wstring& path) {
  const std::string host = hostPath(path);
  struct stat st;
  // The file pinned already (written in place): its pin cannot have been reused by another.
  if (pin_ >= 0 && ::stat(host.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    size_ = static_cast<uint64_t>(st.st_size);
    mtimeSec_ = st.st_mtim.tv_sec;
    mtimeNsec_ = st.st_mtim.tv_nsec;
    return;
  }
  clear();
  // O_PATH takes no share claim, so the stamp never blocks a rename or delete of the file.
  host::Fd fd(::open(host.c_str(), O_PATH | O_CLOEXEC));
  if (!fd.ok()) return;
  if (::fstat(fd.get(), &st) != 0) return;
  pin_ = fd.release();
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = static_cast<uint64_t>(st.st_size);
  mtimeSec_ = st.st_mtim.tv_sec;
  mtimeNsec_ = st.st_mtim.tv_nsec;
}

bool FileStamp::matches(const std::wstring& path) const {
  if (pin_ < 0) return false;
  struct stat st;
  if (::stat(hostPath(path).c_str(), &st) != 0) return false;
  return st.st_dev == device_ && st.st_ino == inode_ && static_cast<uint64_t>(st.st_size) == size_ &&
         st.st_mtim.tv_sec == mtimeSec_ && st.st_mtim.tv_nsec == mtimeNsec_;
}

}  // namespace oxm
