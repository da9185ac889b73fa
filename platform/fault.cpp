#include "platform/fault.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <mutex>

#include "platform/syserr.h"

namespace oxm::fault {

namespace {

constexpr size_t kOps = static_cast<size_t>(Op::Count);

struct Plan {
  long calls = 0;
  long failFrom = 0;  // 0: no failure planned
  long failTimes = 0;
  DWORD error = 0;
  long killAt = 0;
};

std::mutex lock;
std::array<Plan, kOps> plans;
std::optional<uint64_t> freeSpace;

}  // namespace

void failNth(Op op, int n, DWORD error, int times) {
  std::lock_guard<std::mutex> g(lock);
  Plan& p = plans[static_cast<size_t>(op)];
  p.failFrom = p.calls + n;
  p.failTimes = times;
  p.error = error;
}

void killAtNth(Op op, int n) {
  std::lock_guard<std::mutex> g(lock);
  Plan& p = plans[static_cast<size_t>(op)];
  p.killAt = p.calls + n;
}

void setFreeSpace(std::optional<uint64_t> bytes) {
  std::lock_guard<std::mutex> g(lock);
  freeSpace = bytes;
}

void reset() {
  std::lock_guard<std::mutex> g(lock);
  plans = {};
  freeSpace.reset();
}

long calls(Op op) {
  std::lock_guard<std::mutex> g(lock);
  return plans[static_cast<size_t>(op)].calls;
}

bool injected(Op op) {
  std::lock_guard<std::mutex> g(lock);
  Plan& p = plans[static_cast<size_t>(op)];
  long n = ++p.calls;
  if (p.killAt != 0 && n == p.killAt) kill(getpid(), SIGKILL);
  if (p.failFrom == 0 || n < p.failFrom) return false;
  if (p.failTimes >= 0 && n >= p.failFrom + p.failTimes) return false;
  SetLastError(p.error);
  return true;
}

std::optional<uint64_t> freeSpaceOverride() {
  std::lock_guard<std::mutex> g(lock);
  return freeSpace;
}

}  // namespace oxm::fault
