// libFuzzer target: any bytes as the value of a Date field.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/date_field.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const oxm::DateField date = oxm::parseDateField(std::string_view(reinterpret_cast<const char*>(data), size));
  // An accepted date is always within the bounds the reader checks.
  if (date.accepted && (date.local.wYear < 1900 || date.local.wYear > 2100 || date.local.wMonth < 1 ||
                        date.local.wMonth > 12 || date.local.wDay < 1 || date.local.wDay > 31))
    __builtin_trap();
  return 0;
}
