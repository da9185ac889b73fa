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

}  // namespace

struct Table {
  std::mutex lock;
  std::array<Plan, kOps> plans;
  std::optional<uint64_t> freeSpace;
};

namespace {

Table& processTable() {
  static Table table;
  return table;
}

thread_local Context threadTable;

Table& table() { return threadTable ? *threadTable : processTable(); }

}  // namespace

Context current() { return threadTable; }

void adopt(Context context) { threadTable = std::move(context); }

Session::Session() : previous_(threadTable) { threadTable = std::make_shared<Table>(); }

Session::~Session() { threadTable = std::move(previous_); }

void failNth(Op op, int n, DWORD error, int times) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  Plan& p = t.plans[static_cast<size_t>(op)];
  p.failFrom = p.calls + n;
  p.failTimes = times;
  p.error = error;
}

void killAtNth(Op op, int n) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  Plan& p = t.plans[static_cast<size_t>(op)];
  p.killAt = p.calls + n;
}

void setFreeSpace(std::optional<uint64_t> bytes) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  t.freeSpace = bytes;
}

void reset() {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  t.plans = {};
  t.freeSpace.reset();
}

long calls(Op op) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  return t.plans[static_cast<size_t>(op)].calls;
}

bool injected(Op op) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  Plan& p = t.plans[static_cast<size_t>(op)];
  long n = ++p.calls;
  if (p.killAt != 0 && n == p.killAt) kill(getpid(), SIGKILL);
  if (p.failFrom == 0 || n < p.failFrom) return false;
  if (p.failTimes >= 0 && n >= p.failFrom + p.failTimes) return false;
  SetLastError(p.error);
  return true;
}

std::optional<uint64_t> freeSpaceOverride() {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  return t.freeSpace;
}

}  // namespace oxm::fault
