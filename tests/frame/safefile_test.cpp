#include "frame/safefile.h"

#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using test::writeHostFile;

class SafeFileTest : public test::RootTest {
 protected:
  // Lays out P, P_tmp and P_bak as given (nullptr: absent).
  void layout(const char* file, const char* tmp, const char* bak) {
    if (file) writeHostFile(root_.host("P"), file);
    if (tmp) writeHostFile(root_.host("P_tmp"), tmp);
    if (bak) writeHostFile(root_.host("P_bak"), bak);
  }
  std::string content() { return hostFileExists(root_.host("P")) ? readHostFile(root_.host("P")) : "<none>"; }
  bool leftovers() { return hostFileExists(root_.host("P_tmp")) || hostFileExists(root_.host("P_bak")); }
};

TEST_F(SafeFileTest, PreOpenCheckRepairsEveryLayout) {
  // File only: nothing to do.
  layout("old", nullptr, nullptr);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "old");

  // File + temporary: the temporary file is a rewrite cut short; the old content wins.
  layout("old", "ne", nullptr);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "old");
  EXPECT_FALSE(leftovers());

  // Temporary only: the file had been moved aside and its backup deleted; the new content wins.
  DeleteFileW(L"P");
  layout(nullptr, "new", nullptr);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
  EXPECT_FALSE(leftovers());

  // Backup + temporary: a crash after the first commit step; the complete new content wins.
  DeleteFileW(L"P");
  layout(nullptr, "new", "old");
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
  EXPECT_FALSE(leftovers());

  // Backup only: it becomes the file again.
  DeleteFileW(L"P");
  layout(nullptr, nullptr, "old");
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "old");
  EXPECT_FALSE(leftovers());

  // File + backup: a crash before the backup was deleted; the file is the new content.
  layout("new", nullptr, "old");
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
  EXPECT_FALSE(leftovers());

  // None: the caller must create the file.
  DeleteFileW(L"P");
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_NOFILE);
  EXPECT_EQ(content(), "<none>");
}

TEST_F(SafeFileTest, PreOpenCheckReportsEachRepairThatFails) {
  layout("old", "x", nullptr);
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_DELTMP);

  DeleteFileW(L"P");
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_COMMIT);
  EXPECT_EQ(readHostFile(root_.host("P_tmp")), "x") << "nothing lost when the repair fails";

  DeleteFileW(L"P_tmp");
  layout(nullptr, nullptr, "old");
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_RESTORE);
  EXPECT_EQ(readHostFile(root_.host("P_bak")), "old");

  layout("new", nullptr, "old");
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_DELBAK);
  EXPECT_EQ(content(), "new");
}

TEST_F(SafeFileTest, CommitIsOneRenameOverTheOldFile) {
  layout("old", nullptr, nullptr);
  ASSERT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_NONE);
  const long renames = fault::calls(fault::Op::Rename);
  const long deletes = fault::calls(fault::Op::Delete);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
  EXPECT_FALSE(leftovers());
  EXPECT_EQ(fault::calls(fault::Op::Rename) - renames, 1);
  EXPECT_EQ(fault::calls(fault::Op::Delete) - deletes, 0);

  // The rename fails: the old file stays whole and the next check drops the temporary file.
  ASSERT_EQ(writeTemporary(L"P", "v3", 2), OXMDL_ERR_NONE);
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_STG_PRIM_COMMIT);
  EXPECT_EQ(content(), "new");
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
  EXPECT_FALSE(leftovers());

  // A new file, and a deferred flush: the same files, no flush counted.
  const long flushes = fault::calls(fault::Op::Flush);
  EXPECT_EQ(replaceFile(L"Q", "q", 1, Flush::Deferred), OXMDL_ERR_NONE);
  EXPECT_EQ(readHostFile(root_.host("Q")), "q");
  EXPECT_EQ(fault::calls(fault::Op::Flush), flushes);
}

TEST_F(SafeFileTest, BusyFilesAreRetriedOneHundredTimes) {
  layout("old", nullptr, nullptr);
  ASSERT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_NONE);
  debugCaptureStart();
  // The first attempt and 99 retries fail; retry 100 succeeds.
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 100);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_NONE);
  std::wstring lines = debugCaptured();
  EXPECT_EQ(content(), "new");
  EXPECT_NE(lines.find(L" Retry MoveFile():(1) /// Reason: file busy\r\n"), std::wstring::npos);
  EXPECT_NE(lines.find(L" Retry MoveFile():(100) /// Reason: file busy\r\n"), std::wstring::npos);
  EXPECT_EQ(lines.find(L"(101)"), std::wstring::npos);

  // 101 failures: the step gives up after retry 100.
  ASSERT_EQ(writeTemporary(L"P", "v3", 2), OXMDL_ERR_NONE);
  debugCaptureStart();
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 101);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_STG_PRIM_COMMIT);
  lines = debugCaptured();
  debugCaptureStop();
  size_t count = 0;
  for (size_t at = lines.find(L" Retry MoveFile()"); at != std::wstring::npos;
       at = lines.find(L" Retry MoveFile()", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 100u);
  EXPECT_EQ(content(), "new");

  // Any other error ends the step at once.
  const long before = fault::calls(fault::Op::Rename);
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_STG_PRIM_COMMIT);
  EXPECT_EQ(fault::calls(fault::Op::Rename) - before, 1);
}

TEST_F(SafeFileTest, ARealHolderDelaysTheCommitUntilItLetsGo) {
  layout("old", nullptr, nullptr);
  ASSERT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_NONE);
  File holder;
  ASSERT_TRUE(holder.openStream(L"P", "rb"));
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_STG_PRIM_COMMIT);
  EXPECT_EQ(content(), "old");
  holder.close();
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(content(), "new");
}

TEST_F(SafeFileTest, DiskFullBecomesTheStoreCode) {
  layout("old", nullptr, nullptr);
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  EXPECT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_STG_DISK_FULL);
  EXPECT_FALSE(hostFileExists(root_.host("P_tmp"))) << "no half-written temporary file";
  fault::failNth(fault::Op::Open, 1, ERROR_DISK_FULL);
  EXPECT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_STG_DISK_FULL);
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_STG_PRIM_WRITE);
  fault::failNth(fault::Op::Open, 1, ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_STG_PRIM_OPEN);
  EXPECT_EQ(content(), "old");
}

TEST_F(SafeFileTest, OutcomesMapToTheModulesOwnCodes) {
  // The message list's six codes start at 0x02000071.
  EXPECT_EQ(moduleCode(0x02004708, 0x02000071), 0x02000071u);
  EXPECT_EQ(moduleCode(0x02004709, 0x02000071), 0x02000072u);
  EXPECT_EQ(moduleCode(0x0200470A, 0x02000071), 0x02000073u);
  EXPECT_EQ(moduleCode(0x0200470B, 0x02000071), 0x02000074u);
  EXPECT_EQ(moduleCode(0x0200470C, 0x02000071), 0x02000075u);
  EXPECT_EQ(moduleCode(0x0200470D, 0x02000071), 0x02000076u);
  EXPECT_EQ(moduleCode(0x02004707, 0x02000071), 0x02004707u);
  EXPECT_EQ(moduleCode(0x0200470E, 0x02000071), 0x0200470Eu);
  EXPECT_EQ(moduleCode(0x02000207, 0x02000071), 0x02000207u);
}

}  // namespace
}  // namespace oxm
