// A shared read/write memory mapping of the start of an open file (CreateFileMapping and
// MapViewOfFile on the device). Stores into the mapping reach the file without a write call and
// are seen at once by every other process that maps the same file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/fs.h"

namespace oxm {

class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Maps the first `length` bytes of `file`, which must be open for reading and writing and at
  // least that long (a shorter file fails with ERROR_HANDLE_EOF: touching a page past its end
  // would kill the process). The mapping outlives the File object.
  bool map(const File& file, size_t length);
  void unmap();
  bool isMapped() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // Writes the pages holding [offset, offset + length) to the disk (FlushViewOfFile); skipped
  // when flushing is off (OXMIDDLE_SYNC=0), as File::flush is.
  bool flush(size_t offset, size_t length);

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace oxm
