#include "platform/memory.h"

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

using MemoryTest = test::RootTest;

// A /proc/meminfo field in bytes, read here independently of the code under test.
uint64_t meminfoBytes(const std::string& field) {
  std::ifstream in("/proc/meminfo");
  std::string name;
  uint64_t kb = 0;
  std::string unit;
  while (in >> name >> kb >> unit)
    if (name == field + ":") return kb * 1024;
  return 0;
}

TEST_F(MemoryTest, FiguresComeFromMeminfoAndSaturate) {
  MEMORYSTATUS st;
  GlobalMemoryStatus(&st);
  EXPECT_EQ(st.dwLength, 32u);
  uint64_t total = meminfoBytes("MemTotal");
  ASSERT_GT(total, 0u);
  EXPECT_EQ(st.dwTotalPhys, total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total));
  EXPECT_GT(st.dwAvailPhys, 0u);
  EXPECT_LE(st.dwAvailPhys, st.dwTotalPhys);
  EXPECT_LE(st.dwMemoryLoad, 100u);

  setFixedAvailPhys(0x300000 - 1);  // just below the feed fetcher's 3 MB threshold
  GlobalMemoryStatus(&st);
  EXPECT_EQ(st.dwAvailPhys, 0x2FFFFFu);

  setFixedAvailPhys(5ull << 30);  // 5 GB does not fit 32 bits
  GlobalMemoryStatus(&st);
  EXPECT_EQ(st.dwAvailPhys, 0xFFFFFFFFu);

  setFixedAvailPhys(std::nullopt);
  GlobalMemoryStatus(&st);
  EXPECT_NE(st.dwAvailPhys, 0x2FFFFFu);
  EXPECT_LE(st.dwAvailPhys, st.dwTotalPhys);
}

}  // namespace
}  // namespace oxm
