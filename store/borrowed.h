// An object borrowed from one of a storage's reference-counted sets (folders, messages) for the
// length of a scope, handed back by the destructor on every path.
#pragma once

namespace oxm {

template <class Set, class Object>
class Borrowed {
 public:
  explicit Borrowed(Set& set) : set_(set) {}
  ~Borrowed() {
    if (object_) set_.release(object_);
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  unsigned acquire(unsigned long id) { return set_.acquire(id, &object_); }
  Object* get() const { return object_; }

 private:
  Set& set_;
  Object* object_ = nullptr;
};

}  // namespace oxm
