#include "platform/usernotify.h"

#include <sys/file.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/hostio.h"
#include "platform/syserr.h"

namespace oxm {

namespace {

const char kHeader[] = "OxMiddle user notifications 1";

struct Entry {
  uintptr_t handle = 0;
  DWORD type = CNT_TIME;
  DWORD event = 0;
  SYSTEMTIME start{};
  SYSTEMTIME end{};
  std::wstring application;
  std::wstring arguments;
};

std::mutex processLock;  // the file lock is per open file; threads of one process queue here
std::atomic<int> failSetAt{0};

std::string notifyDir() { return rootDirectory() + "/Notify"; }
std::string databasePath() { return notifyDir() + "/Notifications.txt"; }

std::string timeText(const SYSTEMTIME& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return buf;
}

bool parseTime(const std::string& text, SYSTEMTIME* t) {
  unsigned y, mo, d, h, mi, s, ms;
  char tail;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u%c", &y, &mo, &d, &h, &mi, &s, &ms, &tail) != 7) {
    return false;
  }
  *t = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
                  static_cast<WORD>(mi), static_cast<WORD>(s), static_cast<WORD>(ms)};
  return true;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> parts;
  size_t from = 0;
  while (true) {
    size_t tab = line.find('\t', from);
    parts.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return parts;
    from = tab + 1;
  }
}

// The entries of the file's text; false when it does not parse.
bool parse(const std::string& bytes, std::vector<Entry>* out) {
  std::istringstream in(bytes);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> f = splitTabs(line);
    Entry e;
    char* end = nullptr;
    if (f.size() != 7) return false;
    e.handle = std::strtoull(f[0].c_str(), &end, 10);
    if (*end || e.handle == 0) return false;
    e.type = static_cast<DWORD>(std::strtoul(f[1].c_str(), &end, 10));
    if (*end) return false;
    e.event = static_cast<DWORD>(std::strtoul(f[2].c_str(), &end, 10));
    if (*end || !parseTime(f[3], &e.start) || !parseTime(f[4], &e.end)) return false;
    if (!host::fromUtf8(f[5], &e.application) || !host::fromUtf8(f[6], &e.arguments)) return false;
    out->push_back(std::move(e));
  }
  return true;
}

std::string serialize(const std::vector<Entry>& entries) {
  std::string out = std::string(kHeader) + "\n";
  for (const Entry& e : entries) {
    out += std::to_string(e.handle) + "\t" + std::to_string(e.type) + "\t" + std::to_string(e.event) + "\t" +
           timeText(e.start) + "\t" + timeText(e.end) + "\t" + host::utf8(e.application) + "\t" +
           host::utf8(e.arguments) + "\n";
  }
  return out;
}

DWORD readDatabase(std::vector<Entry>* entries) {
  host::Fd fd(::open(databasePath().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return errno == ENOENT ? ERROR_SUCCESS : errorFromErrno(errno);
  std::string bytes;
  char buf[4096];
  while (true) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errorFromErrno(errno);
    }
    bytes.append(buf, static_cast<size_t>(n));
  }
  if (!parse(bytes, entries)) entries->clear();
  return ERROR_SUCCESS;
}

DWORD writeDatabase(const std::vector<Entry>& entries) {
  const std::string path = databasePath();
  const std::string tmp = path + ".tmp";
  const std::string bytes = serialize(entries);
  host::Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  bool ok = fd.ok();
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  const bool sync = getEnv("OXMIDDLE_SYNC").value_or("") != "0";
  ok = ok && (!sync || ::fsync(fd.get()) == 0);
  fd.reset();
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    DWORD e = errorFromErrno(errno);
    ::unlink(tmp.c_str());
    return e;
  }
  return ERROR_SUCCESS;
}

// Runs `work` on the entries under the database lock; the file is rewritten when it sets
// *changed.
DWORD withDatabase(const std::function<DWORD(std::vector<Entry>&, bool*)>& work) {
  std::lock_guard<std::mutex> guard(processLock);
  if (!host::makeDirectories(notifyDir())) return errorFromErrno(errno);
  host::Fd lock(::open((notifyDir() + "/Notifications.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.ok()) return errorFromErrno(errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errorFromErrno(errno);
  }
  std::vector<Entry> entries;
  if (DWORD e = readDatabase(&entries)) return e;
  bool changed = false;
  if (DWORD e = work(entries, &changed)) return e;
  return changed ? writeDatabase(entries) : ERROR_SUCCESS;
}

bool fail(DWORD error) {
  SetLastError(error);
  return false;
}

uint64_t fileTimeOf(const SYSTEMTIME& t) {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&t, &ft)) return 0;
  return uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime;
}

size_t textBytes(const std::wstring& s) { return (s.size() + 1) * sizeof(wchar_t); }

}  // namespace

bool CeGetUserNotificationHandles(HANDLE* handles, DWORD count, DWORD* needed) {
  DWORD e = withDatabase([&](std::vector<Entry>& entries, bool*) -> DWORD {
    if (needed) *needed = static_cast<DWORD>(entries.size());
    for (size_t i = 0; i < entries.size() && i < count; ++i) handles[i] = reinterpret_cast<HANDLE>(entries[i].handle);
    return ERROR_SUCCESS;
  });
  return e == ERROR_SUCCESS || fail(e);
}

