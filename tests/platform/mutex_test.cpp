#include "platform/mutex.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/env.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using MutexTest = test::RootTest;

// Another thread waits for the held mutex `name` (given 50 ms to fail) and gets it after `release`.
void expectOthersWaitFor(const wchar_t* name, const std::function<void()>& release) {
  std::atomic<bool> entered{false};
  std::thread other([&] {
    NamedMutex again(name);
    MutexLock hold(again);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered) << "another thread entered a held mutex";
  release();
  other.join();
  EXPECT_TRUE(entered);
}

TEST_F(MutexTest, RecursiveForTheOwnerExclusiveForOthers) {
  NamedMutex a(L"Ox/Test\\Mutex");
  NamedMutex b(L"Ox/Test\\Mutex");  // the same mutex through another object
  a.lock();
  a.lock();
  b.lock();  // the owning thread may take it again through any object of the name
  EXPECT_TRUE(test::hostFileExists(root_.host("Locks/Ox_Test_Mutex")));
  b.unlock();
  a.unlock();
  std::thread([&] { b.unlock(); }).join();  // a release by a thread that does not own it changes nothing
  expectOthersWaitFor(L"Ox/Test\\Mutex", [&] { a.unlock(); });  // 1 -> 0: now the other thread gets it
}

// Each child rewrites a counter file 500 times under the mutex: a lost update shows. The parent
// has used the mutex first, so the children inherit its lock file and must open their own.
TEST_F(MutexTest, ProcessesExcludeEachOther) {
  const std::string counter = root_.host("counter");
  NamedMutex m(L"OxProcess Mutex");
  m.lock();
  m.unlock();
  EXPECT_TRUE(test::inChildren(2, [&counter](int) {
    NamedMutex mine(L"OxProcess Mutex");
    for (int i = 0; i < 500; ++i) {
      MutexLock hold(mine);
      test::writeHostFile(counter, std::to_string(std::stol("0" + test::readHostFile(counter)) + 1));
    }
    return true;
  }));
  EXPECT_EQ(test::readHostFile(counter), "1000");
}

TEST_F(MutexTest, AnUnusableRootStillLocksThisProcess) {
  NamedMutex m(L"OxNoRoot Mutex");
  m.lock();  // a lock file under the usable root, which must not serve the next root
  m.unlock();
  test::writeHostFile(root_.host("file"), "x");  // the root lies below a regular file: no lock file
  setRootDirectory(root_.host("file/root"));
  m.lock();
  expectOthersWaitFor(L"OxNoRoot Mutex", [&] { m.unlock(); });
}

}  // namespace
}  // namespace oxm
