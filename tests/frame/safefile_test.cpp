#include "frame/safefile.h"

#include <cstdio>
#include <optional>
#include <set>
#include <utility>

#include <sys/stat.h>

#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;

class SafeFileTest : public test::RootTest {
 protected:
  // Lays out P, P_tmp and P_bak as given (nullptr: absent).
  void layout(const char* file, const char* tmp, const char* bak) {
    const std::pair<const char*, const char*> files[] = {{"P", file}, {"P_tmp", tmp}, {"P_bak", bak}};
    for (auto [name, bytes] : files) {
      if (bytes) test::writeHostFile(root_.host(name), bytes);
      else std::remove(root_.host(name).c_str());
    }
  }
  std::string read(const char* name) {
    return hostFileExists(root_.host(name)) ? readHostFile(root_.host(name)) : "<none>";
  }
  bool leftovers() { return hostFileExists(root_.host("P_tmp")) || hostFileExists(root_.host("P_bak")); }
};

TEST_F(SafeFileTest, PreOpenCheckRepairsEveryLayoutAndReportsEachRepairThatFails) {
  const struct {
    const char *file, *tmp, *bak;
    std::optional<fault::Op> fail;
    unsigned code;
    const char *kept, *content;  // the file holding the content afterwards
  } cases[] = {
      {"old", nullptr, nullptr, {}, OXMDL_ERR_NONE, "P", "old"},
      {"old", "ne", nullptr, {}, OXMDL_ERR_NONE, "P", "old"},    // a rewrite cut short: the old content wins
      {nullptr, "new", nullptr, {}, OXMDL_ERR_NONE, "P", "new"},  // moved aside, backup deleted: the new wins
      {nullptr, "new", "old", {}, OXMDL_ERR_NONE, "P", "new"},    // after the first commit step
      {nullptr, nullptr, "old", {}, OXMDL_ERR_NONE, "P", "old"},  // the backup becomes the file again
      {"new", nullptr, "old", {}, OXMDL_ERR_NONE, "P", "new"},    // before the backup was deleted
      {nullptr, nullptr, nullptr, {}, OXMDL_ERR_STG_PRIM_NOFILE, "P", "<none>"},
      {"old", "x", nullptr, fault::Op::Delete, OXMDL_ERR_STG_PRIM_DELTMP, "P", "old"},
      {nullptr, "x", nullptr, fault::Op::Rename, OXMDL_ERR_STG_PRIM_COMMIT, "P_tmp", "x"},  // nothing lost
      {nullptr, nullptr, "old", fault::Op::Rename, OXMDL_ERR_STG_PRIM_RESTORE, "P_bak", "old"},
      {"new", nullptr, "old", fault::Op::Delete, OXMDL_ERR_STG_PRIM_DELBAK, "P", "new"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.file ? c.file : "-") << (c.tmp ? c.tmp : "-") << (c.bak ? c.bak : "-"));
    layout(c.file, c.tmp, c.bak);
    if (c.fail) fault::failNth(*c.fail, 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(preOpenCheck(L"P"), c.code);
    EXPECT_EQ(read(c.kept), c.content);
    EXPECT_TRUE(c.fail || !leftovers());
    fault::reset();
  }
}

