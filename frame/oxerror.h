// The library's error codes and its last-error variable. Codes are 0x02000000 | block << 8 |
// number; success is OXMDL_ERR_NONE. Every failing exported call leaves one code here.
#pragma once

#define OXM_ERROR(name, value, text) inline constexpr unsigned int name = value;
#include "frame/oxerror_table.inc"
#undef OXM_ERROR

unsigned int GetOxMiddleError();
void SetOxMiddleError(unsigned int code);
