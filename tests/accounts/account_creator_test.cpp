// Whole accounts with their trays (OxAccountCreator), the account's storage, and the old-message
// check run through a real account.
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
using test::writeHostFile;
using Attributes = OxAccountInfoInterface::Attributes;
using FolderPtr = std::unique_ptr<OxFolderInterface>;
using StoragePtr = std::unique_ptr<OxStorageInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;
using Ids = std::vector<unsigned long>;
using M = OxAccountInfoInterface::Mask;
constexpr uint64_t kTrayBits = 0xF0000000ull;  // bits 28-31

class AccountCreatorTest : public test::AccountsTest {
 protected:
  OxAccountCreator creator_;
};

TEST_F(AccountCreatorTest, CreateFoldersMakesTheWholeAccount) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work")) << std::hex << GetOxMiddleError();
  // The root folder and the four trays (folder N in TREE\LL with LL the low byte), the message
  // side still empty.
  for (const char* dir : {"Work/Storage/TREE/00", "Work/Storage/TREE/01", "Work/Storage/TREE/02",
                          "Work/Storage/TREE/03", "Work/Storage/TREE/04", "Work/Storage/DATA",
                          "Work/Classification", "Work/Signature"}) {
    EXPECT_TRUE(isDirectory(data(dir))) << dir;
  }
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/Status.txt")), "0005\t5");
  EXPECT_EQ(readHostFile(data("Work/Storage/DATA/Status.txt")), "0000\t0");
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/00/00.fld")),
            "0001\t\x8e\xf3\x90\x4d\x83\x67\x83\x8c\x83\x43\r\n"                  // 受信トレイ
            "0002\t\x91\x97\x90\x4d\x91\xd2\x82\xbf\x83\x67\x83\x8c\x83\x43\r\n"  // 送信待ちトレイ
            "0003\t\x91\x97\x90\x4d\x8d\xcf\x82\xdd\x83\x67\x83\x8c\x83\x43\r\n"  // 送信済みトレイ
            "0004\t\x89\xba\x8f\x91\x82\xab\x83\x67\x83\x8c\x83\x43\r\n");        // 下書きトレイ
  for (const char* empty : {"Work/Classification/Rule.cls", "Work/Signature/Data1.txt", "Work/Signature/Data2.txt",
                            "Work/LastUID.ini", "Work/UID.list", "Work/Storage/TREE/01/00.fld",
                            "Work/Storage/TREE/01/00.msg"}) {
    EXPECT_TRUE(hostFileExists(data(empty)) && readHostFile(data(empty)).empty()) << empty;
  }
  // The part keys and the four tray identifiers (the batch write puts every key in key order),
  // and nothing else.
  auto lines = settingsLines(data("Work/AccountInfo.ini"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 2, lines.end()),
            (std::vector<std::wstring>{L"strClassificationDirName=Classification", L"strSignatureDirName=Signature",
                                       L"strStorageDirName=Storage", L"ulJusinTrayID=1", L"ulSitagakiTrayID=4",
                                       L"ulSousinTrayID=2", L"ulSousinZumiTrayID=3"}));

  // Each recorded identifier names the tray of its key.
  auto account = open(L"Work");
  ASSERT_NE(account, nullptr);
  const Attributes a = readKeys(*account, kTrayBits);
  StoragePtr storage(account->OpenStorage());
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->GetUserFolderCnt(), 0u);
  FolderPtr root(storage->OpenRootFolder());
  ASSERT_NE(root, nullptr);
  Ids children;
  ASSERT_TRUE(root->GetFolderIds(&children));
  EXPECT_EQ(children, (Ids{1, 2, 3, 4, 0x10001, 0x10002}));
  for (const auto& [id, name] : {std::pair{a.ulJusinTrayID, L"受信トレイ"}, {a.ulSousinTrayID, L"送信待ちトレイ"},
                                 {a.ulSousinZumiTrayID, L"送信済みトレイ"}, {a.ulSitagakiTrayID, L"下書きトレイ"}}) {
    OxFolderInterface::FolderAttributes folder;
    ASSERT_TRUE(root->ReadFolderAttributes(id, &folder)) << id;
    EXPECT_EQ(folder.name, name);
  }
}

