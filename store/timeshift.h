// Shifts between local time and UTC by the current difference of the two clocks, as the device
// did: both clocks are read now, as file times, and their difference added.
#pragma once

#include "platform/wintypes.h"

namespace oxm {

// A time that is not a valid date (a zero date, a month 13...) comes back unchanged.
SYSTEMTIME localToUtc(const SYSTEMTIME& local);
SYSTEMTIME utcToLocal(const SYSTEMTIME& utc);

}  // namespace oxm
