// The codec's check before each large buffer: on the device an allocation failure ended the
// program, so the codec first tries the allocation and reports OXMDL_ERR_MEM_SHORTAGE instead.
#pragma once

#include <cstddef>
#include <optional>

namespace oxm {

// OXMDL_ERR_NONE, or OXMDL_ERR_MEM_SHORTAGE (with the CAUTION lines on the debug output) when
// a block of `bytes` + 100 could not be had. Counts under 51,200 pass without trying.
unsigned heapProbe(size_t bytes);

// Tests make every probe of at least `bytes` fail; nullopt returns to real allocations.
void setHeapProbeLimit(std::optional<size_t> bytes);

}  // namespace oxm
