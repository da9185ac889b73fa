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

StepWorker::~StepWorker() {
  join();
  {
    std::lock_guard<std::mutex> g(lock_);
    quit_ = true;
  }
  work_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool StepWorker::start(std::function<void()> call) {
  if (fault::injected(fault::Op::Thread)) return false;
  std::lock_guard<std::mutex> g(lock_);
  if (!finished_) return false;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  call_ = std::move(call);
  faults_ = fault::current();
  finished_ = false;
  work_.notify_one();
  return true;
}

void StepWorker::run() {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    work_.wait(g, [this] { return quit_ || !finished_; });
    if (finished_) return;  // the end, with no call pending
    std::function<void()> call = std::move(call_);
    call_ = nullptr;
    fault::Context faults = std::move(faults_);
    g.unlock();
    fault::adopt(faults);
    call();
    call = nullptr;
    g.lock();
    finished_ = true;
    done_.notify_all();
  }
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
  std::unique_lock<std::mutex> g(lock_);
  done_.wait(g, [this] { return finished_; });
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
