// Whole accounts with their trays (OxAccountCreator), the account's storage, and the old-message
// check run through a real account.
#include "accounts/account_creator.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "accounts/old_messages.h"
#include "frame/profile.h"
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

constexpr uint64_t kAllKeys = 0x77EFFFFFFFFull;  // bits 0-42 but 32 and 39
constexpr uint64_t kTrayBits = 0xF0000000ull;    // bits 28-31

class AccountCreatorTest : public test::AccountsTest {
 protected:
  Attributes read(OxAccountInfoInterface& account, uint64_t mask) {
    Attributes a;
    a.mask = mask;
    EXPECT_TRUE(account.GetAccountInfoAttributes(&a)) << std::hex << GetOxMiddleError();
    return a;
  }
  void write(OxAccountInfoInterface& account, Attributes a, uint64_t mask) {
    a.mask = mask;
    ASSERT_TRUE(account.SetAccountInfoAttributes(a)) << std::hex << GetOxMiddleError();
  }
};

TEST_F(AccountCreatorTest, CreateFoldersMakesTheWholeAccount) {
  OxAccountCreator creator;
  ASSERT_TRUE(creator.CreateFolders(L"Work")) << std::hex << GetOxMiddleError();

  // The directory tree: the root folder and the four trays (folder N in TREE\LL with LL the low
  // byte), the message side still empty.
  for (const char* dir : {"Work", "Work/Storage", "Work/Storage/TREE", "Work/Storage/TREE/00",
                          "Work/Storage/TREE/01", "Work/Storage/TREE/02", "Work/Storage/TREE/03",
                          "Work/Storage/TREE/04", "Work/Storage/DATA", "Work/Classification",
                          "Work/Signature"}) {
    EXPECT_TRUE(isDirectory(data(dir))) << dir;
  }
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/Status.txt")), "0005\t5");
  EXPECT_EQ(readHostFile(data("Work/Storage/DATA/Status.txt")), "0000\t0");
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/00/00.fld")),
            "0001\t\x8e\xf3\x90\x4d\x83\x67\x83\x8c\x83\x43\r\n"               // 受信トレイ
            "0002\t\x91\x97\x90\x4d\x91\xd2\x82\xbf\x83\x67\x83\x8c\x83\x43\r\n"  // 送信待ちトレイ
            "0003\t\x91\x97\x90\x4d\x8d\xcf\x82\xdd\x83\x67\x83\x8c\x83\x43\r\n"  // 送信済みトレイ
            "0004\t\x89\xba\x8f\x91\x82\xab\x83\x67\x83\x8c\x83\x43\r\n");        // 下書きトレイ
  for (const char* empty : {"Work/Classification/Rule.cls", "Work/Signature/Data1.txt",
                            "Work/Signature/Data2.txt", "Work/LastUID.ini", "Work/UID.list",
                            "Work/Storage/TREE/01/00.fld", "Work/Storage/TREE/01/00.msg"}) {
    EXPECT_TRUE(hostFileExists(data(empty))) << empty;
    EXPECT_EQ(readHostFile(data(empty)), "") << empty;
  }

  // The settings file holds the part keys and the four identifiers the trays were given (the
  // batch write puts every key in key order), and nothing else: every other key reads as its
  // default.
  auto lines = test::profileLines(readHostFile(data("Work/AccountInfo.ini")));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 2, lines.end()),
            (std::vector<std::wstring>{L"strClassificationDirName=Classification",
                                       L"strSignatureDirName=Signature",
                                       L"strStorageDirName=Storage", L"ulJusinTrayID=1",
                                       L"ulSitagakiTrayID=4", L"ulSousinTrayID=2",
                                       L"ulSousinZumiTrayID=3"}));

  auto account = open(L"Work");
  ASSERT_NE(account, nullptr);
  Attributes a = read(*account, kAllKeys);
  EXPECT_EQ(a.strSenderName + a.strSenderAddress + a.strPopServerName + a.strPopUserName +
                a.strPopPasswd + a.strSmtpServerName + a.strSmtpUserName + a.strSmtpPasswd +
                a.strLastUid + a.strAccountName,
            L"");
  // Numbers in table order: POP port, partial lines, SMTP port, latency, old-message cap, retry
  // count, the four trays, the signature.
  EXPECT_EQ((std::vector<int64_t>{a.uiPopServerPort, a.uiPartialRetrievingLines, a.uiSmtpServerPort,
                                  a.ulPopBeforeSmtpLatencySec, a.ulRemoveOldMessageCnt,
                                  a.uiAutoMailRetrievingRetryCnt, a.ulJusinTrayID, a.ulSousinTrayID,
                                  a.ulSousinZumiTrayID, a.ulSitagakiTrayID, a.iUseSignature}),
            (std::vector<int64_t>{110, 10, 25, 2, 500, 1, 1, 2, 3, 4, 1}));
  // Switches in table order, bits 6 to 41.
  const bool flags[] = {a.bAPOPEnabled, a.bPopPasswdSavingEnabled, a.bMessageLeavingEnabled,
                        a.bPartialRetrievingEnabled, a.bUseSameUserPass, a.bSmtpPasswdSavingEnabled,
                        a.bAutoMailRetrievingEnabled, a.bPopBeforeSmtpEnabled, a.bSmtpAuthEnabled,
                        a.bSendMessageInAMinuteEnabled, a.bRemoveOldMessageEnabled,
                        a.bAutoMailRetrievingRetryEnabled, a.bWaccount, a.bUseSignature,
                        a.bJunkaiJushinEnabled, a.bSmtpSvrAuthEnabled, a.bUseQuotationEnabled,
                        a.bPeriodicRetrievingEnabled, a.bSSLEnabled};
  std::string switches;
  for (bool f : flags) switches += f ? '1' : '0';
  EXPECT_EQ(switches, "0000000001000110100");
  EXPECT_EQ(a.guidNetworkSetting.Data1, 0u);  // no default: the record's own zero

  // Each recorded identifier names the tray of its key.
  StoragePtr storage(account->OpenStorage());
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->GetUserFolderCnt(), 0u);
  FolderPtr root(storage->OpenRootFolder());
  ASSERT_NE(root, nullptr);
  Ids children;
  ASSERT_TRUE(root->GetFolderIds(&children));
  EXPECT_EQ(children, (Ids{1, 2, 3, 4, 0x10001, 0x10002}));
  const std::pair<uint32_t, const wchar_t*> trays[] = {
      {a.ulJusinTrayID, L"受信トレイ"},
      {a.ulSousinTrayID, L"送信待ちトレイ"},
      {a.ulSousinZumiTrayID, L"送信済みトレイ"},
      {a.ulSitagakiTrayID, L"下書きトレイ"},
  };
  for (const auto& [id, name] : trays) {
    OxFolderInterface::FolderAttributes folder;
    ASSERT_TRUE(root->ReadFolderAttributes(id, &folder)) << id;
    EXPECT_EQ(folder.name, name);
  }
}