TEST_F(AccountCreatorTest, TakenNamesBadNamesLowSpaceAndFeedAccounts) {
  fault::setFreeSpace(897023);
  EXPECT_OXM_FAIL(creator_.CreateFolders(L"Work"), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(data("")));  // not even the data directory
  fault::setFreeSpace(897024);
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  fault::setFreeSpace(std::nullopt);
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
  EXPECT_OXM_FAIL(creator_.CreateFolders(L"a:b"), OXMDL_ERR_ACC_INVALID_CHAR);
  EXPECT_FALSE(hostFileExists(data("a:b")));

  // A feed account lives under its key's DataPath, in a directory of its very name.
  const wchar_t* feedKey = L"Software\\Tamarin\\Rivulet";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, feedKey, L"DataPath",
                               std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
  ASSERT_TRUE(creator_.CreateFeedFolders(L"Server", feedKey));
  const std::string feed = root_.host("Application Data/Rivulet/Accounts/");
  EXPECT_TRUE(hostFileExists(feed + "Server/Storage/TREE/04/00.fld"));
  EXPECT_FALSE(hostFileExists(data("Server")));
  auto lines = settingsLines(feed + "Server/AccountInfo.ini");
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], L"ulJusinTrayID=1");
  SetOxMiddleError(0x02000207);
  EXPECT_OXM_FAIL(creator_.CreateFeedFolders(L"Server", feedKey), 0x02000207);
  // A feed directory that is there but does not open by that name is not numbered, and is left
  // as it was.
  ASSERT_EQ(::mkdir((feed + "Stray").c_str(), 0777), 0);
  writeHostFile(feed + "Stray/AccountInfo.ini", "not a settings file");
  EXPECT_OXM_FAIL(creator_.CreateFeedFolders(L"Stray", feedKey), OXMDL_ERR_ACC_CREATE_DIR);
  EXPECT_EQ(readHostFile(feed + "Stray/AccountInfo.ini"), "not a settings file");
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

    // Every failure after the account was made leaves the account whole or not at all. A failed
    // write or directory always fails the call, with the step's code; a failed open may be a
    // probe for a file that is not there.
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

TEST_F(AccountCreatorTest, OpenStorageSharesOneStorageAndReportsDamage) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work") && creator_.CreateFolders(L"Other"));
  {
    auto one = open(L"Work"), two = open(L"Work");
    ASSERT_TRUE(one && two);
    StoragePtr first(one->OpenStorage()), second(two->OpenStorage());
    ASSERT_TRUE(first && second);
    FolderPtr inbox(first->OpenFolder(1));
    unsigned long sub = 0;
    ASSERT_TRUE(inbox && inbox->CreateFolder(L"Sub", &sub));
    first.reset();
    EXPECT_EQ(second->GetUserFolderCnt(), 1u);  // the same storage, still open
  }
  // A storage key edited to leave the account, a key that names no storage: no storage, each
  // with its code. A storage whose folder status file is gone opens with it made again.
  const std::wstring ini = L"\\Application Data\\OxMail\\Work\\AccountInfo.ini";
  auto work = open(L"Work");
  ASSERT_NE(work, nullptr);
  editKey(ini, L"strStorageDirName", L"..\\Other\\Storage");
  EXPECT_OXM_FAIL(StoragePtr(work->OpenStorage()), OXMDL_ERR_ACC_PART_KEY);
  editKey(ini, L"strStorageDirName", L"Missing");
  EXPECT_OXM_FAIL(StoragePtr(work->OpenStorage()), OXMDL_ERR_STG_NOFILE_TREESTS);
  EXPECT_FALSE(hostFileExists(data("Work/Missing")));  // nothing made on the way
  editKey(ini, L"strStorageDirName", L"Storage");
  std::remove(data("Work/Storage/TREE/Status.txt").c_str());
  EXPECT_NE(StoragePtr(work->OpenStorage()), nullptr);
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/Status.txt")), "0000\t6") << "the root, four trays and Sub";
  auto other = open(L"Other");
  ASSERT_NE(other, nullptr);
  EXPECT_NE(StoragePtr(other->OpenStorage()), nullptr);
  work.reset();
  EXPECT_TRUE(OxAccountInfoInterface::Delete(L"Work", L""));  // the damaged account goes whole
  EXPECT_FALSE(hostFileExists(data("Work")));
}

