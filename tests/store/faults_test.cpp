// Injected failures at each file step of message work: a code of the table and a consistent store.
#include "platform/fs.h"
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using FaultTest = StoreTest;

TEST_F(FaultTest, DiskFullAndBusyFilesAtEveryStep) {
  // Create in the inbox, write, move to the sent tray, create another, remove the first.
  auto runSequence = [&]() -> unsigned {
    FolderPtr inbox = tray(0), sent = tray(2);
    unsigned long a = 0, b = 0;
    if (!inbox || !sent || !inbox->CreateMessage(&a)) return GetOxMiddleError();
    {
      MessagePtr m(storage_->OpenMessage(a));
      if (!m || !m->Write(mailText("faulty"))) return GetOxMiddleError();
    }
    const bool ok = inbox->MoveMessage(a, sent.get()) && sent->CreateMessage(&b, 100) && sent->RemoveMessage(a);
    return ok ? OXMDL_ERR_NONE : static_cast<unsigned>(GetOxMiddleError());
  };
  const std::pair<fault::Op, DWORD> plans[] = {
      {fault::Op::Open, ERROR_DISK_FULL},          {fault::Op::Write, ERROR_DISK_FULL},
      {fault::Op::Flush, ERROR_DISK_FULL},         {fault::Op::CreateDir, ERROR_DISK_FULL},
      {fault::Op::Rename, ERROR_SHARING_VIOLATION}, {fault::Op::Delete, ERROR_SHARING_VIOLATION},
      {fault::Op::Rename, ERROR_ACCESS_DENIED}};
  int failures = 0;
  for (const auto& [op, error] : plans) {
    for (int n = 1;; ++n) {
      ASSERT_LT(n, 200) << "the sequence never completes";
      fault::reset();
      fault::failNth(op, n, error, error == ERROR_SHARING_VIOLATION ? 101 : 1);
      const unsigned code = runSequence();
      const bool reached = fault::calls(op) >= n;
      fault::reset();
      const std::string what = "op " + std::to_string(int(op)) + "/" + std::to_string(error) + " #" + std::to_string(n);
      if (!reached) {
        EXPECT_EQ(code, OXMDL_ERR_NONE) << what;
        break;
      }
      failures += code != OXMDL_ERR_NONE;
      // Named codes, and the header cache's unnamed pre-open outcomes that recovery lists.
      EXPECT_TRUE(GetOxMiddleErrorName(code) != nullptr || code == 0x02000081 || code == 0x02000082 ||
                  code == 0x02000084) << what << std::hex << " code " << code;
      if ((op == fault::Op::Write || op == fault::Op::CreateDir) && error == ERROR_DISK_FULL && code != OXMDL_ERR_NONE) {
        EXPECT_EQ(code, OXMDL_ERR_STG_DISK_FULL) << what;
      }
      reopenAndMend(what);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(failures, 40);
}

TEST_F(FaultTest, FullDiskRefusesGrowthButRemovingAndMarkingWork) {
  using I = OxMessageInterface;
  FolderPtr inbox = tray(0);
  const unsigned long a = addMessage(inbox.get(), "x"), b = addMessage(inbox.get(), "y"), c = addMessage(inbox.get(), "z");
  // A change beyond the flags needs room; flags alone are written in place, the list follows.
  fault::setFreeSpace(0);
  MessagePtr m(storage_->OpenMessage(a));
  EXPECT_TRUE(failsWith(m->SetAttributes(Attr{.mask = I::ATTR_TEXT, .text = "grows"}), OXMDL_ERR_STG_DISK_FULL));
  ASSERT_TRUE(m->SetAttributes(Attr{.mask = I::ATTR_UNREAD | I::ATTR_PARTIAL, .flags = {1, 0, 1}})) << GetOxMiddleError();
  m.reset();
  const std::string eml = file("S/DATA/00/00.eml");
  EXPECT_EQ(std::pair(eml.size(), eml.substr(16, 4)), std::pair(size_t{257}, std::string("\x01\x00\x01\x00", 4)));
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0000\t1\t1\r\n0001\t0\t0\r\n0002\t0\t0\r\n");
  ASSERT_TRUE(inbox->RemoveMessage(a)) << std::hex << GetOxMiddleError();
  EXPECT_TRUE(filesAre({{"S/DATA/00/00.eml", kAbsent},
                        {"S/TREE/01/00.msg", "0001\t0\t0\r\n0002\t0\t0\r\n"},
                        {"S/DATA/Status.txt", "0003\t2"}}));
  EXPECT_EQ(file("S/TREE/01/00.fdb").size(), 4000u + 2 * 1180u);
  fault::setFreeSpace(std::nullopt);
  // Really full: the list follows the file's removal; a compacted cache (third write) cannot, so it is marked.
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  ASSERT_TRUE(inbox->RemoveMessage(b)) << std::hex << GetOxMiddleError();
  EXPECT_TRUE(filesAre({{"S/DATA/01/00.eml", kAbsent}, {"S/TREE/01/00.msg", "0002\t0\t0\r\n"}}));
  fault::reset();
  fault::failNth(fault::Op::Write, 3, ERROR_DISK_FULL);
  ASSERT_TRUE(inbox->RemoveMessage(c)) << std::hex << GetOxMiddleError();
  fault::reset();
  EXPECT_TRUE(filesAre({{"S/TREE/01/00.fdb", std::string("\xFF\xFF\x00\x80", 4) + std::string(3996, '\xFF') +
                                                 file("S/TREE/01/00.fdb").substr(4000, 1180)},
                        {"S/TREE/01/00.msg", ""},
                        {"S/DATA/Status.txt", "0003\t0"}}));
  inbox.reset();
  reopenAndMend("after removals on a full disk");
}

TEST_F(FaultTest, AFileHeldElsewhereIsRetriedThenReported) {
  FolderPtr inbox = tray(0);
  File held;
  ASSERT_TRUE(held.open(L"S\\TREE\\01\\00.msg", GENERIC_READ, 0, OPEN_EXISTING));
  unsigned long id = 0;
  EXPECT_TRUE(failsWith(inbox->CreateMessage(&id), OXMDL_ERR_STG_COMMIT_MSG));
  held.close();
  inbox.reset();
  reopenAndMend("held .msg");
  EXPECT_TRUE(filesAre({{"S/TREE/01/00.msg", ""}, {"S/DATA/00/00.eml", kAbsent}}));
}

}  // namespace
}  // namespace oxm
