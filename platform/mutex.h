// Named mutexes (CreateMutexW / WaitForSingleObject / ReleaseMutex): one per name in the
// process, recursive for the owning thread, and shared with other processes through an
// flock on "Locks/<name>" under the root, which the kernel releases if a process dies. The lock
// file stays open between locks (one descriptor per name and process).
// Names are case-sensitive; '/' and '\' become '_' in the file name. An empty name is a
// mutex private to the process. When the lock file cannot be opened (an unwritable root), the
// mutex still excludes the threads of this process and a debug line says so.
#pragma once

#include <string>

namespace oxm {

class NamedMutex {
 public:
  explicit NamedMutex(const std::wstring& name);
  ~NamedMutex() = default;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  void lock();    // waits without time-out
  void unlock();  // the owning thread only; a call from another thread is ignored

 private:
  struct State;
  State* state_;  // process-wide, shared by every NamedMutex of the same name
};

class MutexLock {
 public:
  explicit MutexLock(NamedMutex& m) : m_(m) { m_.lock(); }
  ~MutexLock() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  NamedMutex& m_;
};

}  // namespace oxm
