#include "platform/clock.h"

#include <time.h>

#include <cstdlib>
#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

using ClockTest = test::RootTest;

SYSTEMTIME makeTime(int y, int mo, int d, int h, int mi, int s, int ms) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  st.wMilliseconds = static_cast<WORD>(ms);
  return st;
}

uint64_t ticks(const FILETIME& ft) {
  return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

void expectTime(const SYSTEMTIME& st, int y, int mo, int dow, int d, int h, int mi, int s, int ms) {
  EXPECT_EQ(st.wYear, y);
  EXPECT_EQ(st.wMonth, mo);
  EXPECT_EQ(st.wDayOfWeek, dow);
  EXPECT_EQ(st.wDay, d);
  EXPECT_EQ(st.wHour, h);
  EXPECT_EQ(st.wMinute, mi);
  EXPECT_EQ(st.wSecond, s);
  EXPECT_EQ(st.wMilliseconds, ms);
}

TEST_F(ClockTest, FileTimeConversionBothWays) {
  const struct {
    int y, mo, dow, d, h, mi, s, ms;
    uint64_t ticks;
  } cases[] = {
      {2026, 12, 0, 6, 12, 34, 56, 789, 0x01DD857E3387BC50ull},  // a Sunday
      {1601, 1, 1, 1, 0, 0, 0, 0, 0},                              // the epoch, a Monday
      {2024, 2, 4, 29, 0, 0, 0, 0, 133536384000000000ull},         // a leap day
      {9999, 12, 5, 31, 23, 59, 59, 999, 0x24C85A5ED1C018F0ull},   // the last millisecond
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.y);
    SYSTEMTIME st = makeTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms), back{};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(ticks(ft), c.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    expectTime(back, c.y, c.mo, c.dow, c.d, c.h, c.mi, c.s, c.ms);
  }
  // Sub-millisecond ticks are dropped, not rounded.
  FILETIME odd{0x3387BC50u + 9999, 0x01DD857Eu};
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&odd, &back));
  EXPECT_EQ(back.wMilliseconds, 789);
}

TEST_F(ClockTest, InvalidFieldsAreRefusedAndLeaveTheOutputAlone) {
  const SYSTEMTIME bad[] = {
      makeTime(2026, 13, 1, 0, 0, 0, 0),    // month
      makeTime(2026, 0, 1, 0, 0, 0, 0),     // month
      makeTime(2026, 4, 31, 0, 0, 0, 0),    // April has 30 days
      makeTime(2026, 2, 29, 0, 0, 0, 0),    // not a leap year
      makeTime(2100, 2, 29, 0, 0, 0, 0),    // century, not a leap year
      makeTime(2026, 1, 0, 0, 0, 0, 0),     // day
      makeTime(2026, 1, 1, 24, 0, 0, 0),    // hour
      makeTime(2026, 1, 1, 0, 60, 0, 0),    // minute
      makeTime(2026, 1, 1, 0, 0, 60, 0),    // second
      makeTime(2026, 1, 1, 0, 0, 0, 1000),  // milliseconds
      makeTime(1600, 12, 31, 0, 0, 0, 0),   // before the epoch
  };
  for (const SYSTEMTIME& st : bad) {
    FILETIME ft{0x11111111u, 0x22222222u};
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(ft.dwLowDateTime, 0x11111111u);
    EXPECT_EQ(ft.dwHighDateTime, 0x22222222u);
  }
  SYSTEMTIME leap = makeTime(2000, 2, 29, 0, 0, 0, 0);
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));

  FILETIME top{0, 0x80000000u};
  SYSTEMTIME st = makeTime(1, 2, 3, 4, 5, 6, 7);
  EXPECT_FALSE(FileTimeToSystemTime(&top, &st));
  EXPECT_EQ(st.wYear, 1);
}

TEST_F(ClockTest, FixedClockGivesLocalTimeFromBias) {
  SYSTEMTIME utc = makeTime(2026, 12, 31, 20, 0, 0, 250);
  utc.wDayOfWeek = 6;  // wrong on purpose: the fixed clock normalises it
  setFixedClock(utc, -540);

  SYSTEMTIME got{};
  GetSystemTime(&got);
  expectTime(got, 2026, 12, 4, 31, 20, 0, 0, 250);
  GetLocalTime(&got);
  expectTime(got, 2027, 1, 5, 1, 5, 0, 0, 250);  // JST: nine hours later, the next year
  EXPECT_EQ(timeZoneBias(), -540);

  setFixedClock(makeTime(2026, 12, 6, 3, 0, 0, 0), 300);  // five hours behind UTC
  GetLocalTime(&got);
  expectTime(got, 2026, 12, 6, 5, 22, 0, 0, 0);  // a Saturday

  clearFixedClock();
  GetSystemTime(&got);
  EXPECT_GE(got.wYear, 2024);
}

TEST_F(ClockTest, HostClockFollowsTz) {
  std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
  bool hadTz = std::getenv("TZ") != nullptr;

  setenv("TZ", "JST-9", 1);
  EXPECT_EQ(timeZoneBias(), -540);
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME fu{}, fl{};
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &fu));
  ASSERT_TRUE(SystemTimeToFileTime(&local, &fl));
  int64_t diff = static_cast<int64_t>(ticks(fl) - ticks(fu));
  EXPECT_NEAR(static_cast<double>(diff), 9.0 * 3600 * 10000000, 2.0 * 10000000);

  // UTC from the host agrees with time().
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  EXPECT_EQ(utc.wYear, tm.tm_year + 1900);
  EXPECT_EQ(utc.wDayOfWeek, tm.tm_wday);

  setenv("TZ", "EST5", 1);
  EXPECT_EQ(timeZoneBias(), 300);
  setenv("TZ", "UTC0", 1);
  EXPECT_EQ(timeZoneBias(), 0);

  if (hadTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(ClockTest, TickCountIsMonotonicMilliseconds) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t before = static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  DWORD tick = GetTickCount();
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t after = static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  // Wrong units or a wrong start would put the tick outside [before, after].
  EXPECT_LE(static_cast<DWORD>(tick - static_cast<DWORD>(before)),
            static_cast<DWORD>(after - before));
}

}  // namespace
}  // namespace oxm
