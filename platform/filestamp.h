// Tells whether a file is still the one this process last read or wrote, so that state cached
// from it can be trusted or must be read again (another process may have changed it). A file
// rewritten by replacement is a new file (another inode); one written in place has another size
// or modification time. The stamp pins the file it saw (a descriptor without access or lock),
// so the inode number cannot be reused by a later file and mistaken for it.
#pragma once

#include <cstdint>
#include <string>

namespace oxm {

class FileStamp {
 public:
  FileStamp() = default;
  ~FileStamp();
  FileStamp(const FileStamp&) = delete;
  FileStamp& operator=(const FileStamp&) = delete;

  // Records the file as it is now; a missing file leaves the stamp empty.
  void take(const std::wstring& path);
  // True when the path still names the recorded file, unchanged. An empty stamp never matches.
  bool matches(const std::wstring& path) const;
  void clear();

 private:
  int pin_ = -1;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  uint64_t size_ = 0;
  int64_t mtimeSec_ = 0;
  int64_t mtimeNsec_ = 0;
};

}  // namespace oxm
