// A device at +0900, clock at 2026-01-02 03:04:05 UTC (a Friday), and the codec tests' helpers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

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
  EmlCompose codec_;
  // Writes a file under the device root, making its folders.
  void put(const std::string& rel, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(root_.host(rel)).parent_path());
    writeHostFile(root_.host(rel), bytes);
  }
};

inline Email decode(const std::string& raw) {
  EmlCompose c;
  Email e;
  EXPECT_TRUE(c.Decode(&e, &raw)) << std::hex << GetOxMiddleError();
  return e;
}

// The error code of a call that must fail; kSucceeded when it did not.
constexpr unsigned kSucceeded = 0x5CCE55EDu;
inline unsigned failure(bool ok) { return ok ? kSucceeded : GetOxMiddleError(); }
template <typename T>
std::vector<T> vec(const std::list<T>& l) {
  return {l.begin(), l.end()};
}

inline std::vector<std::wstring> names(const std::list<Enclosure>& l, bool display = true) {
  std::vector<std::wstring> out;
  for (const Enclosure& e : l) out.push_back(display ? e.displayName : e.name);
  return out;
}

// The text from the first `marker` on ("(no ...)" when absent).
inline std::string from(const std::string& text, const std::string& marker) {
  const size_t at = text.find(marker);
  return at == std::string::npos ? "(no " + marker + ")" : text.substr(at);
}

// The body of an encoded message: what follows the first empty line.
inline std::string bodyOf(const std::string& text) { return text.substr(text.find("\r\n\r\n") + 4); }
}  // namespace oxm::test
