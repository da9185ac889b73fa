// One blocking call on a short-lived thread while the caller waits for it in steps.
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

namespace oxm {

// The step length is 1000 ms times the scale (default 1). Process-wide; tests set it.
void setStepScale(double scale);
double stepScale();
// One step in milliseconds (at least 1).
long stepMilliseconds();

class StepWorker {
 public:
  StepWorker() = default;
  // Joins a call still running: stop it first (e.g. Socket::interrupt) when it may block.
  ~StepWorker();
  StepWorker(const StepWorker&) = delete;
  StepWorker& operator=(const StepWorker&) = delete;

  // Runs `call` on a new thread, which adopts the caller's fault table. False when the thread
  // cannot be created (or a Thread fault is injected); a worker runs one call at a time, so
  // start also fails while an earlier call is still running.
  bool start(std::function<void()> call);
  // Waits at most one step; true as soon as the call has ended (also when it ended earlier).
  bool waitStep();
  bool finished();
  // Waits without limit for the call to end and joins the thread.
  void join();

 private:
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable done_;
  bool finished_ = true;
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
