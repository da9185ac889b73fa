// The open objects of a storage's folder set or message set, shared by every interface on them
// and guarded by the set's named mutex: each object once, with the acquisitions not yet
// released; the last release closes it.
#pragma once

#include <memory>
#include <new>
#include <string>

#include "frame/oxerror.h"
#include "frame/refset.h"
#include "platform/mutex.h"

namespace oxm {

template <class Object>
class OpenSet {
 public:
  explicit OpenSet(const std::wstring& mutexName) : mutex_(mutexName) {}

  // The object `id`, made by `make(std::unique_ptr<Object>*) -> code` when it is not open yet;
  // running out of memory while making it is OXMDL_ERR_STG_NOT_ENOUGH_MEMORY. The caller
  // holds mutex().
  template <class Make>
  unsigned acquire(unsigned long id, Make make, Object** out) {
    return open_.acquire(id, [&](std::unique_ptr<Object>* made) -> unsigned {
      try {
        return make(made);
      } catch (const std::bad_alloc&) {
        return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
      }
    }, out);
  }
  void release(const Object* object) {
    MutexLock lock(mutex_);
    open_.release(object);
  }
  // As release; the object whose last reference this was goes to the caller, who holds mutex().
  std::unique_ptr<Object> releaseLast(const Object* object) { return open_.releaseLast(object); }
  bool isOpen(unsigned long id) {
    MutexLock lock(mutex_);
    return open_.find(id) != nullptr;
  }
  bool empty() {
    MutexLock lock(mutex_);
    return open_.empty();
  }
  // The open object `id` without taking a reference, or null (the caller holds mutex()).
  Object* find(unsigned long id) const { return open_.find(id); }
  NamedMutex& mutex() { return mutex_; }

 private:
  NamedMutex mutex_;
  RefCountedSet<unsigned long, Object> open_;
};

}  // namespace oxm
