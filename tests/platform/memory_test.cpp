#include "platform/memory.h"

#include <fstream>
#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

using MemoryTest = test::RootTest;

// The figures come from /proc/meminfo (read here on its own) and saturate at 32 bits.
TEST_F(MemoryTest, FiguresComeFromMeminfoAndSaturate) {
  std::ifstream in("/proc/meminfo");
  std::string name, unit;
  uint64_t kb = 0, total = 0;
  while (total == 0 && in >> name >> kb >> unit) total = name == "MemTotal:" ? kb * 1024 : 0;
  ASSERT_GT(total, 0u);
  MEMORYSTATUS st;
  GlobalMemoryStatus(&st);
  EXPECT_EQ(st.dwLength, 32u);
  EXPECT_EQ(st.dwTotalPhys, total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total));
  EXPECT_TRUE(st.dwAvailPhys > 0 && st.dwAvailPhys <= st.dwTotalPhys && st.dwMemoryLoad <= 100u);
  for (auto [avail, shown] : {std::pair{5ull << 30, 0xFFFFFFFFu}, {0x300000ull - 1, 0x2FFFFFu}}) {
    setFixedAvailPhys(avail);
    GlobalMemoryStatus(&st);
    EXPECT_EQ(st.dwAvailPhys, shown);
  }
  setFixedAvailPhys(std::nullopt);
}

}  // namespace
}  // namespace oxm
