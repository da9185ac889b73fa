#include "platform/clock.h"

#include <time.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace oxm {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;
// Days from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kDaysTo1970 = 134774;

struct Fixed {
  SYSTEMTIME utc;
  LONG bias;
};

std::mutex fixedLock;
std::optional<Fixed> fixedClock;

std::optional<Fixed> fixedNow() {
  std::lock_guard<std::mutex> g(fixedLock);
  return fixedClock;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(unsigned y, unsigned m) {
  static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// 100 ns ticks since 1601 of a valid SYSTEMTIME; -1 when a field is out of range.
int64_t ticksOf(const SYSTEMTIME& st) {
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > daysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59 || st.wMilliseconds > 999)
    return -1;
  int64_t days = daysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysTo1970;
  int64_t seconds = st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  return days * kTicksPerDay + seconds * kTicksPerSecond + st.wMilliseconds * 10000LL;
}

SYSTEMTIME fromTicks(int64_t ticks) {
  int64_t days = ticks / kTicksPerDay;
  int64_t rest = ticks % kTicksPerDay;
  int64_t y;
  unsigned m, d;
  civilFromDays(days - kDaysTo1970, &y, &m, &d);
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st.wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
  st.wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond) % 60);
  st.wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
  st.wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
  return st;
}

SYSTEMTIME fromTm(const struct tm& tm, long nanoseconds) {
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  // A leap second (tm_sec 60) has no SYSTEMTIME form.
  st.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  st.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
  return st;
}

// tzset reads the zone again, which looks at /etc/localtime at least: it runs when TZ changed
// and otherwise at most once a second, so that a replaced zone file is seen within the second.
void refreshZone() {
  static std::mutex lock;
  static std::optional<std::string> lastTz;
  static time_t lastSecond = -1;
  const char* tz = std::getenv("TZ");
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  std::lock_guard<std::mutex> g(lock);
  const bool sameTz = tz ? lastTz && *lastTz == tz : !lastTz;
  if (now.tv_sec == lastSecond && sameTz) return;
  tzset();
  lastSecond = now.tv_sec;
  lastTz = tz ? std::optional<std::string>(tz) : std::nullopt;
}

// The host's local time for `t`, in the zone as it is now.
struct tm localOf(time_t t) {
  refreshZone();
  struct tm tm;
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace

void GetSystemTime(SYSTEMTIME* utc) {
  if (auto f = fixedNow()) {
    *utc = f->utc;
    return;
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  gmtime_r(&ts.tv_sec, &tm);
  *utc = fromTm(tm, ts.tv_nsec);
}

void GetLocalTime(SYSTEMTIME* local) {
  if (auto f = fixedNow()) {
    // UTC = local + bias, so local = UTC - bias.
    int64_t ticks = ticksOf(f->utc);
    *local = ticks < 0 ? f->utc : fromTicks(ticks - f->bias * 60 * kTicksPerSecond);
    return;
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *local = fromTm(localOf(ts.tv_sec), ts.tv_nsec);
}

LONG timeZoneBias() {
  if (auto f = fixedNow()) return f->bias;
  struct tm tm = localOf(time(nullptr));
  return static_cast<LONG>(-tm.tm_gmtoff / 60);
}

DWORD GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
  return static_cast<DWORD>(ms);
}

bool SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  int64_t ticks = ticksOf(*st);
  if (ticks < 0) return false;
  ft->dwLowDateTime = static_cast<DWORD>(ticks);
  ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

bool FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  uint64_t ticks = static_cast<uint64_t>(ft->dwHighDateTime) << 32 | ft->dwLowDateTime;
  // The device refuses values with the top bit set (beyond year 30827).
  if (ticks >= 0x8000000000000000ull) return false;
  *st = fromTicks(static_cast<int64_t>(ticks));
  return true;
}

void setFixedClock(const SYSTEMTIME& utc, LONG biasMinutes) {
  // A valid time is normalised, so that its day of the week is right whatever was passed.
  int64_t ticks = ticksOf(utc);
  std::lock_guard<std::mutex> g(fixedLock);
  fixedClock = Fixed{ticks < 0 ? utc : fromTicks(ticks), biasMinutes};
}

void clearFixedClock() {
  std::lock_guard<std::mutex> g(fixedLock);
  fixedClock.reset();
}

}  // namespace oxm
