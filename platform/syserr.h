// Platform error numbers, as the device's GetLastError() reported them. The layer sets
// a per-thread last error on every failing call; the logic above reads it right after.
#pragma once

#include "platform/wintypes.h"

namespace oxm {

enum : DWORD {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_NO_MORE_FILES = 18,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_HANDLE_EOF = 38,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_MOD_NOT_FOUND = 126,
  ERROR_PROC_NOT_FOUND = 127,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_MORE_DATA = 234,
  ERROR_BADDB = 1009,
  ERROR_BADKEY = 1010,
  ERROR_NO_UNICODE_TRANSLATION = 1113,
};

DWORD GetLastError();
void SetLastError(DWORD error);

// The platform error for a host errno value (ENOSPC -> 112, EBUSY -> 32, ...).
DWORD errorFromErrno(int err);

}  // namespace oxm
