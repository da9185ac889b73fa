#include "platform/mutex.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/debug.h"
#include "platform/env.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using MutexTest = test::RootTest;

// Reads, increments and rewrites a decimal counter in a host file: a lost update shows.
void bumpCounter(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
  char buf[32] = {};
  ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  long value = n > 0 ? std::stol(std::string(buf, static_cast<size_t>(n))) : 0;
  std::string text = std::to_string(value + 1);
  ::ftruncate(fd, 0);
  ::pwrite(fd, text.data(), text.size(), 0);
  ::close(fd);
}

TEST_F(MutexTest, RecursiveForTheOwnerExclusiveForOthers) {
  NamedMutex a(L"Ox/Test\\Mutex");
  NamedMutex b(L"Ox/Test\\Mutex");  // the same mutex through another object
  a.lock();
  a.lock();
  b.lock();  // the owning thread may take it again through any object of the name
  EXPECT_TRUE(test::hostFileExists(root_.host("Locks/Ox_Test_Mutex")));

  std::atomic<bool> entered{false};
  std::thread other([&] {
    NamedMutex c(L"Ox/Test\\Mutex");
    c.lock();
    entered = true;
    c.unlock();
  });
  b.unlock();
  a.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered) << "another thread entered while the count was still 1";
  a.unlock();  // 1 -> 0: now the other thread gets it
  other.join();
  EXPECT_TRUE(entered);

  // A release by a thread that does not own it changes nothing.
  a.lock();
  std::thread([&] { b.unlock(); }).join();
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    MutexLock hold(b);
    got = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);
  a.unlock();
  waiter.join();
  EXPECT_TRUE(got);
}

TEST_F(MutexTest, ThreadsExcludeEachOther) {
  long counter = 0;
  auto work = [&counter] {
    NamedMutex m(L"OxThreads Mutex");
    for (int i = 0; i < 5000; ++i) {
      MutexLock hold(m);
      long v = counter;
      std::this_thread::yield();
      counter = v + 1;
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 10000);
}

TEST_F(MutexTest, ProcessesExcludeEachOther) {
  const std::string counter = root_.host("counter");
  EXPECT_TRUE(test::inChildren(2, [&counter](int) {
    NamedMutex m(L"OxProcess Mutex");
    for (int i = 0; i < 500; ++i) {
      MutexLock hold(m);
      bumpCounter(counter);
    }
    return true;
  }));
  EXPECT_EQ(test::readHostFile(counter), "1000");
}

TEST_F(MutexTest, AKilledHolderDoesNotBlockOthers) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    NamedMutex m(L"OxKilled Mutex");
    m.lock();
    if (::write(ready[1], "x", 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);

  // The child really holds the lock across processes...
  int probe = ::open(root_.host("Locks/OxKilled Mutex").c_str(), O_RDWR);
  ASSERT_GE(probe, 0);
  EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0);
  // ...until it dies.
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
  ::close(probe);

  NamedMutex m(L"OxKilled Mutex");
  m.lock();
  m.unlock();
}

TEST_F(MutexTest, AnUnusableRootStillLocksThisProcess) {
  // The root lies below a regular file: no lock file can be made.
  test::writeHostFile(root_.host("file"), "x");
  setRootDirectory(root_.host("file/root"));
  debugCaptureStart();
  NamedMutex m(L"OxNoRoot Mutex");
  m.lock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    MutexLock hold(m);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);
  m.unlock();
  other.join();
  EXPECT_TRUE(entered);
  EXPECT_NE(debugCaptured().find(L"NamedMutex::lock() no lock file for \"OxNoRoot Mutex\""),
            std::wstring::npos);
  debugCaptureStop();
}

}  // namespace
}  // namespace oxm
