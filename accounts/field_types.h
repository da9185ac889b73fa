// The C++ types of the settings tables' type letters (account_keys.inc, common_keys.inc):
// s text, u unsigned 32-bit, i signed 32-bit, b boolean, g GUID.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wintypes.h"

#define OXM_FIELD_TYPE_s std::wstring
#define OXM_FIELD_TYPE_u uint32_t
#define OXM_FIELD_TYPE_i int32_t
#define OXM_FIELD_TYPE_b bool
#define OXM_FIELD_TYPE_g GUID