TEST_F(AccountCreatorTest, OldMessageCheckUsesTheAccountsCapAndTrays) {
  ASSERT_TRUE(creator_.CreateFolders(L"Work"));
  auto account = open(L"Work");
  ASSERT_NE(account, nullptr);
  StoragePtr storage(account->OpenStorage());
  ASSERT_NE(storage, nullptr);
  const Attributes trays = readKeys(*account, kTrayBits);
  FolderPtr inbox(storage->OpenFolder(trays.ulJusinTrayID)), sent(storage->OpenFolder(trays.ulSousinZumiTrayID));
  FolderPtr drafts(storage->OpenFolder(trays.ulSitagakiTrayID));
  ASSERT_TRUE(inbox && sent && drafts);
  // Nested folders under both capped trays.
  auto sub = [](OxFolderInterface& parent, const wchar_t* name) {
    unsigned long id = 0;
    EXPECT_TRUE(parent.CreateFolder(name, &id));
    return FolderPtr(parent.OpenFolder(id));
  };
  FolderPtr inboxA = sub(*inbox, L"A");
  FolderPtr inboxAB = sub(*inboxA, L"B"), sentC = sub(*sent, L"C");
  ASSERT_TRUE(inboxAB && sentC);
  // A message with the given flags and time (January 2024).
  auto add = [&](OxFolderInterface& folder, bool unread, bool keep, int day) {
    unsigned long id = 0;
    EXPECT_TRUE(folder.CreateMessage(&id)) << std::hex << GetOxMiddleError();
    MessagePtr m(storage->OpenMessage(id));
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_KEEP | OxMessageInterface::ATTR_TIME;
    a.flags[0] = unread;
    a.flags[3] = keep;
    a.time = SYSTEMTIME{2024, 1, 0, WORD(day), 9, 0, 0, 0};
    EXPECT_TRUE(m && m->SetAttributes(a));
    return id;
  };
  const unsigned long deepOld = add(*inboxAB, false, false, 1), sentOld = add(*sentC, false, false, 2),
                      keptOld = add(*inbox, false, true, 1), unreadOld = add(*sent, true, false, 1),
                      inboxNew = add(*inboxA, false, false, 20),
                      draftOld = add(*drafts, false, false, 1);  // not capped
  auto exists = [&](unsigned long id) { return MessagePtr(storage->OpenMessage(id)) != nullptr; };

  AccountOldMessageCheck check(account.get(), storage.get());
  unsigned long missing = 99;
  // The default cap of 500: five messages in the trays and their folders, nothing to do.
  EXPECT_TRUE(check.Check(495, &missing));
  EXPECT_EQ(missing, 0u);
  // The account's own cap, read at each check: 5 + 2 - 5 = 2 go, the oldest read ones.
  writeKeys(*account, {.mask = M::ulRemoveOldMessageCnt, .ulRemoveOldMessageCnt = 5});
  EXPECT_TRUE(check.Check(2, &missing));
  EXPECT_EQ(missing, 2u);
  for (unsigned long id : {deepOld, sentOld, keptOld, unreadOld, inboxNew, draftOld}) {
    EXPECT_EQ(exists(id), id != deepOld && id != sentOld) << id;
  }
  // 3 + 4 - 5 = 2 needed, one left that may go.
  EXPECT_FALSE(check.Check(4, &missing));
  EXPECT_EQ(missing, 1u);
  EXPECT_FALSE(exists(inboxNew));
  EXPECT_TRUE(exists(draftOld));

  // The tray identifiers come from the account too: a receive tray that is no folder fails.
  writeKeys(*account, {.mask = M::ulJusinTrayID, .ulJusinTrayID = 77});
  missing = 99;
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_NOT_CHILD);
  EXPECT_EQ(missing, 0u);
  std::remove(data("Work/AccountInfo.ini").c_str());  // settings that cannot be read
  EXPECT_OXM_FAIL(check.Check(1, &missing), OXMDL_ERR_STG_PRIM_NOFILE);
  AccountOldMessageCheck noAccount(nullptr, storage.get());
  EXPECT_OXM_FAIL(noAccount.Check(1, &missing), OXMDL_ERR_STG_INVALID_ARG);
}

}  // namespace
}  // namespace oxm
