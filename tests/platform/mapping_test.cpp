#include "platform/mapping.h"

#include <cstring>
#include <string>
#include <utility>

#include "platform/fault.h"
#include "platform/filestamp.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::readHostFile;
using test::writeHostFile;

using MappingTest = test::RootTest;
const DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
DWORD fails(bool ok) { return ok ? 0 : GetLastError(); }

TEST_F(MappingTest, StoresReachTheFileAndOtherProcesses) {
  writeHostFile(root_.host("m.bin"), std::string(8192, 'a'));
  File f;
  ASSERT_TRUE(f.open(L"m.bin", GENERIC_READ | GENERIC_WRITE, kShared, OPEN_EXISTING));
  FileMapping m;
  ASSERT_TRUE(m.map(f, 8192));
  EXPECT_EQ(m.size(), 8192u);
  f.close();  // the mapping stays valid without the handle
  std::memcpy(m.data() + 4100, "XYZW", 4);
  EXPECT_TRUE(m.flush(4100, 4));
  std::string bytes = readHostFile(root_.host("m.bin"));
  ASSERT_EQ(bytes.size(), 8192u);
  EXPECT_EQ(bytes.substr(4098, 8), "aaXYZWaa");

  // A child maps the same file and changes a byte; the parent's mapping sees it.
  ASSERT_EQ(test::childStatus([] {
              File g;
              FileMapping n;
              if (!g.open(L"m.bin", GENERIC_READ | GENERIC_WRITE, kShared, OPEN_EXISTING) || !n.map(g, 8192)) return 2;
              n.data()[0] = 'Q';
              return 0;
            }),
            0);
  EXPECT_EQ(m.data()[0], 'Q');

  // Ranges outside the mapping are refused.
  EXPECT_EQ(fails(m.flush(8190, 4)), ERROR_INVALID_PARAMETER);
  // A move hands the mapping over and leaves the source empty.
  FileMapping moved(std::move(m));
  EXPECT_FALSE(m.isMapped());
  EXPECT_EQ(m.size(), 0u);
  EXPECT_EQ(moved.data()[0], 'Q');
  moved.unmap();
  EXPECT_FALSE(moved.isMapped());
}

TEST_F(MappingTest, ShortFileAndInjectedFaultsFail) {
  writeHostFile(root_.host("s.bin"), std::string(100, 'a'));
  File f;
  ASSERT_TRUE(f.open(L"s.bin", GENERIC_READ | GENERIC_WRITE, kShared, OPEN_EXISTING));
  FileMapping m;
  EXPECT_EQ(fails(m.map(f, 4096)), ERROR_HANDLE_EOF) << "a page past the end of the file must never be mapped";
  EXPECT_FALSE(m.isMapped());

  fault::failNth(fault::Op::Map, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(fails(m.map(f, 100)), ERROR_NOT_ENOUGH_MEMORY);
  ASSERT_TRUE(m.map(f, 100));
  fault::failNth(fault::Op::Flush, 1, ERROR_DISK_FULL);
  EXPECT_EQ(fails(m.flush(0, 4)), ERROR_DISK_FULL);
  EXPECT_TRUE(m.flush(0, 4));
}

TEST_F(MappingTest, StampSeesReplacementAppendAndDeletion) {
  writeHostFile(root_.host("a.txt"), "one");
  FileStamp s;
  EXPECT_FALSE(s.matches(L"a.txt")) << "an empty stamp never matches";
  s.take(L"a.txt");
  EXPECT_TRUE(s.matches(L"a.txt"));

  // Replaced by a rename: the same size, maybe the same time, but another file.
  writeHostFile(root_.host("a.txt_tmp"), "two");
  ASSERT_TRUE(DeleteAndRenameFile(L"a.txt", L"a.txt_tmp"));
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");
  EXPECT_TRUE(s.matches(L"a.txt"));

  // Written in place to another size.
  File f;
  ASSERT_TRUE(f.openStream(L"a.txt", "ab"));
  ASSERT_TRUE(f.write("+", 1));
  f.close();
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");

  // A stamp does not hold the file: it can still be deleted, and then never matches.
  EXPECT_TRUE(DeleteFileW(L"a.txt"));
  EXPECT_FALSE(s.matches(L"a.txt"));
  s.take(L"a.txt");
  EXPECT_FALSE(s.matches(L"a.txt"));
}

}  // namespace
}  // namespace oxm
