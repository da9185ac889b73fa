#include "platform/clock.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

using ClockTest = test::RootTest;

SYSTEMTIME makeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
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

TEST_F(ClockTest, FileTimeConversionBothWaysAndItsLimits) {
  const struct {
    SYSTEMTIME time;
    uint64_t ticks;
    const char* shown;
  } cases[] = {
      {makeTime(2026, 12, 6, 12, 34, 56, 789), 0x01DD857E3387BC50ull, "2026-12-06 12:34:56.789 w0"},
      {makeTime(1601, 1, 1), 0, "1601-01-01 00:00:00.000 w1"},  // the epoch
      {makeTime(2024, 2, 29), 133536384000000000ull, "2024-02-29 00:00:00.000 w4"},
      {makeTime(2000, 2, 29), 125962560000000000ull, "2000-02-29 00:00:00.000 w2"},
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
  FILETIME odd{0x3387BC50u + 9999, 0x01DD857Eu}, top{0, 0x80000000u};
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&odd, &back));
  EXPECT_EQ(back.wMilliseconds, 789) << "sub-millisecond ticks are dropped, not rounded";
  EXPECT_FALSE(FileTimeToSystemTime(&top, &back));
  EXPECT_EQ(back.wMilliseconds, 789) << "the top bit is refused and the output left alone";
  // Each field just out of range (April has 30 days, 2026 and 2100 no 29 February) leaves the output.
  const SYSTEMTIME bad[] = {makeTime(2026, 13, 1),       makeTime(2026, 0, 1),        makeTime(2026, 4, 31),
                            makeTime(2026, 2, 29),       makeTime(2100, 2, 29),       makeTime(2026, 1, 0),
                            makeTime(2026, 1, 1, 24),    makeTime(2026, 1, 1, 0, 60), makeTime(2026, 1, 1, 0, 0, 60),
                            makeTime(1600, 12, 31),      makeTime(2026, 1, 1, 0, 0, 0, 1000)};
  for (const SYSTEMTIME& st : bad) {
    FILETIME ft{0x11111111u, 0x22222222u};
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << show(st);
    EXPECT_EQ(ticks(ft), 0x2222222211111111ull);
  }
}

TEST_F(ClockTest, HostClockGivesUtcAndLocalTimeFromTheZone) {
  SYSTEMTIME utc{}, local{};
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  setenv("TZ", "JST-9", 1);
  EXPECT_EQ(timeZoneBias(), -540);
  FILETIME fu{}, fl{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &fu) && SystemTimeToFileTime(&local, &fl));
  EXPECT_NEAR(static_cast<double>(ticks(fl) - ticks(fu)), 9.0 * 3600 * 10000000, 2.0 * 10000000);
  const long long unixSeconds = static_cast<long long>(ticks(fu) / 10000000) - 11644473600LL;
  EXPECT_LE(std::llabs(unixSeconds - static_cast<long long>(time(nullptr))), 2) << "UTC agrees with time()";
  setenv("TZ", "EST5", 1);
  EXPECT_EQ(timeZoneBias(), 300);
  saved ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace oxm
