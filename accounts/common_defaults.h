// The defaults of the common settings, from their table.
#pragma once

#include <cstdint>

#include "accounts/common_setting.h"

namespace oxm {

// Sets the fields selected by `mask` to their defaults.
void applyCommonDefaults(OxCommonSettingInterface::Attributes* attrs, uint64_t mask);

}  // namespace oxm
