// libFuzzer target: any bytes as the value of a Date field.
#include "codec/date_field.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const oxm::DateField date = oxm::parseDateField(oxm::fuzz::text(data, size));
  // An accepted date is always within the bounds the reader checks.
  const SYSTEMTIME& t = date.local;
  oxm::fuzz::require(!date.accepted || (t.wYear >= 1900 && t.wYear <= 2100 && t.wMonth >= 1 && t.wMonth <= 12 &&
                                        t.wDay >= 1 && t.wDay <= 31));
  return 0;
}
