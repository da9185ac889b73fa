#include "platform/mutex.h"

#include <pthread.h>
#include <sys/file.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/debug.h"
#include "platform/env.h"
#include "platform/hostio.h"

namespace oxm {

// Invariants: count == 0 exactly when no thread owns the mutex; then owner is the default id
// and no flock is held. While count > 0, owner is the owning thread, and once its lock()
// returned lockFile holds the flock (or is closed when the lock file could not be opened).
// Only the owning thread touches lockFile, fileOwner and fileRoot. The lock file stays open
// between locks (an open per lock was a third of a stored message's opens); it is opened
// again in a child process, whose inherited descriptor shares the parent's lock, and under
// another root.
struct NamedMutex::State {
  std::mutex m;
  std::condition_variable released;
  std::thread::id owner;
  unsigned count = 0;
  host::Fd lockFile;
  pid_t fileOwner = 0;         // the process that opened lockFile
  unsigned long fileRoot = 0;  // the root generation it was opened under
  std::wstring name;
  std::string fileName;  // the name as a file name under Locks/
};

namespace {

std::string lockFileName(const std::wstring& name) {
  std::string file = host::utf8(name);
  for (char& c : file)
    if (c == '/' || c == '\\') c = '_';
  return file;
}

// Opens Locks/<name> under the root. An invalid Fd when the file cannot be opened.
host::Fd openLockFile(const std::string& fileName) {
  std::string dir = rootDirectory() + "/Locks";
  std::string path = dir + "/" + fileName;
  host::Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.ok() && errno == ENOENT && host::makeDirectories(dir))
    fd = host::Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  return fd;
}

// The process id without a system call per lock; a forked child renews it.
std::atomic<pid_t> processId{0};

pid_t currentProcess() {
  static const bool registered = [] {
    processId = ::getpid();
    return pthread_atfork(nullptr, nullptr, [] { processId = ::getpid(); }) == 0;
  }();
  return registered ? processId.load(std::memory_order_relaxed) : ::getpid();
}

}  // namespace

NamedMutex::NamedMutex(const std::wstring& name) {
  // Names are never forgotten: a State must outlive every NamedMutex that refers to it, also
  // during static destruction, and there are only a dozen names.
  static std::mutex namesLock;
  static auto* names = new std::map<std::wstring, State*>;
  std::lock_guard<std::mutex> g(namesLock);
  State*& s = (*names)[name];
  if (!s) {
    s = new State;
    s->name = name;
    s->fileName = lockFileName(name);
  }
  state_ = s;
}

void NamedMutex::lock() {
  State& s = *state_;
  std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> g(s.m);
  if (s.count > 0 && s.owner == me) {
    ++s.count;
    return;
  }
  s.released.wait(g, [&s] { return s.count == 0; });
  s.owner = me;
  s.count = 1;
  g.unlock();
  // The other threads of this process now wait on `released`; only this one waits for
  // the other processes.
  if (s.fileName.empty()) return;  // an unnamed mutex is private to the process
  const pid_t self = currentProcess();
  const unsigned long root = rootGeneration();
  if (!s.lockFile.ok() || s.fileOwner != self || s.fileRoot != root) {
    // Closing an inherited descriptor leaves the parent's lock alone: it holds its own.
    s.lockFile = openLockFile(s.fileName);
    s.fileOwner = self;
    s.fileRoot = root;
  }
  while (s.lockFile.ok() && ::flock(s.lockFile.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      int err = errno;
      s.lockFile.reset();
      errno = err;
    }
  }
  if (!s.lockFile.ok())
    NKDbgPrintfW(L"NamedMutex::lock() no lock file for \"%s\" (errno %d): this process only\r\n",
                 s.name.c_str(), errno);
}

void NamedMutex::unlock() {
  State& s = *state_;
  std::unique_lock<std::mutex> g(s.m);
  if (s.count == 0 || s.owner != std::this_thread::get_id()) return;
  if (--s.count > 0) return;
  if (s.lockFile.ok() && ::flock(s.lockFile.get(), LOCK_UN) != 0) s.lockFile.reset();  // closing releases it too
  s.owner = std::thread::id();
  g.unlock();
  s.released.notify_one();
}

}  // namespace oxm
