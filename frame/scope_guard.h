// ScopeGuard runs a clean-up when the scope it guards is left, unless dismissed: the one form of
// "undo what was done so far" on failure paths, so that an early return cannot forget it.
//
//   ScopeGuard removeTemp([&] { fs::remove(tmp); });
//   ... every failure returns early ...
//   removeTemp.dismiss();   // success: keep the file
#pragma once

#include <utility>

template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F undo) : undo_(std::move(undo)) {}
  ~ScopeGuard() {
    if (armed_) undo_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  void dismiss() { armed_ = false; }

 private:
  F undo_;
  bool armed_ = true;
};
