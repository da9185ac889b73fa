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

bool SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
bool FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);

// Freezes the clock at `utc` with the given bias; clearFixedClock returns to the host clock.
void setFixedClock(const SYSTEMTIME& utc, LONG biasMinutes);
void clearFixedClock();

}  // namespace oxm
