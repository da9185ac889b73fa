#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace oxm {

namespace {

struct Event {
  std::wstring name;
  bool manual = false;
  bool signalled = false;
  int handles = 0;
  std::condition_variable cv;
};

std::mutex lock;
std::map<std::wstring, Event*> named;

}  // namespace

HANDLE CreateEventW(bool manualReset, bool initialState, const std::wstring& name) {
  std::lock_guard<std::mutex> g(lock);
  if (!name.empty()) {
    auto found = named.find(name);
    if (found != named.end()) {
      ++found->second->handles;
      return found->second;
    }
  }
  Event* e = new (std::nothrow) Event;
  if (!e) return nullptr;
  e->name = name;
  e->manual = manualReset;
  e->signalled = initialState;
  e->handles = 1;
  if (!name.empty()) named[name] = e;
  return e;
}

bool SetEvent(HANDLE event) {
  if (!event) return false;
  Event* e = static_cast<Event*>(event);
  std::lock_guard<std::mutex> g(lock);
  e->signalled = true;
  e->cv.notify_all();
  return true;
}

bool ResetEvent(HANDLE event) {
  if (!event) return false;
  std::lock_guard<std::mutex> g(lock);
  static_cast<Event*>(event)->signalled = false;
  return true;
}

DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs) {
  if (!event) return WAIT_FAILED;
  Event* e = static_cast<Event*>(event);
  std::unique_lock<std::mutex> g(lock);
  auto ready = [e] { return e->signalled; };
  if (timeoutMs == INFINITE) {
    e->cv.wait(g, ready);
  } else if (!e->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!e->manual) e->signalled = false;
  return WAIT_OBJECT_0;
}

bool CloseHandle(HANDLE event) {
  if (!event) return false;
  Event* e = static_cast<Event*>(event);
  std::lock_guard<std::mutex> g(lock);
  if (--e->handles > 0) return true;
  if (!e->name.empty()) named.erase(e->name);
  delete e;
  return true;
}

}  // namespace oxm