TEST_F(AccountCreatorTest, TakenNamesBadNamesAndFeedAccounts) {
  OxAccountCreator creator;
  ASSERT_TRUE(creator.CreateFolders(L"Work"));
  // A name that already opens: false, the last error as it was, nothing made.
  SetOxMiddleError(0x02000207);
  EXPECT_FALSE(creator.CreateFolders(L"Work"));
  EXPECT_EQ(GetOxMiddleError(), 0x02000207u);
  EXPECT_FALSE(hostFileExists(data("Work(2)")));
  // A directory of the name whose display name differs: a numbered directory.
  {
    auto work = open(L"Work");
    ASSERT_NE(work, nullptr);
    Attributes name;
    name.strAccountName = L"Job";
    write(*work, name, uint64_t{1} << 42);
  }
  nameTable().markNotBuilt();
  ASSERT_TRUE(creator.CreateFolders(L"Work"));
  EXPECT_TRUE(hostFileExists(data("Work(2)/Storage/TREE/04/00.fld")));

  EXPECT_FALSE(creator.CreateFolders(L"a:b"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_INVALID_CHAR);
  EXPECT_FALSE(hostFileExists(data("a:b")));

  // A feed account lives under its key's DataPath, in a directory of its very name.
  const wchar_t* feedKey = L"Software\\Tamarin\\Rivulet";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, feedKey, L"DataPath",
                               std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
  ASSERT_TRUE(creator.CreateFeedFolders(L"Server", feedKey));
  const std::string feed = root_.host("Application Data/Rivulet/Accounts/Server/");
  EXPECT_TRUE(hostFileExists(feed + "Storage/TREE/04/00.fld"));
  EXPECT_FALSE(hostFileExists(data("Server")));
  auto lines = test::profileLines(readHostFile(feed + "AccountInfo.ini"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], L"ulJusinTrayID=1");
  SetOxMiddleError(0x02000207);
  EXPECT_FALSE(creator.CreateFeedFolders(L"Server", feedKey));
  EXPECT_EQ(GetOxMiddleError(), 0x02000207u);
  // A feed directory that is there but does not open by that name is not numbered, and is left
  // as it was.
  const std::string stray = root_.host("Application Data/Rivulet/Accounts/Stray");
  ASSERT_EQ(::mkdir(stray.c_str(), 0777), 0);
  writeHostFile(stray + "/AccountInfo.ini", "not a settings file");
  EXPECT_FALSE(creator.CreateFeedFolders(L"Stray", feedKey));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_CREATE_DIR);
  EXPECT_EQ(readHostFile(stray + "/AccountInfo.ini"), "not a settings file");
}

