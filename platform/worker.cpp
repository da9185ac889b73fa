#include "platform/worker.h"

#include <atomic>
#include <chrono>
#include <system_error>

#include "platform/fault.h"

namespace oxm {

namespace {

std::atomic<double> scale{1.0};

}  // namespace

void setStepScale(double s) { scale.store(s > 0 ? s : 1.0); }

double stepScale() { return scale.load(); }

long stepMilliseconds() {
  long ms = static_cast<long>(1000.0 * scale.load());
  return ms < 1 ? 1 : ms;
}

StepWorker::~StepWorker() { join(); }

bool StepWorker::start(std::function<void()> call) {
  if (fault::injected(fault::Op::Thread)) return false;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!finished_) return false;
  }
  join();
  finished_ = false;
  fault::Context faults = fault::current();
  try {
    thread_ = std::thread([this, faults, call = std::move(call)] {
      fault::adopt(faults);
      call();
      std::lock_guard<std::mutex> g(lock_);
      finished_ = true;
      done_.notify_all();
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> g(lock_);
    finished_ = true;
    return false;
  }
  return true;
}

bool StepWorker::waitStep() {
  std::unique_lock<std::mutex> g(lock_);
  return done_.wait_for(g, std::chrono::milliseconds(stepMilliseconds()), [this] { return finished_; });
}

bool StepWorker::finished() {
  std::lock_guard<std::mutex> g(lock_);
  return finished_;
}

void StepWorker::join() {
  if (thread_.joinable()) thread_.join();
}

bool StepSleeper::sleep(unsigned steps, const std::function<bool()>& stop) {
  for (unsigned i = 0; i < steps; ++i) {
    // The wake count is taken before `stop` is asked, so a wake that comes in between still
    // ends the step.
    std::unique_lock<std::mutex> g(lock_);
    unsigned long seen = wakes_;
    g.unlock();
    if (stop && stop()) return false;
    g.lock();
    cv_.wait_for(g, std::chrono::milliseconds(stepMilliseconds()), [&] { return wakes_ != seen; });
  }
  return !(stop && stop());
}

void StepSleeper::wake() {
  std::lock_guard<std::mutex> g(lock_);
  ++wakes_;
  cv_.notify_all();
}

}  // namespace oxm
