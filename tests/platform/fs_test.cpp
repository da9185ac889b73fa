#include "platform/fs.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <vector>

#include "platform/fault.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using test::writeHostFile;

using FsTest = test::RootTest;
const DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

// 0 for a call that worked, else the platform's last error.
DWORD fails(bool ok) { return ok ? 0 : GetLastError(); }

TEST_F(FsTest, DevicePathsMapUnderTheRootAndHostPrefixReachesTheHost) {
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"\\Application Data\\OxMail\\a.ini", root_.path() + "/Application Data/OxMail/a.ini"},
      {L"\\Host/home\\me\\a.eml", "/home/me/a.eml"},  // either separator, the prefix in any case
      {L"\\\u65e5\u672c.txt", root_.path() + "/\xe6\x97\xa5\xe6\x9c\xac.txt"},
      {L"/HOST\\tmp\\caf\u00e9/x", "/tmp/caf\xc3\xa9/x"}};
  for (const auto& [device, host] : cases) EXPECT_EQ(hostPath(device), host);
}

// An exclusive open blocks every other open, move, delete or replacement.
TEST_F(FsTest, ExclusiveOpensConflictWithEveryOtherUse) {
  File a, b, c, d;
  ASSERT_TRUE(a.open(L"f.bin", GENERIC_WRITE, 0, CREATE_NEW));
  EXPECT_EQ(fails(b.open(L"f.bin", GENERIC_READ, kShared, OPEN_EXISTING)), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(fails(MoveFileW(L"f.bin", L"g.bin")), ERROR_SHARING_VIOLATION);
  a.close();
  EXPECT_TRUE(b.open(L"f.bin", GENERIC_READ, kShared, OPEN_EXISTING));
  EXPECT_TRUE(c.openStream(L"f.bin", "rb")) << "shared opens coexist";
  EXPECT_EQ(fails(d.open(L"f.bin", GENERIC_READ, 0, OPEN_EXISTING)), ERROR_SHARING_VIOLATION);
  writeHostFile(root_.host("f.bin_tmp"), "new");
  EXPECT_EQ(fails(DeleteAndRenameFile(L"f.bin", L"f.bin_tmp")), ERROR_SHARING_VIOLATION);
  b.close();
  c.close();
  EXPECT_TRUE(DeleteAndRenameFile(L"f.bin", L"f.bin_tmp"));
  EXPECT_EQ(readHostFile(root_.host("f.bin")), "new");
  EXPECT_FALSE(hostFileExists(root_.host("f.bin_tmp")));
  File w, r;
  ASSERT_TRUE(w.open(L"f.bin_tmp", GENERIC_WRITE, 0, CREATE_NEW) && w.write("newer", 5));
  EXPECT_EQ(fails(DeleteAndRenameFile(L"f.bin", L"f.bin_tmp")), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(fails(DeleteAndRenameFile(L"g.bin", L"f.bin", &w)), ERROR_INVALID_HANDLE);
  ASSERT_TRUE(r.open(L"f.bin", GENERIC_READ, kShared, OPEN_EXISTING));
  EXPECT_EQ(fails(DeleteAndRenameFile(L"f.bin", L"f.bin_tmp", &w)), ERROR_SHARING_VIOLATION);
  r.close();
  EXPECT_TRUE(DeleteAndRenameFile(L"f.bin", L"f.bin_tmp", &w));
  w.close();
  EXPECT_EQ(readHostFile(root_.host("f.bin")), "newer");
}

TEST_F(FsTest, EachCallsErrors) {
  File f;
  char buf[16];
  size_t got = 0;
  EXPECT_EQ(fails(f.open(L"none", GENERIC_READ, kShared, OPEN_EXISTING)), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(fails(f.open(L"nodir\\none", GENERIC_READ, kShared, OPEN_EXISTING)), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(f.open(L"a", GENERIC_WRITE, 0, CREATE_NEW) && f.write("hello", 5));
  f.close();
  EXPECT_EQ(fails(f.open(L"a", GENERIC_WRITE, 0, CREATE_NEW)), ERROR_FILE_EXISTS);
  ASSERT_TRUE(f.openStream(L"a", "ab") && f.write("!", 1));
  f.close();
  ASSERT_TRUE(f.openStream(L"a", "rb") && f.read(buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "hello!");
  EXPECT_TRUE(f.read(buf, sizeof buf, &got) && got == 0u) << "at the end";
  ASSERT_TRUE(f.seek(1, SEEK_SET));
  EXPECT_EQ(fails(f.readAll(buf, 6)), ERROR_HANDLE_EOF);
  f.close();
  ASSERT_TRUE(f.openStream(L"a", "r+b") && f.writeAt(1, "EY", 2) && f.write("*", 1));
  f.close();
  EXPECT_EQ(readHostFile(root_.host("a")), "*EYlo!") << "writeAt leaves the position alone";
  ASSERT_TRUE(f.openStream(L"a", "wb"));
  f.close();
  EXPECT_EQ(readHostFile(root_.host("a")), "");
  EXPECT_EQ(fails(f.openStream(L"a", "x")), ERROR_INVALID_PARAMETER);
  writeHostFile(root_.host("b"), "B");
  EXPECT_EQ(fails(MoveFileW(L"a", L"b")), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readHostFile(root_.host("b")), "B");
  EXPECT_TRUE(DeleteAndRenameFile(L"new", L"b")) << "a missing destination is allowed";
  EXPECT_TRUE(CreateDirectoryW(L"\\dir"));
  EXPECT_EQ(fails(CreateDirectoryW(L"\\dir")), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(fails(f.openStream(L"dir", "rb")), ERROR_ACCESS_DENIED);
  writeHostFile(root_.host("dir/x"), "x");
  EXPECT_EQ(fails(RemoveDirectoryW(L"dir")), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(fails(DeleteFileW(L"dir")), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(SetFileAttributesW(L"dir\\x", FILE_ATTRIBUTE_READONLY));
  const DWORD attributes[] = {GetFileAttributesW(L"dir"), GetFileAttributesW(L"dir\\x"), GetFileAttributesW(L"new")};
  EXPECT_EQ(std::vector<DWORD>(attributes, attributes + 3),
            (std::vector<DWORD>{FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL}));
  EXPECT_EQ(GetFileAttributesW(L"dir\\y"), INVALID_FILE_ATTRIBUTES);
  uint64_t size = 0;
  EXPECT_TRUE(GetFileSize(L"dir\\x", &size) && size == 1u);
}

TEST_F(FsTest, FindMatchesPatternsCaseInsensitively) {
  ASSERT_TRUE(CreateDirectoryW(L"data"));
  ASSERT_TRUE(CreateDirectoryW(L"data\\Sub"));
  for (const char* n : {"data/A.ini", "data/b.INI", "data/c.txt", "data/noext", "data/ab.ini"})
    writeHostFile(root_.host(n), "x");
  const struct {
    const wchar_t* pattern;
    std::vector<std::wstring> names;
    DWORD end;  // the error that ends the search
  } cases[] = {
      {L"data\\*.*", {L"A.ini", L"Sub/", L"ab.ini", L"b.INI", L"c.txt", L"noext"}, ERROR_NO_MORE_FILES},
      {L"data\\*.ini", {L"A.ini", L"ab.ini", L"b.INI"}, ERROR_NO_MORE_FILES},
      {L"data/?.ini", {L"A.ini", L"b.INI"}, ERROR_NO_MORE_FILES},
      {L"data\\*.eml", {}, ERROR_FILE_NOT_FOUND},
      {L"nodata\\*", {}, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> names;
    FindFile find;
    FindData data;
    for (bool ok = find.first(c.pattern, &data); ok; ok = find.next(&data))
      names.push_back(data.name + (data.attributes == FILE_ATTRIBUTE_DIRECTORY ? L"/" : L""));
    EXPECT_EQ(GetLastError(), c.end) << &c - cases;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names);
  }
}

// A kill stops the process before the Nth call, so that the crash tests see the state before each step.
TEST_F(FsTest, FaultInjectionKillsBeforeTheNthCall) {
  writeHostFile(root_.host("v"), "v");
  const int status = test::childStatus([] {
    fault::killAtNth(fault::Op::Rename, 2);
    MoveFileW(L"v", L"b");
    MoveFileW(L"b", L"c");
    return 0;
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_TRUE(hostFileExists(root_.host("b")) && !hostFileExists(root_.host("c")));
}

}  // namespace
}  // namespace oxm
