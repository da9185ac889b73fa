// Shifts between local time and UTC by the current difference of the two clocks, as the device
// did: both clocks are read now, as file times, and their difference added.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace oxm {

// A time that is not a valid date (a zero date, a month 13...) comes back unchanged.
SYSTEMTIME localToUtc(const SYSTEMTIME& local);
SYSTEMTIME utcToLocal(const SYSTEMTIME& utc);

// The same in two steps, for converting many times with one reading of the clocks: local time
// minus UTC in 100-ns units, and a time shifted by such an amount.
int64_t localMinusUtc();
SYSTEMTIME shiftedTime(const SYSTEMTIME& t, int64_t delta);

}  // namespace oxm
