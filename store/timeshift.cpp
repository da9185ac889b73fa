#include "store/timeshift.h"

#include "platform/clock.h"

namespace oxm {

namespace {

int64_t fileTimeValue(const FILETIME& ft) {
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

// The two clocks are read one after the other, so the raw difference can be off by the time
// between the reads; it is rounded to whole seconds.
int64_t localMinusUtc() {
  SYSTEMTIME local;
  SYSTEMTIME utc;
  GetLocalTime(&local);
  GetSystemTime(&utc);
  FILETIME l;
  FILETIME u;
  if (!SystemTimeToFileTime(&local, &l) || !SystemTimeToFileTime(&utc, &u)) return 0;
  constexpr int64_t kSecond = 10000000;
  int64_t diff = fileTimeValue(l) - fileTimeValue(u);
  int64_t half = diff < 0 ? -kSecond / 2 : kSecond / 2;
  return (diff + half) / kSecond * kSecond;
}

SYSTEMTIME shiftedTime(const SYSTEMTIME& t, int64_t delta) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&t, &ft)) return t;
  int64_t v = fileTimeValue(ft) + delta;
  if (v < 0) return t;
  FILETIME out;
  out.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(v) & 0xFFFFFFFFu);
  out.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(v) >> 32);
  SYSTEMTIME result;
  if (!FileTimeToSystemTime(&out, &result)) return t;
  return result;
}

SYSTEMTIME localToUtc(const SYSTEMTIME& local) { return shiftedTime(local, -localMinusUtc()); }

SYSTEMTIME utcToLocal(const SYSTEMTIME& utc) { return shiftedTime(utc, localMinusUtc()); }

}  // namespace oxm
