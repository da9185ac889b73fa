// Whole accounts with their trays, the account's storage, and the old-message check on an account.
#include "accounts/account_creator.h"

#include <cstdio>

#include "accounts/old_messages.h"
#include "platform/fault.h"
#include "store/storage_interface.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using FolderPtr = std::unique_ptr<OxFolderInterface>;
using StoragePtr = std::unique_ptr<OxStorageInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;
using M = OxAccountInfoInterface::Mask;

class AccountCreatorTest : public test::AccountsTest {
 protected:
  OxAccountCreator creator_;
};

TEST_F(AccountCreatorTest, CreateFoldersMakesTheWholeAccount) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work")) << std::hex << GetOxMiddleError();
  for (const char* empty : {"Work/Classification/Rule.cls", "Work/Signature/Data1.txt", "Work/Signature/Data2.txt",
                            "Work/LastUID.ini", "Work/UID.list", "Work/Storage/TREE/04/00.fld",
                            "Work/Storage/TREE/04/00.msg"}) {
    EXPECT_TRUE(hostFileExists(data(empty)) && readHostFile(data(empty)).empty()) << empty;
  }
  // The part keys and the four tray identifiers, in key order after the batch write; nothing else.
  auto lines = settingsLines(data("Work/AccountInfo.ini"));
  EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 2, lines.end()),
            (std::vector<std::wstring>{L"strClassificationDirName=Classification", L"strSignatureDirName=Signature",
                                       L"strStorageDirName=Storage", L"ulJusinTrayID=1", L"ulSitagakiTrayID=4",
                                       L"ulSousinTrayID=2", L"ulSousinZumiTrayID=3"}));
}

TEST_F(AccountCreatorTest, TakenNamesAndFeedAccounts) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  // A name that already opens: false, the last error as it was, nothing made.
  SetOxMiddleError(0x02000207);
  EXPECT_OXM_FAIL(creator_.CreateFolders(L"Work"), 0x02000207);
  EXPECT_FALSE(hostFileExists(data("Work(2)")));
  // A directory of the name whose display name differs: a numbered directory.
  {
    auto work = open(L"Work");
    ASSERT_NE(work, nullptr);
    writeKeys(*work, {.mask = M::strAccountName, .strAccountName = L"Job"});
  }
  nameTable().markNotBuilt();
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  EXPECT_TRUE(hostFileExists(data("Work(2)/Storage/TREE/04/00.fld")));

  // A feed account lives under its key's DataPath, in a directory of its very name.
  const wchar_t* feedKey = L"Software\\Tamarin\\Rivulet";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, feedKey, L"DataPath",
                               std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
  ASSERT_TRUE(creator_.CreateFeedFolders(L"Server", feedKey));
  EXPECT_TRUE(hasLine(settingsLines(root_.host("Application Data/Rivulet/Accounts/Server/AccountInfo.ini")),
                      L"ulJusinTrayID=1"));
  EXPECT_FALSE(hostFileExists(data("Server")));
  SetOxMiddleError(0x02000207);
  EXPECT_OXM_FAIL(creator_.CreateFeedFolders(L"Server", feedKey), 0x02000207);
}

