// Fault injection for the platform layer: tests make the Nth call of an operation fail with a
// chosen error, report a chosen free space, or kill the process at a chosen call.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/wintypes.h"

namespace oxm::fault {

// Map is the creation of a memory mapping (mapping.h); its flushes count as Flush.
enum class Op { Open, Read, Write, Flush, Rename, Delete, CreateDir, RemoveDir, Find, Map, Count };

// The nth call of `op` from now (1 = the next one) and the `times - 1` calls after it fail with
// `error` without doing anything; times < 0 fails every call from the nth on.
void failNth(Op op, int n, DWORD error, int times = 1);
// The process kills itself (SIGKILL) when it reaches the nth call of `op`, before doing it.
void killAtNth(Op op, int n);
// GetDiskFreeSpaceExW reports this value instead of the file system's.
void setFreeSpace(std::optional<uint64_t> bytes);
// Clears every injected fault and the call counters.
void reset();
// Calls of `op` since the last reset.
long calls(Op op);

// Used by the platform layer itself: counts the call and tells whether it must fail
// (the error is then already set as the last error).
bool injected(Op op);
std::optional<uint64_t> freeSpaceOverride();

}  // namespace oxm::fault
