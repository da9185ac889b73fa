#include "platform/clock.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

using ClockTest = test::RootTest;

SYSTEMTIME makeTime(int y, int mo, int d, int h, int mi, int s, int ms) {
  return SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
                    static_cast<WORD>(mi), static_cast<WORD>(s), static_cast<WORD>(ms)};
}

uint64_t ticks(const FILETIME& ft) { return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime; }

// "2026-12-06 12:34:56.789 w0": every field, the day of the week last.
std::string show(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d w%d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return text;
}

TEST_F(ClockTest, FileTimeConversionBothWays) {
  const struct {
    SYSTEMTIME time;
    uint64_t ticks;
    const char* shown;
  } cases[] = {
      {makeTime(2026, 12, 6, 12, 34, 56, 789), 0x01DD857E3387BC50ull, "2026-12-06 12:34:56.789 w0"},
      {makeTime(1601, 1, 1, 0, 0, 0, 0), 0, "1601-01-01 00:00:00.000 w1"},  // the epoch
      {makeTime(2024, 2, 29, 0, 0, 0, 0), 133536384000000000ull, "2024-02-29 00:00:00.000 w4"},
      {makeTime(2100, 3, 1, 6, 7, 8, 9), 0x022F9FF3877AAD90ull, "2100-03-01 06:07:08.009 w1"},  // after no 29 Feb
      {makeTime(9999, 12, 31, 23, 59, 59, 999), 0x24C85A5ED1C018F0ull, "9999-12-31 23:59:59.999 w5"},
  };
  for (const auto& c : cases) {
    FILETIME ft{};
    SYSTEMTIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&c.time, &ft)) << c.shown;
    EXPECT_EQ(ticks(ft), c.ticks) << c.shown;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(show(back), c.shown);
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
  EXPECT_EQ(show(got), "2026-12-31 20:00:00.250 w4");
  GetLocalTime(&got);
  EXPECT_EQ(show(got), "2027-01-01 05:00:00.250 w5");  // JST: nine hours later, the next year
  EXPECT_EQ(timeZoneBias(), -540);

  setFixedClock(makeTime(2026, 12, 6, 3, 0, 0, 0), 300);  // five hours behind UTC
  GetLocalTime(&got);
  EXPECT_EQ(show(got), "2026-12-05 22:00:00.000 w6");

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
