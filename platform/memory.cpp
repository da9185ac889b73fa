#include "platform/memory.h"

#include <fcntl.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace oxm {

namespace {

std::mutex fixedLock;
std::optional<uint64_t> fixedAvail;

// The fields are 32 bits wide, as on the device: larger figures saturate.
DWORD saturate(uint64_t bytes) {
  return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes);
}

// A "Name:   123 kB" line of /proc/meminfo in bytes, nullopt when missing.
std::optional<uint64_t> meminfoField(const std::string& text, const char* name) {
  size_t at = 0;
  size_t nameLen = std::strlen(name);
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, nameLen, name) == 0 && text[at + nameLen] == ':') {
      std::string line = text.substr(at + nameLen + 1, end - at - nameLen - 1);
      char* rest = nullptr;
      unsigned long long kb = std::strtoull(line.c_str(), &rest, 10);
      if (rest == line.c_str()) return std::nullopt;
      return static_cast<uint64_t>(kb) * 1024;
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::string readMeminfo() {
  std::string text;
  int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

// The machine's figures: total and available memory, total and free swap.
struct Figures {
  uint64_t total, avail, swapTotal, swapFree;
};

Figures readFigures() {
  std::string info = readMeminfo();
  struct sysinfo si {};
  sysinfo(&si);
  uint64_t unit = si.mem_unit ? si.mem_unit : 1;
  // Without /proc (a restricted sandbox) sysinfo's figures stand in; its free RAM is a low
  // estimate of what is available.
  return {meminfoField(info, "MemTotal").value_or(si.totalram * unit),
          meminfoField(info, "MemAvailable").value_or(si.freeram * unit),
          meminfoField(info, "SwapTotal").value_or(si.totalswap * unit),
          meminfoField(info, "SwapFree").value_or(si.freeswap * unit)};
}

// The figures, read again when they are older than 50 ms: the device answered from memory,
// while /proc/meminfo costs tens of microseconds, and the callers ask before every buffer (six
// times a received message).
Figures currentFigures() {
  static std::mutex lock;
  static Figures figures{};
  static std::chrono::steady_clock::time_point readAt{};
  std::lock_guard<std::mutex> g(lock);
  const auto now = std::chrono::steady_clock::now();
  if (readAt == std::chrono::steady_clock::time_point{} || now - readAt > std::chrono::milliseconds(50)) {
    figures = readFigures();
    readAt = now;
  }
  return figures;
}

}  // namespace

void GlobalMemoryStatus(MEMORYSTATUS* status) {
  const Figures f = currentFigures();
  uint64_t avail = f.avail;
  {
    std::lock_guard<std::mutex> g(fixedLock);
    if (fixedAvail) avail = *fixedAvail;
  }
  *status = MEMORYSTATUS{};
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad =
      f.total == 0 || avail >= f.total ? 0 : static_cast<DWORD>((f.total - avail) * 100 / f.total);
  status->dwTotalPhys = saturate(f.total);
  status->dwAvailPhys = saturate(avail);
  status->dwTotalPageFile = saturate(f.swapTotal);
  status->dwAvailPageFile = saturate(f.swapFree);
  // A 64-bit process's address space does not fit the fields at all.
  status->dwTotalVirtual = 0xFFFFFFFFu;
  status->dwAvailVirtual = 0xFFFFFFFFu;
}

void setFixedAvailPhys(std::optional<uint64_t> bytes) {
  std::lock_guard<std::mutex> g(fixedLock);
  fixedAvail = bytes;
}

}  // namespace oxm
