#include "platform/connmgr.h"

#include <mutex>
#include <set>

namespace oxm {

namespace {

struct Emulation {
  std::mutex lock;
  std::set<HCONNECTION> open;
  unsigned long next = 1;
  std::optional<DWORD> forced;
  DWORD failStatus = 0;
  int failTimes = 0;
  long dropAfter = -1;  // < 0: never
  int failQueries = 0;
  long queries = 0;
  long establishes = 0;
  GUID last = {};
};

Emulation& emu() {
  static Emulation e;
  return e;
}

}  // namespace

HRESULT ConnMgrEstablishConnectionSync(const CONNMGR_CONNECTIONINFO* info, HCONNECTION* connection,
                                       DWORD /*timeoutMs*/, DWORD* status) {
  Emulation& e = emu();
  std::lock_guard<std::mutex> g(e.lock);
  if (!info || !connection || !status) return E_FAIL;
  ++e.establishes;
  e.last = info->guidDestNet;
  if (e.failTimes != 0) {
    if (e.failTimes > 0) --e.failTimes;
    *status = e.failStatus;
    *connection = nullptr;
    return E_FAIL;
  }
  HCONNECTION h = reinterpret_cast<HCONNECTION>(static_cast<uintptr_t>(e.next++));
  e.open.insert(h);
  *connection = h;
  *status = CONNMGR_STATUS_CONNECTED;
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HCONNECTION connection, DWORD* status) {
  Emulation& e = emu();
  std::lock_guard<std::mutex> g(e.lock);
  if (!status || e.open.count(connection) == 0) return E_FAIL;
  if (e.failQueries > 0) {
    --e.failQueries;
    return E_FAIL;
  }
  ++e.queries;
  if (e.dropAfter == 0) {
    *status = CONNMGR_STATUS_DISCONNECTED;
  } else {
    if (e.dropAfter > 0) --e.dropAfter;
    *status = e.forced ? *e.forced : CONNMGR_STATUS_CONNECTED;
  }
  return S_OK;
}

HRESULT ConnMgrReleaseConnection(HCONNECTION connection, LONG /*cache*/) {
  Emulation& e = emu();
  std::lock_guard<std::mutex> g(e.lock);
  return e.open.erase(connection) ? S_OK : E_FAIL;
}

namespace connmgr {

void forceStatus(std::optional<DWORD> status) {
  std::lock_guard<std::mutex> g(emu().lock);
  emu().forced = status;
}

void failEstablish(DWORD status, int times) {
  std::lock_guard<std::mutex> g(emu().lock);
  emu().failStatus = status;
  emu().failTimes = times;
}

void dropAfterQueries(long queries) {
  std::lock_guard<std::mutex> g(emu().lock);
  emu().dropAfter = queries;
}

void failQueries(int times) {
  std::lock_guard<std::mutex> g(emu().lock);
  emu().failQueries = times;
}

void reset() {
  Emulation& e = emu();
  std::lock_guard<std::mutex> g(e.lock);
  e.forced.reset();
  e.failQueries = 0;
  e.establishes = 0;
  e.failTimes = 0;
  e.failStatus = 0;
  e.dropAfter = -1;
  e.queries = 0;
}

int openConnections() {
  std::lock_guard<std::mutex> g(emu().lock);
  return static_cast<int>(emu().open.size());
}

GUID lastDestination() {
  std::lock_guard<std::mutex> g(emu().lock);
  return emu().last;
}

long statusQueries() {
  std::lock_guard<std::mutex> g(emu().lock);
  return emu().queries;
}

long establishCalls() {
  std::lock_guard<std::mutex> g(emu().lock);
  return emu().establishes;
}

}  // namespace connmgr

}  // namespace oxm