TEST_F(AccountCreatorTest, LowFreeSpaceMakesNothing) {
  OxAccountCreator creator;
  fault::setFreeSpace(897023);
  EXPECT_FALSE(creator.CreateFolders(L"Work"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(data("Work")));
  EXPECT_FALSE(hostFileExists(data("")));  // not even the data directory
  fault::setFreeSpace(897024);
  EXPECT_TRUE(creator.CreateFolders(L"Work"));
}

TEST_F(AccountCreatorTest, AFailedTrayStepTakesTheNewAccountAway) {
  OxAccountCreator creator;
  ASSERT_TRUE(creator.CreateFolders(L"Keep"));
  const std::string kept = readHostFile(data("Keep/AccountInfo.ini"));

  // How many writes and directories the account itself takes, and how many the whole call.
  for (fault::Op op : {fault::Op::Write, fault::Op::CreateDir, fault::Op::Open}) {
    fault::reset();
    { ASSERT_NE(create(L"Probe"), nullptr); }
    const long account = fault::calls(op);
    ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Probe", L""));
    fault::reset();
    ASSERT_TRUE(creator.CreateFolders(L"Probe"));
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
      const bool made = creator.CreateFolders(L"Work");
      fault::reset();
      std::vector<std::wstring> names = nameList();
      if (made) {
        EXPECT_EQ(op, fault::Op::Open) << n;
        auto lines = test::profileLines(readHostFile(data("Work/AccountInfo.ini")));
        EXPECT_EQ(lines.size(), 9u) << n;
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
  ASSERT_TRUE(creator.CreateFolders(L"Work"));
  EXPECT_TRUE(hostFileExists(data("Work/Storage/TREE/04/00.fld")));
  EXPECT_EQ(readHostFile(data("Keep/AccountInfo.ini")), kept);
}

TEST_F(AccountCreatorTest, OpenStorageSharesOneStorageAndReportsDamage) {
  OxAccountCreator creator;
  ASSERT_TRUE(creator.CreateFolders(L"Work"));
  ASSERT_TRUE(creator.CreateFolders(L"Other"));
  {
    auto one = open(L"Work");
    auto two = open(L"Work");
    ASSERT_TRUE(one && two);
    StoragePtr first(one->OpenStorage());
    StoragePtr second(two->OpenStorage());
    ASSERT_TRUE(first && second);
    FolderPtr inbox(first->OpenFolder(1));
    ASSERT_NE(inbox, nullptr);
    unsigned long sub = 0;
    ASSERT_TRUE(inbox->CreateFolder(L"Sub", &sub));
    first.reset();
    EXPECT_EQ(second->GetUserFolderCnt(), 1u);  // the same storage, still open
    inbox.reset();
  }

  // A storage key edited to leave the account, a key that names no storage: no storage, each
  // with its code. A storage whose folder status file is gone opens with it made again.
  auto handEdit = [](const std::wstring& value) {
    OxProfileManipulator p(L"\\Application Data\\OxMail\\Work\\AccountInfo.ini");
    ASSERT_TRUE(p.WritePrivateProfileString(L"strStorageDirName", value));
  };
  auto work = open(L"Work");
  ASSERT_NE(work, nullptr);
  handEdit(L"..\\Other\\Storage");
  EXPECT_EQ(StoragePtr(work->OpenStorage()), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_PART_KEY);
  handEdit(L"Missing");
  EXPECT_EQ(StoragePtr(work->OpenStorage()), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_TREESTS);
  EXPECT_FALSE(hostFileExists(data("Work/Missing")));  // nothing made on the way
  handEdit(L"Storage");
  std::remove(data("Work/Storage/TREE/Status.txt").c_str());
  EXPECT_NE(StoragePtr(work->OpenStorage()), nullptr);
  EXPECT_EQ(readHostFile(data("Work/Storage/TREE/Status.txt")), "0000\t6") << "the root, four trays and Sub";
  auto other = open(L"Other");
  ASSERT_NE(other, nullptr);
  EXPECT_NE(StoragePtr(other->OpenStorage()), nullptr);
  // The damaged account can still be deleted whole.
  work.reset();
  EXPECT_TRUE(OxAccountInfoInterface::Delete(L"Work", L""));
  EXPECT_FALSE(hostFileExists(data("Work")));
}

// A message of the account's storage with the given flags and time (January 2024).
unsigned long addMessage(OxStorageInterface& storage, OxFolderInterface& folder, bool unread,
                         bool keep, int day) {
  unsigned long id = 0;
  EXPECT_TRUE(folder.CreateMessage(&id)) << std::hex << GetOxMiddleError();
  MessagePtr m(storage.OpenMessage(id));
  EXPECT_NE(m, nullptr);
  if (!m) return id;
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_KEEP | OxMessageInterface::ATTR_TIME;
  a.flags[0] = unread;
  a.flags[3] = keep;
  a.time = SYSTEMTIME{2024, 1, 0, WORD(day), 9, 0, 0, 0};
  EXPECT_TRUE(m->SetAttributes(a));
  return id;
}

TEST_F(AccountCreatorTest, OldMessageCheckUsesTheAccountsCapAndTrays) {
  OxAccountCreator creator;
  ASSERT_TRUE(creator.CreateFolders(L"Work"));
  auto account = open(L"Work");
  ASSERT_NE(account, nullptr);
  StoragePtr storage(account->OpenStorage());
  ASSERT_NE(storage, nullptr);
  const Attributes trays = read(*account, kTrayBits);
  FolderPtr inbox(storage->OpenFolder(trays.ulJusinTrayID));
  FolderPtr sent(storage->OpenFolder(trays.ulSousinZumiTrayID));
  FolderPtr drafts(storage->OpenFolder(trays.ulSitagakiTrayID));
  ASSERT_TRUE(inbox && sent && drafts);
  // Nested folders under both capped trays.
  unsigned long a = 0, b = 0, c = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"A", &a));
  FolderPtr inboxA(inbox->OpenFolder(a));
  ASSERT_TRUE(inboxA->CreateFolder(L"B", &b));
  FolderPtr inboxAB(inboxA->OpenFolder(b));
  ASSERT_TRUE(sent->CreateFolder(L"C", &c));
  FolderPtr sentC(sent->OpenFolder(c));
  ASSERT_TRUE(inboxAB && sentC);

  const unsigned long deepOld = addMessage(*storage, *inboxAB, false, false, 1);
  const unsigned long sentOld = addMessage(*storage, *sentC, false, false, 2);
  const unsigned long keptOld = addMessage(*storage, *inbox, false, true, 1);
  const unsigned long unreadOld = addMessage(*storage, *sent, true, false, 1);
  const unsigned long inboxNew = addMessage(*storage, *inboxA, false, false, 20);
  const unsigned long draftOld = addMessage(*storage, *drafts, false, false, 1);  // not capped
  auto exists = [&](unsigned long id) { return MessagePtr(storage->OpenMessage(id)) != nullptr; };

  AccountOldMessageCheck check(account.get(), storage.get());
  unsigned long missing = 99;
  // The default cap of 500: five messages in the trays and their folders, nothing to do.
  EXPECT_TRUE(check.Check(495, &missing));
  EXPECT_EQ(missing, 0u);

  // The account's own cap, read at each check: 5 + 2 - 5 = 2 go, the oldest read ones.
  Attributes cap;
  cap.ulRemoveOldMessageCnt = 5;
  write(*account, cap, uint64_t{1} << 24);
  EXPECT_TRUE(check.Check(2, &missing));
  EXPECT_EQ(missing, 2u);
  EXPECT_FALSE(exists(deepOld));
  EXPECT_FALSE(exists(sentOld));
  EXPECT_TRUE(exists(keptOld));
  EXPECT_TRUE(exists(unreadOld));
  EXPECT_TRUE(exists(inboxNew));
  EXPECT_TRUE(exists(draftOld));
  // 3 + 4 - 5 = 2 needed, one left that may go.
  EXPECT_FALSE(check.Check(4, &missing));
  EXPECT_EQ(missing, 1u);
  EXPECT_FALSE(exists(inboxNew));
  EXPECT_TRUE(exists(draftOld));

  // The tray identifiers come from the account too: a receive tray that is no folder fails.
  Attributes wrongTray;
  wrongTray.ulJusinTrayID = 77;
  write(*account, wrongTray, uint64_t{1} << 28);
  missing = 99;
  EXPECT_FALSE(check.Check(1, &missing));
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  // Settings that cannot be read fail with their code.
  std::remove(data("Work/AccountInfo.ini").c_str());
  EXPECT_FALSE(check.Check(1, &missing));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_PRIM_NOFILE);
  AccountOldMessageCheck noAccount(nullptr, storage.get());
  EXPECT_FALSE(noAccount.Check(1, &missing));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
}

}  // namespace
}  // namespace oxm