// The commit is one rename over the old file, retried 100 times while the file is busy.
TEST_F(SafeFileTest, CommitRenamesOnceAndRetriesBusyFiles) {
  layout("old", nullptr, nullptr);
  ASSERT_EQ(writeTemporary(L"P", "new", 3), OXMDL_ERR_NONE);
  const long renames = fault::calls(fault::Op::Rename), deletes = fault::calls(fault::Op::Delete);
  EXPECT_EQ(commitReplacement(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(read("P"), "new");
  EXPECT_FALSE(leftovers());
  EXPECT_EQ(std::pair(fault::calls(fault::Op::Rename) - renames, fault::calls(fault::Op::Delete) - deletes),
            std::pair(1L, 0L));
  debugCaptureStart();
  for (int busy : {100, 101}) {
    ASSERT_EQ(writeTemporary(L"P", busy == 100 ? "v3" : "xx", 2), OXMDL_ERR_NONE);
    fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, busy);
    EXPECT_EQ(commitReplacement(L"P"), busy == 100 ? OXMDL_ERR_NONE : OXMDL_ERR_STG_PRIM_COMMIT);
  }
  EXPECT_TRUE(debugCaptured().starts_with(L" Retry MoveFile():(1) /// Reason: file busy\r\n Retry MoveFile():(2) "));
  debugCaptureStop();
  EXPECT_EQ(read("P"), "v3");
}

// A rewrite swaps the new content in and keeps the older copy as P_tmp, whose file the next
// rewrite reuses: no file is made or freed after the first.
TEST_F(SafeFileTest, RewriteSwapsInTheNewContentAndKeepsTheOlderCopy) {
  auto inodes = [&] {
    struct stat a {}, b {};
    return ::stat(root_.host("P").c_str(), &a) == 0 && ::stat(root_.host("P_tmp").c_str(), &b) == 0
               ? std::set<ino_t>{a.st_ino, b.st_ino} : std::set<ino_t>{};
  };
  layout("old", nullptr, nullptr);
  ASSERT_EQ(rewriteFile(L"P", "new", 3), OXMDL_ERR_NONE);
  EXPECT_EQ(std::pair(read("P"), read("P_tmp")), std::pair(std::string("new"), std::string("old")));
  const std::set<ino_t> files = inodes();
  ASSERT_EQ(rewriteFile(L"P", "newest", 6), OXMDL_ERR_NONE);
  ASSERT_EQ(rewriteFile(L"P", "v4", 2), OXMDL_ERR_NONE);  // over "new": cut to its size
  EXPECT_EQ(std::pair(read("P"), read("P_tmp")), std::pair(std::string("v4"), std::string("newest")));
  EXPECT_EQ(inodes(), files);
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(rewriteFile(L"P", "v5", 2), OXMDL_ERR_STG_PRIM_COMMIT);
  fault::reset();
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(read("P"), "v4");
  EXPECT_FALSE(leftovers());
  // What a pre-open check would repair, the rewrite replaces; a backup goes at the next check.
  for (const char* tmp : {static_cast<const char*>(nullptr), "tmp"}) {
    layout(nullptr, tmp, "bak");
    ASSERT_EQ(rewriteFile(L"P", "first", 5), OXMDL_ERR_NONE);
    EXPECT_EQ(read("P"), "first");
    EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
    EXPECT_EQ(read("P"), "first");
    EXPECT_FALSE(leftovers());
  }
}

// A series keeps P and P_tmp open between rewrites: the files end as rewriteFile leaves them,
// readers of P are served, P_tmp is held, and a step that fails falls back to the plain rewrite.
TEST_F(SafeFileTest, RewriteSeriesSwapsOpenFilesAndFallsBackOnFailure) {
  layout("old", nullptr, nullptr);
  RewriteSeries series;
  auto contents = [&] { return std::pair(read("P"), read("P_tmp")); };
  using Contents = std::pair<std::string, std::string>;
  ASSERT_EQ(series.rewrite(L"P", "first", 5, Flush::Now), OXMDL_ERR_NONE);
  const long opens = fault::calls(fault::Op::Open);
  ASSERT_EQ(series.rewrite(L"P", "second!", 7, Flush::Now), OXMDL_ERR_NONE);
  ASSERT_EQ(series.rewrite(L"P", "3rd", 3, Flush::Deferred), OXMDL_ERR_NONE);  // over "first": cut
  EXPECT_EQ(contents(), Contents("3rd", "second!"));
  EXPECT_EQ(fault::calls(fault::Op::Open), opens);
  {
    File reader, writer;
    EXPECT_TRUE(reader.openStream(L"P", "rb"));
    EXPECT_FALSE(writer.open(L"P_tmp", GENERIC_WRITE, 0, OPEN_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_STG_PRIM_DELTMP);
    // P held by a reader: no swap, and the plain rewrite's retries give up too.
    EXPECT_EQ(series.rewrite(L"P", "busy", 4, Flush::Now), OXMDL_ERR_STG_PRIM_COMMIT);
    EXPECT_EQ(read("P"), "3rd");
  }
  ASSERT_EQ(series.rewrite(L"P", "after", 5, Flush::Now), OXMDL_ERR_NONE);
  EXPECT_EQ(read("P"), "after");
  for (fault::Op op : {fault::Op::Write, fault::Op::Rename}) {
    fault::failNth(op, 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(series.rewrite(L"P", "again", 5, Flush::Now), OXMDL_ERR_NONE);  // reopened, then swapped
    EXPECT_EQ(read("P"), "again");
    fault::reset();
  }
  series.close();
  EXPECT_EQ(preOpenCheck(L"P"), OXMDL_ERR_NONE);
  EXPECT_EQ(contents(), Contents("again", "<none>"));
}

TEST_F(SafeFileTest, WriteFailuresAndModuleCodes) {
  layout("old", nullptr, nullptr);
  const struct {
    fault::Op op;
    DWORD error;
    unsigned code;
  } failures[] = {{fault::Op::Write, ERROR_DISK_FULL, OXMDL_ERR_STG_DISK_FULL},
                  {fault::Op::Open, ERROR_DISK_FULL, OXMDL_ERR_STG_DISK_FULL},
                  {fault::Op::Write, ERROR_ACCESS_DENIED, OXMDL_ERR_STG_PRIM_WRITE},
                  {fault::Op::Open, ERROR_PATH_NOT_FOUND, OXMDL_ERR_STG_PRIM_OPEN}};
  for (const auto& f : failures) {
    fault::failNth(f.op, 1, f.error);
    EXPECT_EQ(writeTemporary(L"P", "new", 3), f.code) << static_cast<int>(f.op) << " " << f.error;
    EXPECT_FALSE(hostFileExists(root_.host("P_tmp"))) << "no half-written temporary file";
  }
  EXPECT_EQ(read("P"), "old");
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(moduleCode(0x02004708 + i, 0x02000071), 0x02000071 + i);
  for (unsigned code : {0x02004707u, 0x0200470Eu, 0x02000207u}) EXPECT_EQ(moduleCode(code, 0x02000071), code);
}

}  // namespace
}  // namespace oxm
