// Whole accounts with their trays, and the old-message check on an account.
#include "accounts/account_creator.h"

#include <cstdio>

#include "accounts/old_messages.h"
#include "platform/fault.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using M = OxAccountInfoInterface::Mask;

class AccountCreatorTest : public AccountsTest {
 protected:
  OxAccountCreator creator_;
};

TEST_F(AccountCreatorTest, CreateFoldersMakesTheWholeAccountOnceUnderADisplayName) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work")) << std::hex << GetOxMiddleError();
  for (const char* empty : {"Work/Classification/Rule.cls", "Work/Signature/Data1.txt", "Work/Signature/Data2.txt",
                            "Work/LastUID.ini", "Work/UID.list", "Work/Storage/TREE/04/00.msg"}) {
    EXPECT_TRUE(hostFileExists(data(empty)) && readHostFile(data(empty)).empty()) << empty;
  }
  const Lines lines = settingsLines(data("Work/AccountInfo.ini"));
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
            (Lines{L"strClassificationDirName=Classification", L"strSignatureDirName=Signature",
                   L"strStorageDirName=Storage", L"ulJusinTrayID=1", L"ulSitagakiTrayID=4", L"ulSousinTrayID=2",
                   L"ulSousinZumiTrayID=3"}));
  SetOxMiddleError(0x02000207);  // a name that already opens: false, the last error as it was, nothing made
  EXPECT_OXM_FAIL(creator_.CreateFolders(L"Work"), 0x02000207);
  EXPECT_FALSE(hostFileExists(data("Work(2)")));
  writeKeys(L"Work", {.mask = M::strAccountName, .strAccountName = L"Job"});
  nameTable().markNotBuilt();
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  EXPECT_TRUE(hostFileExists(data("Work(2)/Storage/TREE/04/00.fld")));
}

TEST_F(AccountCreatorTest, AFailedTrayStepTakesTheNewAccountAway) {
  ASSERT_TRUE(creator_.CreateFolders(L"Keep"));
  const std::string kept = readHostFile(data("Keep/AccountInfo.ini"));
  for (fault::Op op : {fault::Op::Write, fault::Op::CreateDir}) {
    long calls[2];
    for (int whole = 0; whole < 2; ++whole) {
      fault::reset();
      ASSERT_TRUE(whole ? creator_.CreateFolders(L"Probe") : create(L"Probe") != nullptr);
      calls[whole] = fault::calls(op);
      ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Probe", L""));
    }
    ASSERT_GE(calls[1], calls[0] + 4);  // at least one per tray
    for (long n = calls[0] + 1; n <= calls[1]; ++n) {
      fault::reset();
      fault::failNth(op, n, ERROR_ACCESS_DENIED);
      SetOxMiddleError(OXMDL_ERR_NONE);
      EXPECT_FALSE(creator_.CreateFolders(L"Work")) << n;
      fault::reset();
      EXPECT_NE(GetOxMiddleError(), OXMDL_ERR_NONE) << n;
      EXPECT_FALSE(hostFileExists(data("Work"))) << n;
      EXPECT_EQ(nameList(), Lines{L"Keep"}) << n;
    }
  }
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  EXPECT_EQ(readHostFile(data("Keep/AccountInfo.ini")), kept);
}

// The store's own tests cover which messages go; here the cap and trays come from the account.
TEST_F(AccountCreatorTest, OldMessageCheckReadsTheAccountsCapAndTraysAtEachCheck) {
  ASSERT_NO_FATAL_FAILURE(createWorkWithTrays());
  auto add = [&](unsigned long folder, WORD day) {  // a read message of January 2024
    unsigned long id = 0;
    EXPECT_TRUE(std::unique_ptr<OxFolderInterface>(storage_->OpenFolder(folder))->CreateMessage(&id));
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_TIME;
    a.time = SYSTEMTIME{2024, 1, 0, day, 9, 0, 0, 0};
    EXPECT_TRUE(std::unique_ptr<OxMessageInterface>(storage_->OpenMessage(id))->SetAttributes(a));
    return id;
  };
  auto exists = [&](unsigned long id) { return std::unique_ptr<OxMessageInterface>(storage_->OpenMessage(id)) != nullptr; };
  const unsigned long inboxOld = add(1, 1), draftNew = add(4, 2);
  AccountOldMessageCheck check(work_.get(), storage_.get());
  unsigned long missing = 99;
  EXPECT_TRUE(check.Check(499, &missing));  // the default cap of 500 and the drafts not counted: 1 + 499 fits
  EXPECT_EQ(std::make_tuple(missing, exists(inboxOld)), std::make_tuple(0ul, true));
  writeKeys(*work_, {.mask = M::ulRemoveOldMessageCnt | M::ulSousinZumiTrayID, .ulRemoveOldMessageCnt = 1, .ulSousinZumiTrayID = 4});
  EXPECT_TRUE(check.Check(0, &missing));
  EXPECT_EQ(std::make_pair(exists(inboxOld), exists(draftNew)), std::make_pair(false, true));
  writeKeys(*work_, {.mask = M::ulJusinTrayID, .ulJusinTrayID = 77});  // a receive tray that is no folder
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_NOT_CHILD);
  std::remove(data("Work/AccountInfo.ini").c_str());  // settings that cannot be read
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_PRIM_NOFILE);
}

}  // namespace
}  // namespace oxm::test
