// One blocking call at a time on a kept thread while the caller waits for it in steps.
//
// The transport waits for a connect, a receive or a send piece in steps of 1000 ms and checks
// its cancel, abort and connection flags between steps. A step ends the moment the call does
// (condition variable, never a fixed sleep). Tests shrink the step with setStepScale so that
// 600 steps take well under a second.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/fault.h"

namespace oxm {

// The step length is 1000 ms times the scale (default 1). Process-wide; tests set it.
void setStepScale(double scale);
double stepScale();
// One step in milliseconds (at least 1).
long stepMilliseconds();

class StepWorker {
 public:
  StepWorker() = default;
  // Waits for a call still running (stop it first, e.g. Socket::interrupt, when it may block),
  // then ends the thread.
  ~StepWorker();
  StepWorker(const StepWorker&) = delete;
  StepWorker& operator=(const StepWorker&) = delete;

  // Runs `call` on the worker's thread, which adopts the caller's fault table for it. The
  // thread is made at the first call and kept for the next ones (a retrieval reads thousands
  // of replies). False when the thread cannot be made (or a Thread fault is injected); a worker
  // runs one call at a time, so start also fails while an earlier call is still running.
  bool start(std::function<void()> call);
  // Waits at most one step; true as soon as the call has ended (also when it ended earlier).
  bool waitStep();
  bool finished();
  // Waits without limit for the call to end.
  void join();

 private:
  void run();

  std::thread thread_;
  std::mutex lock_;
  std::condition_variable done_;  // a call ended
  std::condition_variable work_;  // a call, or the end, was handed over
  std::function<void()> call_;
  fault::Context faults_;
  bool finished_ = true;
  bool quit_ = false;
};

// Waits `steps` steps, asking `stop` (may be empty) before each and at the end; false as soon
// as it says stop. wake() from another thread ends the current step early (it counts as done).
class StepSleeper {
 public:
  bool sleep(unsigned steps, const std::function<bool()>& stop);
  void wake();

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  unsigned long wakes_ = 0;
};

}  // namespace oxm
