// Wherever a rewrite is killed, the next pre-open check yields the old or the new content, whole.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/env.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

// Version n of the file: a header, a body whose size and letter depend on n, a trailer.
std::string version(long n) {
  std::string s = "v=" + std::to_string(n) + "\n";
  s.append(4000 + static_cast<size_t>(n % 97), static_cast<char>('a' + n % 26));
  return s + "\nend=" + std::to_string(n) + "\n";
}

bool writeVersion(long n) {
  const std::string v = version(n);
  return replaceFile(L"data.bin", v.data(), v.size()) == OXMDL_ERR_NONE;
}

// The version the file holds after the pre-open check: -1 when it is not exactly one version.
long currentVersion() {
  if (preOpenCheck(L"data.bin") != OXMDL_ERR_NONE) return -2;
  const std::string content = test::readHostFile(rootDirectory() + "/data.bin");
  const long n = content.starts_with("v=") ? std::atol(content.c_str() + 2) : -1;
  return n >= 0 && content == version(n) ? n : -1;
}

using CrashTest = test::RootTest;

TEST_F(CrashTest, RandomKillsNeverLoseOrMixTheFile) {
  ASSERT_TRUE(writeVersion(0));
  std::mt19937 rng(12345);
  long last = 0;
  for (int round = 0; round < 150; ++round) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(done[0]);
      for (;;) {  // tells the parent once, after its first rewrite
        const long v = currentVersion();
        if (v < 0 || !writeVersion(v + 1)) _exit(v < 0 ? 3 : 4);
        if (done[1] >= 0 && (write(done[1], "w", 1) != 1 || close(done[1]) != 0)) _exit(5);
        done[1] = -1;
      }
    }
    close(done[1]);
    char c;
    ASSERT_EQ(read(done[0], &c, 1), 1) << "the writer stopped before its first rewrite";
    close(done[0]);
    usleep(std::uniform_int_distribution<int>(0, 3000)(rng));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << WEXITSTATUS(status);
    const long now = currentVersion();
    ASSERT_GE(now, last) << "round " << round << ": the file went back or is not one version";
    last = now;
  }
  EXPECT_GE(last, 150) << "every round wrote at least one version";
}

TEST_F(CrashTest, KillAtEveryStepOfTheRewriteAndOfTheRepair) {
  int kills = 0;
  for (fault::Op op : {fault::Op::Open, fault::Op::Write, fault::Op::Flush, fault::Op::Rename, fault::Op::Delete}) {
    for (int n = 1;; ++n) {
      ASSERT_LT(n, 50) << "a rewrite never completes";
      ASSERT_TRUE(writeVersion(1));
      fault::reset();
      fault::killAtNth(op, n);
      const int status = test::childStatus([] { return writeVersion(2) ? 0 : 1; });
      fault::reset();
      if (!WIFSIGNALED(status)) {
        EXPECT_EQ(currentVersion(), 2);
        break;
      }
      ++kills;
      for (fault::Op repairOp : {fault::Op::Rename, fault::Op::Delete}) {  // a second crash, in the repair
        fault::killAtNth(repairOp, 1);
        test::childStatus([] { return preOpenCheck(L"data.bin") == OXMDL_ERR_NONE ? 0 : 1; });
        fault::reset();
      }
      const long v = currentVersion();
      EXPECT_TRUE(v == 1 || v == 2) << "kill at call " << n << " of op " << static_cast<int>(op) << ": " << v;
    }
  }
  // The temporary file's open, write and flush, the rename (and the directory's flush when on).
  EXPECT_GE(kills, syncEnabled() ? 5 : 4);
}

}  // namespace
}  // namespace oxm
