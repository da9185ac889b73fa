#include "accounts/account_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <list>
#include <tuple>

#include "accounts/classification.h"
#include "accounts/guid_text.h"
#include "accounts/signature.h"
#include "frame/scope_guard.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using I = OxAccountInfoInterface;
using M = I::Mask;

class AccountTest : public AccountsTest {
 protected:
  void handEdit(const std::wstring& dir, const std::wstring& key, const std::wstring& value) {
    OxProfileManipulator ini(L"\\Application Data\\OxMail\\" + dir + L"\\AccountInfo.ini");
    ASSERT_TRUE(ini.WritePrivateProfileString(key, value));
  }
  std::wstring dirOf(I& account) {
    std::wstring dir;
    EXPECT_TRUE(account.GetAccountName(&dir));
    return dir;
  }
  Lines sortedNames() {
    Lines names = nameList();
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(AccountTest, DefaultsTextFormsGuidsMasksAndWriteFailures) {
  ASSERT_NO_FATAL_FAILURE(createWork());
  const Attributes d = readKeys(*work_, kAllKeys, {.guidNetworkSetting = GUID{7, 7, 7, {7}}});  // no default: kept
  EXPECT_EQ(std::tie(d.mask, d.guidNetworkSetting.Data1), std::make_tuple(uint64_t{0}, 7u));
  // The numbers, the signed one, the switches that are on and one that is off.
  EXPECT_EQ((std::vector<int64_t>{d.uiPopServerPort, d.uiPartialRetrievingLines, d.uiSmtpServerPort,
                                  d.ulPopBeforeSmtpLatencySec, d.ulRemoveOldMessageCnt, d.uiAutoMailRetrievingRetryCnt,
                                  d.ulJusinTrayID, d.ulSousinTrayID, d.ulSousinZumiTrayID, d.ulSitagakiTrayID,
                                  d.iUseSignature, d.bSendMessageInAMinuteEnabled, d.bUseSignature,
                                  d.bJunkaiJushinEnabled, d.bUseQuotationEnabled, d.bAPOPEnabled}),
            (std::vector<int64_t>{110, 10, 25, 2, 500, 1, 1, 2, 3, 4, 1, 1, 1, 1, 1, 0}));
  Attributes w{.mask = M::uiPopServerPort | M::bAPOPEnabled | M::strSmtpUserName | M::guidNetworkSetting |
                       M::iUseSignature | M::strAccountName,
               .uiPopServerPort = 995, .bAPOPEnabled = true, .strSmtpUserName = L"ユーザー=1",
               .guidNetworkSetting = GUID{0x0A, 0xB0, 0x1, {1, 2, 3, 4, 5, 6, 7, 8}}, .iUseSignature = -1,
               .strAccountName = L"仕事"};
  ASSERT_TRUE(work_->SetAccountInfoAttributes(w));
  EXPECT_EQ(w.mask, 0u);
  const Lines lines = settingsLines(data("Work/AccountInfo.ini"));
  for (const wchar_t* line : {L"uiPopServerPort=995", L"bAPOPEnabled=1", L"strSmtpUserName=ユーザー=1",
                              L"guidNetworkSetting=a-b0-1-0102-030405060708", L"iUseSignature=4294967295",
                              L"strAccountName=仕事", L"strStorageDirName=Storage"}) {
    EXPECT_TRUE(hasLine(lines, line)) << line;
  }
  Attributes a = readKeys(*work_, M::strAccountName, {.uiPopServerPort = 12345});
  EXPECT_EQ(std::tie(a.strAccountName, a.uiPopServerPort, a.mask), std::make_tuple(L"仕事", 12345u, uint64_t{0}));
  EXPECT_OXM_FAIL(work_->GetAccountInfoAttributes(&a), OXMDL_ERR_ACC_GET_NOMASK);
  EXPECT_OXM_FAIL(work_->SetAccountInfoAttributes(a), OXMDL_ERR_ACC_SET_NOMASK);
  EXPECT_EQ(readKeys(*work_, (uint64_t{1} << 32) | (uint64_t{1} << 39), a).uiPopServerPort, 12345u);
  fault::setFreeSpace(1000);
  a.mask = M::uiPopServerPort;
  EXPECT_OXM_FAIL(work_->SetAccountInfoAttributes(a), OXMDL_ERR_INI_BATCH_DISK_FULL);
  EXPECT_EQ(a.mask, 0u);
  fault::setFreeSpace(std::nullopt);
  a.mask = M::uiPopServerPort;
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(work_->SetAccountInfoAttributes(a), OXMDL_ERR_ACC_SET);
  EXPECT_EQ(readKeys(*work_, M::uiPopServerPort).uiPopServerPort, 995u);
  // A GUID's text: one form read, each way to break it refused with the GUID kept.
  const GUID device{0xC1D06580, 0xB364, 0x45EC, {0x84, 0x21, 0x5A, 0xCF, 0x34, 0x12, 0x9C, 0x58}};
  GUID parsed{};
  ASSERT_TRUE(parseGuidText(L"C1D06580-B364-45EC-8421-5ACF34129C58", &parsed));
  EXPECT_EQ(std::memcmp(&parsed, &device, sizeof(GUID)), 0);
  for (const wchar_t* bad : {L"c1d06580b36445ec84215acf34129c58", L"c1d06580-b364-45ec",
                             L"123456789-b364-45ec-8421-5acf34129c58", L"c1d06580-b364-45ec-8421-5acf34129c5",
                             L"c1d06580-b364-45ec-8421-5acf34129c5g", L"c1d06580--45ec-8421-5acf34129c58",
                             L"c1d06580-b364-45ec-84215acf34129c58"}) {
    GUID kept = device;
    EXPECT_FALSE(parseGuidText(bad, &kept)) << bad;
    EXPECT_EQ(kept.Data1, device.Data1);
  }
}

TEST_F(AccountTest, CreateNumbersDirectoriesAndRefusesBadNamesAndFailures) {
  fault::setFreeSpace(897023);
  EXPECT_OXM_FAIL(create(L"Work"), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(data("")));  // not even the data directory
  fault::setFreeSpace(897024);
  auto first = create(L"Work");
  fault::reset();
  auto second = create(L"Work"), third = create(L"Work");
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(dirOf(*second) + L"|" + dirOf(*third), L"Work(2)|Work(3)");
  EXPECT_OXM_FAIL(std::unique_ptr<I>(I::CreateFeed(L"Work", L"")), OXMDL_ERR_ACC_CREATE_DIR);  // never numbered
  for (const wchar_t* bad : {L"a\\b", L"a\x1F", L"a\x7F"}) {
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_OXM_FAIL(create(bad), OXMDL_ERR_ACC_INVALID_CHAR);
  }
  EXPECT_OXM_FAIL(create(L""), OXMDL_ERR_ACC_NAME);
  fault::failNth(fault::Op::CreateDir, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(create(L"A"), OXMDL_ERR_ACC_CREATE_DIR);
  EXPECT_FALSE(hostFileExists(data("A")));
  fault::failNth(fault::Op::CreateDir, 3, ERROR_ACCESS_DENIED);  // the storage's folder tree
  EXPECT_OXM_FAIL(create(L"S"), OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE);
  EXPECT_TRUE(hostFileExists(data("S/Storage")));
  EXPECT_FALSE(hostFileExists(data("S/Classification")));
  EXPECT_EQ(sortedNames(), (Lines{L"S", L"Work", L"Work(2)", L"Work(3)"}));
}

TEST_F(AccountTest, NameTableShowsDuplicatesUnderTheirDirectory) {
  ASSERT_TRUE(create(L"A") && create(L"B"));
  writeKeys(L"A", {.mask = M::strAccountName, .strAccountName = L"Same"});
  writeKeys(L"B", {.mask = M::strAccountName, .strAccountName = L"Same"});
  const Lines names = nameList();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], L"Same");  // the first listed directory keeps the name
  const std::wstring second = names[1];
  ASSERT_TRUE(second == L"A" || second == L"B");
  auto byName = open(L"Same"), byDir = open(second);
  ASSERT_TRUE(byName && byDir);
  EXPECT_NE(dirOf(*byName), second);
  EXPECT_EQ(dirOf(*byDir), second);
  EXPECT_FALSE(I::Rename(L"Same", second));  // taken
  EXPECT_TRUE(I::Rename(second, L"Renamed"));
  EXPECT_EQ(open(L"Renamed"), nullptr);  // rebuilt from the files: strAccountName is "Same"
}

TEST_F(AccountTest, OpenSharesOneObjectAndFindsThePhoneAccount) {
  ASSERT_NE(create(L"09012345678"), nullptr);
  {
    auto one = open(L"09012345678"), two = open(L"09012345678");
    ASSERT_TRUE(one && two);
    writeKeys(*one, {.mask = M::strAccountName, .strAccountName = L"Mine"});
    one.reset();
    EXPECT_EQ(readKeys(*two, M::strAccountName).strAccountName, L"Mine");
  }
  nameTable().markNotBuilt();
  EXPECT_NE(open(L"09012345678"), nullptr);  // not a display name any more: taken as a number
  for (const wchar_t* number : {L"0901234567", L"090123456789", L"09012345678"}) {
    EXPECT_EQ(std::unique_ptr<I>(I::OpenAccountInfoFromPhoneNumber(number, L"")) != nullptr,
              std::wstring(number).size() == 11);
  }
  wchar_t phone[] = L"09012345678", empty[] = L"";
  wchar_t out[8] = L"xxxxxxx";
  EXPECT_TRUE(I::GetAccountNameFromPhoneNumber(phone, out, 3));
  EXPECT_EQ(std::wstring(out, 8), std::wstring(L"Mi\0xxxx", 8));  // cut to size - 1 and terminated
  EXPECT_FALSE(I::GetAccountNameFromPhoneNumber(empty, out, 8));
  std::wstring found = L"junk";
  EXPECT_TRUE(I::GetAccountPhoneNumberFromName(L"Mine", found, L""));
  EXPECT_EQ(found, L"09012345678");
}

TEST_F(AccountTest, DeleteWaitsForOpenPartsThenRemovesTheTree) {
  auto keep = create(L"Keep"), account = create(L"Gone");
  ASSERT_TRUE(keep && account);
  std::unique_ptr<OxSignatureInterface> signature(account->OpenSignature());
  ASSERT_NE(signature, nullptr);
  EXPECT_OXM_FAIL(I::Delete(L"Gone", L""), OXMDL_ERR_ACC_DELETE_BUSY);  // the signature holds it
  signature.reset();
  std::unique_ptr<OxStorageInterface> storage(account->OpenStorage());  // so does a folder that outlived its storage
  std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
  ASSERT_NE(root, nullptr);
  storage.reset();
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_OXM_FAIL(I::Delete(L"Gone", L""), OXMDL_ERR_ACC_DELETE_BUSY);
  EXPECT_TRUE(hostFileExists(data("Gone/Signature/Data1.txt")) && hostFileExists(data("Gone/Storage/DATA/Entry.dat")));
  root.reset();
  account.reset();
  fault::failNth(fault::Op::RemoveDir, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(I::Delete(L"Gone", L""), OXMDL_ERR_ACC_DELETE);
  EXPECT_NE(open(L"Gone"), nullptr);
  ASSERT_EQ(::mkdir(root_.host("Outside").c_str(), 0777), 0);  // links in the account to things outside it go as links
  writeHostFile(root_.host("Outside/precious.txt"), "keep me");
  ASSERT_EQ(::symlink(root_.host("Outside").c_str(), data("Gone/Signature/link").c_str()), 0);
  ASSERT_EQ(::symlink(root_.host("Outside/precious.txt").c_str(), data("Gone/file-link").c_str()), 0);
  EXPECT_TRUE(I::Delete(L"Gone", L""));
  EXPECT_FALSE(hostFileExists(data("Gone")));
  EXPECT_EQ(readHostFile(root_.host("Outside/precious.txt")), "keep me");
  EXPECT_EQ(nameList(), Lines{L"Keep"});
  EXPECT_FALSE(StorageSet::instance().isOpen(L"\\Application Data\\OxMail\\Gone\\Storage"));
  EXPECT_FALSE(I::Delete(L"Gone", L""));
}

// The retriever tests check both files' bytes; here the conversions, fallbacks and failures.
TEST_F(AccountTest, UidFilesConvertFallBackAndSurviveFailedWrites) {
  ASSERT_NO_FATAL_FAILURE(createWork());
  {
    // LastUID.ini is flushed at most once a second, and by the UID list's save. Only file
    // flushes are counted: with flushes off, the directory ones are not asked for.
    const bool sync = syncEnabled();
    ScopeGuard restore([sync] { setSyncEnabled(sync); });
    setSyncEnabled(false);
    const long before = fault::calls(fault::Op::Flush);
    const auto start = std::chrono::steady_clock::now();
    for (const char* uid : {"r1", "r2", "r3"}) ASSERT_TRUE(work_->SaveLastUID(uid));
    const long saves = fault::calls(fault::Op::Flush) - before;
    ASSERT_TRUE(work_->SaveUIDL({L"r1", L"r2", L"r3"}));
    if (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
      EXPECT_EQ(saves, 1) << "the first";
      EXPECT_EQ(fault::calls(fault::Op::Flush) - before, 3) << "then the pending last UID's and the list's";
    }
    EXPECT_EQ(readHostFile(data("Work/LastUID.ini")), u16("r3"));
  }
  ASSERT_TRUE(work_->SaveLastUID("ab\x82\xa0"));  // "ab" and HIRAGANA A in CP932
  EXPECT_EQ(readHostFile(data("Work/LastUID.ini")), std::string("a\0b\0\x42\x30", 6));
  std::wstring uid;
  writeHostFile(data("Work/LastUID.ini"), std::string("x\0\r\0\n\0y\0", 8));
  ASSERT_TRUE(work_->GetLastUID(&uid));
  EXPECT_EQ(uid, L"x");
  writeKeys(*work_, {.mask = M::strLastUid, .strLastUid = L"old-uid"});  // the older home of the value
  std::remove(data("Work/LastUID.ini").c_str());
  ASSERT_TRUE(work_->GetLastUID(&uid));
  EXPECT_EQ(uid, L"old-uid");
  ASSERT_TRUE(work_->SaveUIDL({L"u1", L"u2"}));
  const struct { fault::Op op; int n, times; DWORD error; unsigned code; } failures[] = {
      {fault::Op::Count, 0, 0, 0, OXMDL_ERR_ACC_UIDL_WRITE},  // a UID holding a line end
      {fault::Op::Write, 2, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_ACC_UIDL_WRITE_END},
      {fault::Op::Write, 3, 1, ERROR_DISK_FULL, OXMDL_ERR_STG_DISK_FULL},
      {fault::Op::Open, 1, -1, ERROR_ACCESS_DENIED, OXMDL_ERR_ACC_UIDL_OPEN},
  };
  for (const auto& c : failures) {
    if (c.op != fault::Op::Count) fault::failNth(c.op, c.n, c.error, c.times);
    EXPECT_OXM_FAIL(work_->SaveUIDL({c.n ? L"n1" : L"a\r\nb", L"n2"}), c.code);
    fault::reset();
    EXPECT_EQ(readHostFile(data("Work/UID.list")), u16("u1\r\nu2\r\n"));
    EXPECT_FALSE(hostFileExists(data("Work/UID.list_tmp")));
  }
  writeHostFile(data("Work/UID.list"), std::string("a\0\r\0\n\0\r\0\n\0b\0\n\0c\0d", 17));
  std::list<std::wstring> uids{L"kept"};
  ASSERT_TRUE(work_->GetUIDL(&uids));
  EXPECT_EQ(uids, (std::list<std::wstring>{L"kept", L"a", L"b", L"c"}));
}

TEST_F(AccountTest, DamagedAccountsFailAloneAndCanBeDeleted) {
  ASSERT_NE(create(L"Good"), nullptr);
  ASSERT_EQ(::mkdir(data("Bare").c_str(), 0777), 0);  // a directory without its files
  EXPECT_EQ(sortedNames(), (Lines{L"Bare", L"Good"}));
  {
    auto bare = open(L"Bare");
    ASSERT_NE(bare, nullptr);
    Attributes a{.mask = kAllKeys};
    EXPECT_OXM_FAIL(bare->GetAccountInfoAttributes(&a), OXMDL_ERR_STG_PRIM_NOFILE);
    std::wstring uid = L"x";
    EXPECT_FALSE(bare->GetLastUID(&uid));
    std::list<std::wstring> uids;
    EXPECT_TRUE(bare->GetUIDL(&uids) && uids.empty());  // no file, no UID
    EXPECT_OXM_FAIL(std::unique_ptr<OxStorageInterface>(bare->OpenStorage()), OXMDL_ERR_INI_NOFILE);
  }
  EXPECT_TRUE(I::Delete(L"Bare", L""));
  auto good = open(L"Good");  // a malformed GUID: the read succeeds, the field is kept, the code is set
  ASSERT_NE(good, nullptr);
  const GUID kept{1, 2, 3, {4}};
  handEdit(L"Good", L"guidNetworkSetting", L"not-a-guid");
  SetOxMiddleError(OXMDL_ERR_NONE);
  Attributes a = readKeys(*good, M::guidNetworkSetting | M::uiPopServerPort, {.guidNetworkSetting = kept});
  EXPECT_EQ(std::make_tuple(a.guidNetworkSetting.Data1, a.uiPopServerPort, GetOxMiddleError()),
            std::make_tuple(kept.Data1, 110u, unsigned(OXMDL_ERR_ACC_GUID)));
  // Part keys: naming no storage gives the store's code and makes nothing; reaching outside is refused.
  handEdit(L"Good", L"strStorageDirName", L"Missing");
  EXPECT_OXM_FAIL(std::unique_ptr<OxStorageInterface>(good->OpenStorage()), OXMDL_ERR_STG_NOFILE_TREESTS);
  EXPECT_FALSE(hostFileExists(data("Good/Missing")));
  handEdit(L"Good", L"strClassificationDirName", L"..");
  EXPECT_OXM_FAIL(std::unique_ptr<OxClassificationParamInterface>(good->OpenClassificationParamInterface()),
                  OXMDL_ERR_ACC_PART_KEY);
}

}  // namespace
}  // namespace oxm::test