bool CeGetUserNotification(HANDLE handle, DWORD size, DWORD* needed, BYTE* buffer) {
  DWORD e = withDatabase([&](std::vector<Entry>& entries, bool*) -> DWORD {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& x) { return x.handle == reinterpret_cast<uintptr_t>(handle); });
    if (it == entries.end()) return ERROR_INVALID_HANDLE;
    const size_t head = sizeof(CE_NOTIFICATION_INFO_HEADER);
    const size_t trig = sizeof(CE_NOTIFICATION_TRIGGER);
    const size_t total = head + trig + textBytes(it->application) + textBytes(it->arguments);
    if (needed) *needed = static_cast<DWORD>(total);
    if (!buffer || size < total) return ERROR_INSUFFICIENT_BUFFER;
    std::memset(buffer, 0, total);
    auto* info = reinterpret_cast<CE_NOTIFICATION_INFO_HEADER*>(buffer);
    auto* trigger = reinterpret_cast<CE_NOTIFICATION_TRIGGER*>(buffer + head);
    auto* app = reinterpret_cast<wchar_t*>(buffer + head + trig);
    auto* args = reinterpret_cast<wchar_t*>(buffer + head + trig + textBytes(it->application));
    std::copy(it->application.begin(), it->application.end(), app);
    std::copy(it->arguments.begin(), it->arguments.end(), args);
    *trigger = CE_NOTIFICATION_TRIGGER{kCeTriggerSize, it->type, it->event, app, args, it->start, it->end};
    *info = CE_NOTIFICATION_INFO_HEADER{handle, 0, trigger, nullptr};
    return ERROR_SUCCESS;
  });
  return e == ERROR_SUCCESS || fail(e);
}

bool CeClearUserNotification(HANDLE handle) {
  DWORD e = withDatabase([&](std::vector<Entry>& entries, bool* changed) -> DWORD {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& x) { return x.handle == reinterpret_cast<uintptr_t>(handle); });
    if (it == entries.end()) return ERROR_INVALID_HANDLE;
    entries.erase(it);
    *changed = true;
    return ERROR_SUCCESS;
  });
  return e == ERROR_SUCCESS || fail(e);
}

HANDLE CeSetUserNotificationEx(HANDLE handle, const CE_NOTIFICATION_TRIGGER* trigger, const void* notification) {
  if (!trigger || trigger->dwSize != kCeTriggerSize || trigger->dwType != CNT_TIME || !trigger->lpszApplication ||
      !*trigger->lpszApplication || notification || fileTimeOf(trigger->stStartTime) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (failSetAt.load() > 0 && failSetAt.fetch_sub(1) == 1) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  uintptr_t made = 0;
  DWORD e = withDatabase([&](std::vector<Entry>& entries, bool* changed) -> DWORD {
    Entry entry;
    entry.type = trigger->dwType;
    entry.event = trigger->dwEvent;
    entry.start = trigger->stStartTime;
    entry.end = trigger->stEndTime;
    entry.application = trigger->lpszApplication;
    entry.arguments = trigger->lpszArguments ? trigger->lpszArguments : L"";
    if (handle) {
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const Entry& x) { return x.handle == reinterpret_cast<uintptr_t>(handle); });
      if (it == entries.end()) return ERROR_INVALID_HANDLE;
      entry.handle = it->handle;
      *it = entry;
    } else {
      uintptr_t top = 0;
      for (const Entry& x : entries) top = std::max(top, x.handle);
      entry.handle = top + 1;
      entries.push_back(entry);
    }
    made = entry.handle;
    *changed = true;
    return ERROR_SUCCESS;
  });
  if (e != ERROR_SUCCESS) {
    SetLastError(e);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(made);
}

void failUserNotificationSetAt(int n) { failSetAt.store(n < 0 ? 0 : n); }

}  // namespace oxm

bool OxTakeDueUserNotifications(std::vector<OxDueNotification>* due) {
  using namespace oxm;
  SYSTEMTIME nowLocal;
  GetLocalTime(&nowLocal);
  const uint64_t now = fileTimeOf(nowLocal);
  std::vector<Entry> fired;
  DWORD e = withDatabase([&](std::vector<Entry>& entries, bool* changed) -> DWORD {
    auto keep = std::stable_partition(entries.begin(), entries.end(), [&](const Entry& x) {
      return x.type != CNT_TIME || fileTimeOf(x.start) > now;
    });
    fired.assign(keep, entries.end());
    *changed = keep != entries.end();
    entries.erase(keep, entries.end());
    return ERROR_SUCCESS;
  });
  if (e != ERROR_SUCCESS) {
    SetLastError(e);
    return false;
  }
  std::stable_sort(fired.begin(), fired.end(),
                   [](const Entry& a, const Entry& b) { return fileTimeOf(a.start) < fileTimeOf(b.start); });
  due->clear();
  for (const Entry& x : fired) due->push_back(OxDueNotification{x.application, x.arguments, x.start});
  return true;
}
