// The reference-counted set that interface objects borrow their internal objects from (open
// storages, folders, messages). Every open of the same key shares one object; the object is
// closed (deleted) when the last borrower hands it back. The set does no locking: its owner
// guards it with its named mutex.
#pragma once

#include <map>
#include <memory>

#include "frame/oxerror.h"

namespace oxm {

template <class Key, class Object>
class RefCountedSet {
 public:
  // The object for `key`, made by `open(std::unique_ptr<Object>*) -> code` when the set has none
  // yet. On success *out is the shared object and its count is one higher.
  template <class Open>
  unsigned acquire(const Key& key, Open open, Object** out) {
    auto it = entries_.find(key);
    if (it == entries_.end()) {
      std::unique_ptr<Object> made;
      unsigned code = open(&made);
      if (code != OXMDL_ERR_NONE) return code;
      it = entries_.emplace(key, Entry{std::move(made), 0}).first;
    }
    ++it->second.refs;
    *out = it->second.object.get();
    return OXMDL_ERR_NONE;
  }

  // Hands one reference back; the last one closes the object. False when the object is not in
  // the set (nothing changes then).
  bool release(const Object* object) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.object.get() != object) continue;
      if (--it->second.refs == 0) entries_.erase(it);
      return true;
    }
    return false;
  }

  // As release, but the object whose last reference this was is handed to the caller instead
  // of being closed; null when references remain (or the object is not in the set).
  std::unique_ptr<Object> releaseLast(const Object* object) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.object.get() != object) continue;
      if (--it->second.refs > 0) return nullptr;
      std::unique_ptr<Object> last = std::move(it->second.object);
      entries_.erase(it);
      return last;
    }
    return nullptr;
  }

  // The object for `key` without taking a reference, or null.
  Object* find(const Key& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second.object.get();
  }
  int references(const Key& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? 0 : it->second.refs;
  }
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::unique_ptr<Object> object;
    int refs;
  };
  std::map<Key, Entry> entries_;
};

}  // namespace oxm
