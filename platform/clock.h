// Clock and time zone. Tests fix the clock through setFixedClock.
#pragma once

#include "platform/wintypes.h"

namespace oxm {

void GetSystemTime(SYSTEMTIME* utc);
void GetLocalTime(SYSTEMTIME* local);
// Minutes to add to local time to get UTC (Japan: -540), from the host's TZ.
LONG timeZoneBias();
// Milliseconds since an arbitrary start, wrapping at 2^32.
DWORD GetTickCount();

// False, leaving *ft untouched, when a field is out of range (year 1601-30827, month 1-12, a
// day that the month has, hour < 24, minute and second < 60, milliseconds < 1000);
// wDayOfWeek is ignored.
bool SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
// False, leaving *st untouched, for values with the top bit set; fills wDayOfWeek.
bool FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);

// Freezes the clock at `utc` with the given bias; clearFixedClock returns to the host clock.
// GetLocalTime then gives utc - bias; GetTickCount keeps running.
void setFixedClock(const SYSTEMTIME& utc, LONG biasMinutes);
void clearFixedClock();

}  // namespace oxm
