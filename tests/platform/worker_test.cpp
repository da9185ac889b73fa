#include "platform/worker.h"

#include <atomic>

#include "platform/event.h"
#include "platform/fault.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

class WorkerTest : public test::RootTest {
 protected:
  void TearDown() override {
    setStepScale(1.0);
    RootTest::TearDown();
  }
};

// Steps of 1 ms: a held call is not seen as ended; then steps of 1000 s end as soon as the call does.
TEST_F(WorkerTest, StepEndsWhenTheCallEnds) {
  setStepScale(0.001);
  HANDLE release = CreateEventW(true, false, L"");
  StepWorker held;
  ASSERT_TRUE(held.start([release] { WaitForSingleObject(release, INFINITE); }));
  EXPECT_FALSE(held.waitStep() || held.waitStep());
  EXPECT_FALSE(held.start([] {}));  // one call at a time
  SetEvent(release);
  setStepScale(1000.0);
  EXPECT_TRUE(held.waitStep() && held.finished());
  std::atomic<int> runs{0};
  fault::failNth(fault::Op::Thread, 1, 0);
  EXPECT_FALSE(held.start([&] { ++runs; }));
  ASSERT_TRUE(held.start([&] { ++runs; }));
  held.join();
  EXPECT_EQ(runs.load(), 1);
  CloseHandle(release);
}

// Events of one name are one event (the dialer's auto-reset one is checked with the dialer).
TEST_F(WorkerTest, NamedEventsAreSharedByNameUntilTheLastClose) {
  HANDLE a = CreateEventW(true, false, L"tmcprog_telto");
  HANDLE b = CreateEventW(false, true, L"tmcprog_telto");  // opens the same: its modes are ignored
  ASSERT_TRUE(a && a == b);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(b));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0) << "manual reset";
  ResetEvent(a);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  for (HANDLE h : {a, b}) CloseHandle(h);
  HANDLE fresh = CreateEventW(true, true, L"tmcprog_telto");
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
  CloseHandle(fresh);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

}  // namespace
}  // namespace oxm
