// Named events, within the process: one event per name while any handle to it is open, as the
// device kept them. Other programs of the device (the phone's dialer) waited on such events; on
// the host the waiting side is a thread of the same process (tests).
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace oxm {

typedef void* HANDLE;

enum : DWORD { WAIT_OBJECT_0 = 0, WAIT_TIMEOUT = 0x102, WAIT_FAILED = 0xFFFFFFFFu, INFINITE = 0xFFFFFFFFu };

// Opens the event of that name, making it when none is open (then with the given reset mode
// and initial state). An empty name makes a private event. Null only when out of memory.
HANDLE CreateEventW(bool manualReset, bool initialState, const std::wstring& name);
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
// WAIT_OBJECT_0 when signalled within timeoutMs (an auto-reset event is reset by the wait),
// WAIT_TIMEOUT, or WAIT_FAILED for a null handle.
DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs);
// Closes the handle; the event goes away with its last handle.
bool CloseHandle(HANDLE event);

}  // namespace oxm
