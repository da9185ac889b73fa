// A file rewritten whole again and again by one writer, kept as two open files that trade
// names: the new content is written into the spare, and one swap of names makes it the file.
// Between rewrites the file at `path` is held shared (others can read it, nobody can rename or
// delete it) and the spare exclusively (nobody can open it); each rewrite costs a write and a
// swap, where opening, claiming and closing both files costs ten system calls more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/hostio.h"

namespace oxm {

class FilePair {
 public:
  // Opens the file at `path` (which must exist) and the one at `sparePath` (made when missing).
  // ERROR_SHARING_VIOLATION while either is held elsewhere as the other needs it.
  bool open(const std::wstring& path, const std::wstring& sparePath);
  bool isOpen() const { return current_.ok(); }
  // Writes `size` bytes over the spare from its start and cuts it to them; `flush` forces them
  // to the disk (unless flushes are off). Any failure closes the pair.
  bool writeSpare(const void* data, size_t size, bool flush);
  // Swaps the two names in one step: the spare becomes the file, the file the spare. Fails with
  // ERROR_SHARING_VIOLATION while someone else has the file open; any failure closes the pair.
  bool swap();
  void close();

 private:
  bool writeSpareOnce(const void* data, size_t size, bool flush);

  std::string path_;
  std::string sparePath_;
  host::Fd current_;
  host::Fd spare_;
  uint64_t currentSize_ = 0;
  uint64_t spareSize_ = 0;
};

}  // namespace oxm
