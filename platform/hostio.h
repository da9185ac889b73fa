// Small helpers for the platform files that work on host files and text directly.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"

namespace oxm::host {

// Owns a host file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Hands the descriptor over to the caller, who closes it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// mkdir -p: true when the directory exists afterwards (errno tells why not).
inline bool makeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Wide text as UTF-8; characters without a UTF-8 form (lone surrogates) become '?'.
inline std::string utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int len = static_cast<int>(text.size());
  int need = WideCharToMultiByte(CP_UTF8, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return std::string();
  std::string out(static_cast<size_t>(need), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), len, out.data(), need, nullptr, nullptr);
  return out;
}

// UTF-8 as wide text; false for invalid UTF-8.
inline bool fromUtf8(const std::string& bytes, std::wstring* out) {
  out->clear();
  if (bytes.empty()) return true;
  int len = static_cast<int>(bytes.size());
  int need = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), len, nullptr, 0);
  if (need <= 0) return false;
  out->resize(static_cast<size_t>(need));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), len, out->data(), need);
  return true;
}

}  // namespace oxm::host
