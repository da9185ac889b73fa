#include "platform/helper_process.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/testroot.h"

namespace {

// Whether a process is gone or only a zombie, waiting at most 10 s for a killed one to die.
bool gone(const std::string& pid) {
  for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z") return true;
  }
  return false;
}

// Lines both ways, the end of input as the signal to finish, else the helper's group is killed.
TEST(HelperProcessTest, TalksByLinesAndEndsWithItsInput) {
  oxm::test::TempRoot dir;
  const std::string log = dir.path() + "/helper.log";
  OxHelperProcess echo;
  ASSERT_TRUE(echo.start({"/bin/sh", "-c", "printf 'ready 1'; read a; echo \" 2\"; echo \"got $a\"; echo oops >&2; cat"},
                         log));
  std::string line, second;
  EXPECT_FALSE(echo.readLine(&line, 100));  // half a line is kept for later
  ASSERT_TRUE(echo.writeLine("deliver 1 alice"));
  ASSERT_TRUE(echo.readLine(&line, 10000) && echo.readLine(&second, 10000));
  EXPECT_EQ(line + "|" + second, "ready 1 2|got deliver 1 alice");
  EXPECT_EQ(echo.finish(10000), 0);  // cat ends at the end of its input
  EXPECT_FALSE(echo.writeLine("late"));
  EXPECT_EQ(oxm::test::readHostFile(log), "oops\n");
  OxHelperProcess missing;
  ASSERT_TRUE(missing.start({dir.path() + "/no-such-program"}, log));
  EXPECT_FALSE(missing.readLine(&line, 10000));
  EXPECT_EQ(missing.finish(), 127);
  // One that ignores the end of its input, with a child of its own.
  OxHelperProcess stubborn;
  ASSERT_TRUE(stubborn.start({"/bin/sh", "-c", "trap '' TERM HUP; sleep 60 & echo $!; wait"}, log));
  ASSERT_TRUE(stubborn.readLine(&line, 10000));
  ASSERT_EQ(::kill(std::stoi(line), 0), 0);
  EXPECT_EQ(stubborn.finish(200), -1);
  EXPECT_TRUE(gone(line));
}

}  // namespace
