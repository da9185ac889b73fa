#include "platform/mapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault.h"
#include "platform/syserr.h"

namespace oxm {

FileMapping::~FileMapping() { unmap(); }

FileMapping::FileMapping(FileMapping&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    unmap();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

bool FileMapping::map(const File& file, size_t length) {
  unmap();
  if (fault::injected(fault::Op::Map)) return false;
  if (!file.isOpen() || length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  uint64_t bytes = 0;
  if (!file.size(&bytes)) return false;
  if (bytes < length) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd(), 0);
  if (p == MAP_FAILED) {
    SetLastError(errorFromErrno(errno));
    return false;
  }
  data_ = static_cast<uint8_t*>(p);
  size_ = length;
  return true;
}

void FileMapping::unmap() {
  if (data_) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool FileMapping::flush(size_t offset, size_t length) {
  if (!data_ || offset > size_ || length > size_ - offset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (fault::injected(fault::Op::Flush)) return false;
  if (!syncEnabled()) return true;
  // msync wants a page-aligned start.
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t start = offset / page * page;
  if (::msync(data_ + start, offset + length - start, MS_SYNC) != 0) {
    SetLastError(errorFromErrno(errno));
    return false;
  }
  return true;
}

}  // namespace oxm
