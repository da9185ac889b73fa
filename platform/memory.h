// Memory status: available physical memory is MemAvailable of /proc/meminfo.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/wintypes.h"

namespace oxm {

void GlobalMemoryStatus(MEMORYSTATUS* status);
// Tests fix the available physical memory; nullopt returns to the host's figure.
void setFixedAvailPhys(std::optional<uint64_t> bytes);

}  // namespace oxm
