// The library's error codes and its last-error variable. Codes are 0x02000000 | block << 8 |
// number; success is OXMDL_ERR_NONE. Every failing exported call leaves one code here.
#pragma once

#define OXM_ERROR(name, value, text) inline constexpr unsigned int name = value;
#include "frame/oxerror_table.inc"
#undef OXM_ERROR

// The last-error variable: one per process, 0 until the first failure, never cleared by a
// success.
unsigned int GetOxMiddleError();
void SetOxMiddleError(unsigned int code);

// The constant's name of a code, for example "OXMDL_ERR_STG_DISK_FULL" for 0x02000207, and
// its one-line meaning. A value that is not a code of the table (0, a number of a block
// that has none, any value without the 0x02 prefix) gives nullptr. Neither touches the
// last-error variable; the strings are static.
const char* GetOxMiddleErrorName(unsigned int code);
const char* GetOxMiddleErrorText(unsigned int code);
