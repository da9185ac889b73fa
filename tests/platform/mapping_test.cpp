#include "platform/mapping.h"

#include <cstring>
#include <string>
#include <utility>

#include "platform/fault.h"
#include "platform/filestamp.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::readHostFile;
using test::writeHostFile;

using MappingTest = test::RootTest;
DWORD fails(bool ok) { return ok ? 0 : GetLastError(); }

TEST_F(MappingTest, StoresReachTheFileAndFailuresAreRefused) {
  writeHostFile(root_.host("m.bin"), std::string(8192, 'a'));
  File f;
  FileMapping m;
  ASSERT_TRUE(f.open(L"m.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  EXPECT_EQ(fails(m.map(f, 8193)), ERROR_HANDLE_EOF) << "a page past the end of the file must never be mapped";
  fault::failNth(fault::Op::Map, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(fails(m.map(f, 8192)), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(m.isMapped());
  ASSERT_TRUE(m.map(f, 8192));
  f.close();  // the mapping stays valid without the handle
  std::memcpy(m.data() + 4100, "XYZW", 4);
  EXPECT_TRUE(m.flush(4100, 4));
  EXPECT_EQ(readHostFile(root_.host("m.bin")).substr(4098, 8), "aaXYZWaa");
  EXPECT_TRUE(m.flush(8188, 4));
  EXPECT_EQ(fails(m.flush(8189, 4)), ERROR_INVALID_PARAMETER) << "a range one byte past the mapping";
  fault::failNth(fault::Op::Flush, 1, ERROR_DISK_FULL);
  EXPECT_EQ(fails(m.flush(0, 4)), ERROR_DISK_FULL);
  // A move hands the mapping over and leaves the source empty.
  FileMapping moved(std::move(m));
  EXPECT_TRUE(!m.isMapped() && m.size() == 0u);
  EXPECT_TRUE(moved.data()[4100] == 'X' && moved.size() == 8192u);
  moved.unmap();
  EXPECT_FALSE(moved.isMapped());
}

// A stamp sees a rename over the file, a write in place and a deletion, and does not hold the file.
TEST_F(MappingTest, StampSeesReplacementAppendAndDeletion) {
  writeHostFile(root_.host("a.txt"), "one");
  FileStamp s;
  EXPECT_FALSE(s.matches(L"a.txt")) << "an empty stamp never matches";
  s.take(L"a.txt");
  EXPECT_TRUE(s.matches(L"a.txt"));
  writeHostFile(root_.host("a.txt_tmp"), "two");
  ASSERT_TRUE(DeleteAndRenameFile(L"a.txt", L"a.txt_tmp"));
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");
  EXPECT_TRUE(s.matches(L"a.txt")) << "the new file";
  File f;
  ASSERT_TRUE(f.openStream(L"a.txt", "ab") && f.write("+", 1));
  f.close();
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");
  EXPECT_TRUE(s.matches(L"a.txt")) << "the same file, written in place";
  EXPECT_TRUE(DeleteFileW(L"a.txt"));
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");  // of a missing file
  EXPECT_FALSE(s.matches(L"a.txt"));
}

}  // namespace
}  // namespace oxm