TEST_F(AccountCreatorTest, AFailedTrayStepTakesTheNewAccountAway) {
  ASSERT_TRUE(creator_.CreateFolders(L"Keep"));
  const std::string kept = readHostFile(data("Keep/AccountInfo.ini"));
  // How many writes and directories the account itself takes, and how many the whole call.
  for (fault::Op op : {fault::Op::Write, fault::Op::CreateDir, fault::Op::Open}) {
    fault::reset();
    ASSERT_NE(create(L"Probe"), nullptr);
    const long account = fault::calls(op);
    ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Probe", L""));
    fault::reset();
    ASSERT_TRUE(creator_.CreateFolders(L"Probe"));
    const long whole = fault::calls(op);
    ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Probe", L""));
    ASSERT_GE(whole, account + 4);  // at least one per tray

    // Each failure after the account was made: the account whole, or gone (a failed open may be a probe).
    for (long n = account + 1; n <= whole; ++n) {
      fault::reset();
      fault::failNth(op, n, ERROR_ACCESS_DENIED);
      SetOxMiddleError(OXMDL_ERR_NONE);
      const bool made = creator_.CreateFolders(L"Work");
      fault::reset();
      std::vector<std::wstring> names = nameList();
      if (made) {
        EXPECT_EQ(op, fault::Op::Open) << n;
        EXPECT_EQ(settingsLines(data("Work/AccountInfo.ini")).size(), 9u) << n;
        EXPECT_TRUE(hostFileExists(data("Work/Storage/TREE/04/00.fld"))) << n;
        ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Work", L"")) << n;
        continue;
      }
      EXPECT_NE(GetOxMiddleError(), OXMDL_ERR_NONE) << n;
      EXPECT_FALSE(hostFileExists(data("Work"))) << n;
      EXPECT_EQ(std::count(names.begin(), names.end(), L"Work"), 0) << n;
    }
  }
  fault::reset();
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  EXPECT_TRUE(hostFileExists(data("Work/Storage/TREE/04/00.fld")));
  EXPECT_EQ(readHostFile(data("Keep/AccountInfo.ini")), kept);
}

// The store's own tests cover which messages go; here the cap and trays come from the account.
TEST_F(AccountCreatorTest, OldMessageCheckReadsTheAccountsCapAndTraysAtEachCheck) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  auto account = open(L"Work");
  ASSERT_NE(account, nullptr);
  StoragePtr storage(account->OpenStorage());
  ASSERT_NE(storage, nullptr);
  auto add = [&](unsigned long folder, int day) {  // a read message of January 2024
    unsigned long id = 0;
    EXPECT_TRUE(FolderPtr(storage->OpenFolder(folder))->CreateMessage(&id)) << std::hex << GetOxMiddleError();
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_TIME;
    a.flags[0] = 0;
    a.time = SYSTEMTIME{2024, 1, 0, WORD(day), 9, 0, 0, 0};
    EXPECT_TRUE(MessagePtr(storage->OpenMessage(id))->SetAttributes(a));
    return id;
  };
  auto exists = [&](unsigned long id) { return MessagePtr(storage->OpenMessage(id)) != nullptr; };
  const unsigned long inboxOld = add(1, 1), draftNew = add(4, 2);
  AccountOldMessageCheck check(account.get(), storage.get());
  unsigned long missing = 99;
  // The default cap of 500 and the drafts not counted: 1 + 499 fits.
  EXPECT_TRUE(check.Check(499, &missing));
  EXPECT_EQ(missing, 0u);
  EXPECT_TRUE(exists(inboxOld));
  // A cap of 1 with the drafts as the sent tray: 2 + 0 - 1 = 1 goes, the oldest.
  writeKeys(*account, {.mask = M::ulRemoveOldMessageCnt | M::ulSousinZumiTrayID,
                       .ulRemoveOldMessageCnt = 1, .ulSousinZumiTrayID = 4});
  EXPECT_TRUE(check.Check(0, &missing));
  EXPECT_EQ(std::make_pair(exists(inboxOld), exists(draftNew)), std::make_pair(false, true));

  writeKeys(*account, {.mask = M::ulJusinTrayID, .ulJusinTrayID = 77});  // a receive tray that is no folder
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_NOT_CHILD);
  std::remove(data("Work/AccountInfo.ini").c_str());  // settings that cannot be read
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_PRIM_NOFILE);
  AccountOldMessageCheck noAccount(nullptr, storage.get());
  EXPECT_OXM_FAIL(noAccount.Check(1, &missing), OXMDL_ERR_STG_INVALID_ARG);
}

}  // namespace
}  // namespace oxm
