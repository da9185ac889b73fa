// A device at +0900 whose clock stands at 2026-01-02 03:04:05 UTC (12:04:05 local, a Friday),
// with the codec's own test hooks reset.
#pragma once

#include <string>

#include "codec/emlcompose.h"
#include "codec/heap_probe.h"
#include "frame/oxerror.h"
#include "platform/clock.h"
#include "tests/support/testroot.h"

namespace oxm::test {

class CodecTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    SYSTEMTIME utc{2026, 1, 5, 2, 3, 4, 5, 0};
    setFixedClock(utc, -540);
  }
  void TearDown() override {
    setHeapProbeLimit(std::nullopt);
    RootTest::TearDown();
  }
};

// Decodes a message that must decode.
inline Email decode(const std::string& raw) {
  EmlCompose c;
  Email e;
  EXPECT_TRUE(c.Decode(&e, &raw)) << std::hex << GetOxMiddleError();
  return e;
}

}  // namespace oxm::test
