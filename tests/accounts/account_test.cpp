#include "accounts/account_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "accounts/classification.h"
#include "accounts/guid_text.h"
#include "accounts/signature.h"
#include "frame/profile.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "store/storage.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using test::writeHostFile;
using Attributes = OxAccountInfoInterface::Attributes;

constexpr uint64_t kAllKeys = 0x77EFFFFFFFFull;  // bits 0-42 but 32 and 39

class AccountTest : public test::AccountsTest {
 protected:
  // Rewrites one key of an account's AccountInfo.ini behind the library's back.
  void handEdit(const std::wstring& dir, const std::wstring& key, const std::wstring& value) {
    OxProfileManipulator p(L"\\Application Data\\OxMail\\" + dir + L"\\AccountInfo.ini");
    ASSERT_TRUE(p.WritePrivateProfileString(key, value));
  }
  void setName(OxAccountInfoInterface& account, const std::wstring& name) {
    Attributes a;
    a.mask = uint64_t{1} << 42;
    a.strAccountName = name;
    ASSERT_TRUE(account.SetAccountInfoAttributes(a));
  }
};

TEST_F(AccountTest, CreateMakesTheTreeAndReadsBackEveryDefault) {
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  EXPECT_TRUE(isDirectory(data("Work/Storage")));
  EXPECT_TRUE(isDirectory(data("Work/Classification")));
  EXPECT_TRUE(isDirectory(data("Work/Signature")));
  for (const char* empty : {"Work/LastUID.ini", "Work/UID.list", "Work/Classification/Rule.cls",
                            "Work/Signature/Data1.txt", "Work/Signature/Data2.txt"}) {
    EXPECT_TRUE(hostFileExists(data(empty))) << empty;
    EXPECT_EQ(readHostFile(data(empty)), "") << empty;
  }
  // The settings file: BOM line, key line, the three subdirectory keys in creation order.
  const std::string ini = readHostFile(data("Work/AccountInfo.ini"));
  ASSERT_EQ(ini.substr(0, 6), std::string("\xff\xfe\x0d\x00\x0a\x00", 6));
  auto lines = test::profileLines(ini);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].substr(0, 5), L"key1=");
  EXPECT_EQ(lines[2], L"strStorageDirName=Storage");
  EXPECT_EQ(lines[3], L"strClassificationDirName=Classification");
  EXPECT_EQ(lines[4], L"strSignatureDirName=Signature");

  Attributes a;
  a.guidNetworkSetting = GUID{7, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};  // no default: kept
  a.mask = kAllKeys;
  ASSERT_TRUE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(a.mask, 0u);
  EXPECT_EQ(a.strSenderName, L"");
  EXPECT_EQ(a.uiPopServerPort, 110u);
  EXPECT_EQ(a.uiPartialRetrievingLines, 10u);
  EXPECT_EQ(a.uiSmtpServerPort, 25u);
  EXPECT_EQ(a.ulPopBeforeSmtpLatencySec, 2u);
  EXPECT_EQ(a.ulRemoveOldMessageCnt, 500u);
  EXPECT_EQ(a.uiAutoMailRetrievingRetryCnt, 1u);
  EXPECT_EQ(a.ulJusinTrayID, 1u);
  EXPECT_EQ(a.ulSousinTrayID, 2u);
  EXPECT_EQ(a.ulSousinZumiTrayID, 3u);
  EXPECT_EQ(a.ulSitagakiTrayID, 4u);
  EXPECT_EQ(a.iUseSignature, 1);
  EXPECT_FALSE(a.bAPOPEnabled);
  EXPECT_FALSE(a.bWaccount);
  EXPECT_TRUE(a.bSendMessageInAMinuteEnabled);
  EXPECT_TRUE(a.bUseSignature);
  EXPECT_TRUE(a.bJunkaiJushinEnabled);
  EXPECT_TRUE(a.bUseQuotationEnabled);
  EXPECT_FALSE(a.bSSLEnabled);
  EXPECT_EQ(a.strAccountName, L"");
  EXPECT_EQ(a.guidNetworkSetting.Data1, 7u);
}

TEST_F(AccountTest, WritesEveryTypeInItsTextFormAndReadsItBack) {
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  Attributes w;
  w.mask = (uint64_t{1} << 3) | (uint64_t{1} << 6) | (uint64_t{1} << 14) | (uint64_t{1} << 17) |
           (uint64_t{1} << 34) | (uint64_t{1} << 42);
  w.uiPopServerPort = 995;
  w.bAPOPEnabled = true;
  w.strSmtpUserName = L"ユーザー=1";  // a value may hold "="
  w.guidNetworkSetting = GUID{0x0A, 0xB0, 0x1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};
  w.iUseSignature = -1;
  w.strAccountName = L"仕事";
  ASSERT_TRUE(account->SetAccountInfoAttributes(w));
  EXPECT_EQ(w.mask, 0u);

  auto lines = test::profileLines(readHostFile(data("Work/AccountInfo.ini")));
  auto has = [&](const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has(L"uiPopServerPort=995"));
  EXPECT_TRUE(has(L"bAPOPEnabled=1"));
  EXPECT_TRUE(has(L"strSmtpUserName=ユーザー=1"));
  EXPECT_TRUE(has(L"guidNetworkSetting=a-b0-1-0102-030405060708"));  // no leading zeros in 1-3
  EXPECT_TRUE(has(L"iUseSignature=4294967295"));                     // unsigned decimal
  EXPECT_TRUE(has(L"strAccountName=仕事"));
  EXPECT_TRUE(has(L"strStorageDirName=Storage"));  // a batch write keeps the other keys

  Attributes r;
  r.mask = kAllKeys;
  ASSERT_TRUE(account->GetAccountInfoAttributes(&r));
  EXPECT_EQ(r.uiPopServerPort, 995u);
  EXPECT_TRUE(r.bAPOPEnabled);
  EXPECT_EQ(r.strSmtpUserName, L"ユーザー=1");
  EXPECT_EQ(guidText(r.guidNetworkSetting), L"a-b0-1-0102-030405060708");
  EXPECT_EQ(r.iUseSignature, -1);
  EXPECT_EQ(r.strAccountName, L"仕事");
}

TEST_F(AccountTest, MaskSelectsOnlyItsFieldsAndZeroIsRefused) {
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  setName(*account, L"Mine");

  Attributes a;
  a.uiPopServerPort = 12345;
  a.mask = uint64_t{1} << 42;
  ASSERT_TRUE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(a.strAccountName, L"Mine");
  EXPECT_EQ(a.uiPopServerPort, 12345u);  // not selected, not touched
  EXPECT_EQ(a.mask, 0u);

  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_GET_NOMASK);
  EXPECT_FALSE(account->SetAccountInfoAttributes(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_SET_NOMASK);

  // Bits 32 and 39 select no key: nothing is read, nothing is added to the file.
  a.mask = (uint64_t{1} << 32) | (uint64_t{1} << 39);
  EXPECT_TRUE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(a.uiPopServerPort, 12345u);
  a.mask = (uint64_t{1} << 32) | (uint64_t{1} << 39);
  EXPECT_TRUE(account->SetAccountInfoAttributes(a));
  EXPECT_EQ(test::profileLines(readHostFile(data("Work/AccountInfo.ini"))).size(), 6u);

  // A write that fails for lack of space keeps that code; other failures become ACC_SET.
  a.mask = uint64_t{1} << 3;
  fault::setFreeSpace(1000);
  EXPECT_FALSE(account->SetAccountInfoAttributes(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_DISK_FULL);
  EXPECT_EQ(a.mask, 0u);
  fault::setFreeSpace(std::nullopt);
  a.mask = uint64_t{1} << 3;
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(account->SetAccountInfoAttributes(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_SET);
  a.mask = uint64_t{1} << 3;
  ASSERT_TRUE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(a.uiPopServerPort, 110u);  // the failed writes changed nothing
}

TEST_F(AccountTest, GuidTextRoundTripAndMalformedText) {
  const GUID device{0xC1D06580, 0xB364, 0x45EC, {0x84, 0x21, 0x5A, 0xCF, 0x34, 0x12, 0x9C, 0x58}};
  EXPECT_EQ(guidText(device), L"c1d06580-b364-45ec-8421-5acf34129c58");
  GUID parsed{};
  ASSERT_TRUE(parseGuidText(L"C1D06580-B364-45EC-8421-5ACF34129C58", &parsed));
  EXPECT_EQ(std::memcmp(&parsed, &device, sizeof(GUID)), 0);
  for (const wchar_t* bad : {L"", L"c1d06580b36445ec84215acf34129c58", L"c1d06580-b364-45ec",
                             L"123456789-b364-45ec-8421-5acf34129c58", L"c1d06580-b364-45ec-8421-5acf34129c5",
                             L"c1d06580-b364-45ec-8421-5acf34129c5g", L"c1d06580--45ec-8421-5acf34129c58",
                             L"c1d06580-b364-45ec-84215acf34129c58"}) {
    GUID kept = device;
    EXPECT_FALSE(parseGuidText(bad, &kept)) << std::wstring(bad).size();
    EXPECT_EQ(kept.Data1, device.Data1);
  }

  // A hand-edited malformed GUID: the read succeeds, the field is kept, the code is set.
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  handEdit(L"Work", L"guidNetworkSetting", L"not-a-guid");
  Attributes a;
  a.guidNetworkSetting = device;
  a.mask = (uint64_t{1} << 17) | (uint64_t{1} << 3);
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_TRUE(account->GetAccountInfoAttributes(&a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_GUID);
  EXPECT_EQ(a.guidNetworkSetting.Data1, device.Data1);
  EXPECT_EQ(a.uiPopServerPort, 110u);
}

TEST_F(AccountTest, CreateNumbersDirectoriesAndRefusesBadNames) {
  auto first = create(L"Work");
  auto second = create(L"Work");
  auto third = create(L"Work");
  ASSERT_TRUE(first && second && third);
  std::wstring dir;
  EXPECT_TRUE(second->GetAccountName(&dir));
  EXPECT_EQ(dir, L"Work(2)");
  EXPECT_TRUE(third->GetAccountName(&dir));
  EXPECT_EQ(dir, L"Work(3)");
  EXPECT_TRUE(isDirectory(data("Work(3)/Signature")));

  // A feed account is not numbered: its directory must be new.
  auto feed = std::unique_ptr<OxAccountInfoInterface>(OxAccountInfoInterface::CreateFeed(L"Work", L""));
  EXPECT_EQ(feed, nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_CREATE_DIR);

  for (const wchar_t* bad : {L"a\\b", L"a/b", L"a:b", L"a*b", L"a?b", L"a\"b", L"a<b", L"a>b", L"a|b", L"a\nb",
                             L"a\tb", L"a\x7F"}) {
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_EQ(create(bad), nullptr);
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_INVALID_CHAR);
  }
  EXPECT_EQ(create(L""), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_NAME);
  std::vector<std::wstring> names = nameList();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Work", L"Work(2)", L"Work(3)"}));
}

TEST_F(AccountTest, NameTableShowsDuplicatesUnderTheirDirectory) {
  {
    auto a = create(L"A");
    auto b = create(L"B");
    ASSERT_TRUE(a && b);
    setName(*a, L"Same");
    setName(*b, L"Same");
  }
  std::vector<std::wstring> names = nameList();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], L"Same");  // the first listed directory keeps the name
  const std::wstring second = names[1];
  ASSERT_TRUE(second == L"A" || second == L"B");
  auto byName = open(L"Same");
  auto byDir = open(second);
  ASSERT_TRUE(byName && byDir);
  std::wstring d1, d2;
  byName->GetAccountName(&d1);
  byDir->GetAccountName(&d2);
  EXPECT_NE(d1, d2);
  EXPECT_EQ(d2, second);

  // Rename moves a display name in the table until the next build from the files.
  EXPECT_FALSE(OxAccountInfoInterface::Rename(L"Same", second));  // taken
  EXPECT_FALSE(OxAccountInfoInterface::Rename(L"Nobody", L"New"));
  EXPECT_TRUE(OxAccountInfoInterface::Rename(second, L"Renamed"));
  EXPECT_EQ(open(L"Renamed"), nullptr);  // rebuilt from the files: strAccountName is "Same"
  EXPECT_NE(open(second), nullptr);
}

TEST_F(AccountTest, OpenSharesOneObjectAndFindsThePhoneAccount) {
  ASSERT_NE(create(L"09012345678"), nullptr);
  {
    auto one = open(L"09012345678");
    auto two = open(L"09012345678");
    ASSERT_TRUE(one && two);
    EXPECT_EQ(accountSet().size(), 1u);
    EXPECT_EQ(accountSet().references(L"\\Application Data\\OxMail\\09012345678"), 2);
    setName(*one, L"Mine");
    one.reset();
    Attributes a;
    a.mask = uint64_t{1} << 42;
    ASSERT_TRUE(two->GetAccountInfoAttributes(&a));  // the other interface still works
    EXPECT_EQ(a.strAccountName, L"Mine");
  }
  nameTable().markNotBuilt();
  auto byNumber = open(L"09012345678");  // not a display name any more: taken as a number
  ASSERT_NE(byNumber, nullptr);
  EXPECT_EQ(open(L"0901234567"), nullptr);

  using I = OxAccountInfoInterface;
  EXPECT_EQ(std::unique_ptr<I>(I::OpenAccountInfoFromPhoneNumber(L"0901234567", L"")), nullptr);
  EXPECT_EQ(std::unique_ptr<I>(I::OpenAccountInfoFromPhoneNumber(L"090123456789", L"")), nullptr);
  EXPECT_NE(std::unique_ptr<I>(I::OpenAccountInfoFromPhoneNumber(L"09012345678", L"")), nullptr);

  wchar_t phone[] = L"09012345678";
  wchar_t out[8];
  std::fill(std::begin(out), std::end(out), L'x');
  EXPECT_TRUE(I::GetAccountNameFromPhoneNumber(phone, out, 3));
  EXPECT_EQ(std::wstring(out), L"Mi");  // cut to size - 1 and terminated
  EXPECT_EQ(out[3], L'x');              // nothing written past `size`
  wchar_t empty[] = L"";
  EXPECT_FALSE(I::GetAccountNameFromPhoneNumber(empty, out, 8));

  std::wstring found = L"junk";
  EXPECT_TRUE(I::GetAccountPhoneNumberFromName(L"Mine", found, L""));
  EXPECT_EQ(found, L"09012345678");
  EXPECT_FALSE(I::GetAccountPhoneNumberFromName(L"mine", found, L""));  // exact comparison
  EXPECT_FALSE(I::GetAccountPhoneNumberFromName(L"", found, L""));
  EXPECT_EQ(found, L"");
  EXPECT_TRUE(I::IsExistAccount(L"09012345678", L""));
  EXPECT_FALSE(I::IsExistAccount(L"0901234567", L""));
  EXPECT_FALSE(I::IsExistAccount(L"Mine", L""));
}

TEST_F(AccountTest, DeleteWaitsForOpenPartsThenRemovesTheTree) {
  auto keep = create(L"Keep");
  auto account = create(L"Gone");
  ASSERT_TRUE(keep && account);
  std::unique_ptr<OxStorageInterface> keptStorage(keep->OpenStorage());
  std::unique_ptr<OxStorageInterface> storage(account->OpenStorage());
  std::unique_ptr<OxSignatureInterface> signature(account->OpenSignature());
  std::unique_ptr<OxClassificationParamInterface> rules(account->OpenClassificationParamInterface());
  ASSERT_TRUE(keptStorage && storage && signature && rules);

  EXPECT_FALSE(OxAccountInfoInterface::Delete(L"Gone", L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DELETE_BUSY);
  signature.reset();
  rules.reset();
  // The storage alone holds the account; so does a folder that outlived its storage interface
  // (the storage's close was refused then).
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(OxAccountInfoInterface::Delete(L"Gone", L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DELETE_BUSY);
  std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
  ASSERT_NE(root, nullptr);
  storage.reset();
  EXPECT_TRUE(StorageSet::instance().isOpen(L"\\Application Data\\OxMail\\Gone\\Storage"));
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(OxAccountInfoInterface::Delete(L"Gone", L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DELETE_BUSY);
  // Refused before anything went.
  for (const char* kept : {"Gone/Signature/Data1.txt", "Gone/Classification/Rule.cls",
                           "Gone/Storage/TREE/Status.txt", "Gone/Storage/DATA/Entry.dat"}) {
    EXPECT_TRUE(hostFileExists(data(kept))) << kept;
  }
  root.reset();
  account.reset();

  // A directory that cannot be removed: the account stays listed.
  fault::failNth(fault::Op::RemoveDir, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(OxAccountInfoInterface::Delete(L"Gone", L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DELETE);
  EXPECT_NE(open(L"Gone"), nullptr);

  // A link in the account to a directory outside it goes as a link.
  ASSERT_EQ(::mkdir(root_.host("Outside").c_str(), 0777), 0);
  writeHostFile(root_.host("Outside/precious.txt"), "keep me");
  ASSERT_EQ(::symlink(root_.host("Outside").c_str(), data("Gone/Signature/link").c_str()), 0);
  ASSERT_EQ(::symlink(root_.host("Outside/precious.txt").c_str(), data("Gone/file-link").c_str()), 0);
  EXPECT_TRUE(OxAccountInfoInterface::Delete(L"Gone", L""));
  EXPECT_FALSE(hostFileExists(data("Gone")));
  EXPECT_EQ(readHostFile(root_.host("Outside/precious.txt")), "keep me");
  EXPECT_EQ(open(L"Gone"), nullptr);
  EXPECT_EQ(nameList(), std::vector<std::wstring>{L"Keep"});
  EXPECT_FALSE(StorageSet::instance().isOpen(L"\\Application Data\\OxMail\\Gone\\Storage"));
  EXPECT_TRUE(hostFileExists(data("Keep/AccountInfo.ini")));
  std::unique_ptr<OxFolderInterface> keptRoot(keptStorage->OpenRootFolder());
  EXPECT_NE(keptRoot, nullptr);  // the other account's open storage is untouched
  EXPECT_FALSE(OxAccountInfoInterface::Delete(L"Gone", L""));
}

TEST_F(AccountTest, UidFilesKeepTheirBytesAndFallBack) {
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  // LastUID.ini: raw UTF-16LE, no BOM, no line end; the UID comes in the system code page.
  ASSERT_TRUE(account->SaveLastUID("ab\x82\xa0"));  // "ab" and HIRAGANA A in CP932
  EXPECT_EQ(readHostFile(data("Work/LastUID.ini")), std::string("a\0b\0\x42\x30", 6));
  std::wstring uid;
  ASSERT_TRUE(account->GetLastUID(&uid));
  EXPECT_EQ(uid, L"abあ");
  writeHostFile(data("Work/LastUID.ini"), std::string("x\0\r\0\n\0y\0", 8));
  ASSERT_TRUE(account->GetLastUID(&uid));
  EXPECT_EQ(uid, L"x");
  ASSERT_TRUE(account->SaveLastUID(""));
  EXPECT_EQ(readHostFile(data("Work/LastUID.ini")), "");

  // Without LastUID.ini the older home of the value answers.
  Attributes a;
  a.mask = uint64_t{1} << 25;
  a.strLastUid = L"old-uid";
  ASSERT_TRUE(account->SetAccountInfoAttributes(a));
  std::remove(data("Work/LastUID.ini").c_str());
  ASSERT_TRUE(account->GetLastUID(&uid));
  EXPECT_EQ(uid, L"old-uid");

  // UID.list: each UID and CR LF; reading appends the non-empty lines.
  ASSERT_TRUE(account->SaveUIDL({L"u1", L"u2"}));
  EXPECT_EQ(readHostFile(data("Work/UID.list")), std::string("u\0001\0\r\0\n\0u\0002\0\r\0\n\0", 16));
  writeHostFile(data("Work/UID.list"), std::string("a\0\r\0\n\0\r\0\n\0b\0\n\0c\0d", 17));
  std::list<std::wstring> uids{L"kept"};
  ASSERT_TRUE(account->GetUIDL(&uids));
  EXPECT_EQ(uids, (std::list<std::wstring>{L"kept", L"a", L"b", L"c"}));  // odd last byte dropped
  std::remove(data("Work/UID.list").c_str());
  uids.clear();
  EXPECT_TRUE(account->GetUIDL(&uids));
  EXPECT_TRUE(uids.empty());
}

TEST_F(AccountTest, UidListWriteFailuresKeepTheOldList) {
  auto account = create(L"Work");
  ASSERT_NE(account, nullptr);
  ASSERT_TRUE(account->SaveUIDL({L"old"}));
  const std::string old = readHostFile(data("Work/UID.list"));

  EXPECT_FALSE(account->SaveUIDL({L"a\r\nb"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_UIDL_WRITE);
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(account->SaveUIDL({L"n1", L"n2"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_UIDL_WRITE);
  fault::failNth(fault::Op::Write, 2, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(account->SaveUIDL({L"n1", L"n2"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_UIDL_WRITE_END);
  fault::failNth(fault::Op::Write, 3, ERROR_DISK_FULL);
  EXPECT_FALSE(account->SaveUIDL({L"n1", L"n2"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED, -1);
  EXPECT_FALSE(account->SaveUIDL({L"n1"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_UIDL_OPEN);
  fault::reset();
  EXPECT_EQ(readHostFile(data("Work/UID.list")), old);
  EXPECT_FALSE(hostFileExists(data("Work/UID.list_tmp")));
}

TEST_F(AccountTest, LowFreeSpaceRefusesCreationAndMakesNothing) {
  fault::setFreeSpace(897023);
  EXPECT_EQ(create(L"Work"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(data("Work")));
  fault::setFreeSpace(897024);
  EXPECT_NE(create(L"Work"), nullptr);
}

TEST_F(AccountTest, CreationStepFailuresGiveTheirCodes) {
  // A whole creation's directories: the account, Storage with TREE, TREE\00 and DATA,
  // Classification, Signature.
  fault::reset();
  ASSERT_NE(create(L"Probe"), nullptr);
  const long dirs = fault::calls(fault::Op::CreateDir);
  ASSERT_EQ(dirs, 7);

  // The account directory itself.
  fault::failNth(fault::Op::CreateDir, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(create(L"A"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_CREATE_DIR);
  EXPECT_FALSE(hostFileExists(data("A")));
  // The storage's folder tree: the store's code.
  fault::failNth(fault::Op::CreateDir, 3, ERROR_ACCESS_DENIED);
  EXPECT_EQ(create(L"S"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE);
  EXPECT_TRUE(isDirectory(data("S/Storage")));
  EXPECT_FALSE(hostFileExists(data("S/Classification")));
  // The last part directory: what was made before it stays.
  fault::failNth(fault::Op::CreateDir, dirs, ERROR_ACCESS_DENIED);
  EXPECT_EQ(create(L"B"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_CREATE_DIR);
  EXPECT_TRUE(isDirectory(data("B/Classification")));
  EXPECT_TRUE(hostFileExists(data("B/Storage/DATA/Entry.dat")));
  EXPECT_FALSE(hostFileExists(data("B/Signature")));
  // No DataPath at all.
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail"), ERROR_SUCCESS);
  EXPECT_EQ(create(L"C"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  EXPECT_EQ(open(L"B"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
}

TEST_F(AccountTest, DamagedAccountsFailAloneAndCanBeDeleted) {
  ASSERT_NE(create(L"Good"), nullptr);
  ASSERT_EQ(::mkdir(data("Bare").c_str(), 0777), 0);  // a directory without its files
  std::vector<std::wstring> names = nameList();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Bare", L"Good"}));
  {
    auto bare = open(L"Bare");
    ASSERT_NE(bare, nullptr);
    Attributes a;
    a.mask = kAllKeys;
    EXPECT_FALSE(bare->GetAccountInfoAttributes(&a));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_PRIM_NOFILE);
    std::wstring uid = L"x";
    EXPECT_FALSE(bare->GetLastUID(&uid));
    std::list<std::wstring> uids;
    EXPECT_TRUE(bare->GetUIDL(&uids));
    EXPECT_EQ(std::unique_ptr<OxStorageInterface>(bare->OpenStorage()), nullptr);
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_NOFILE);  // a profile code passes through
  }
  EXPECT_TRUE(OxAccountInfoInterface::Delete(L"Bare", L""));

  // A truncated settings file: what is left is read, the rest is default.
  auto good = open(L"Good");
  ASSERT_NE(good, nullptr);
  std::string ini = readHostFile(data("Good/AccountInfo.ini"));
  writeHostFile(data("Good/AccountInfo.ini"), ini.substr(0, ini.size() - 7));
  Attributes a;
  a.mask = kAllKeys;
  EXPECT_TRUE(good->GetAccountInfoAttributes(&a));
  EXPECT_EQ(a.uiPopServerPort, 110u);
  // A subdirectory key edited to reach outside the account is refused.
  handEdit(L"Good", L"strClassificationDirName", L"..");
  EXPECT_EQ(std::unique_ptr<OxClassificationParamInterface>(good->OpenClassificationParamInterface()), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_PART_KEY);
  handEdit(L"Good", L"strSignatureDirName", L"..\\Other");
  EXPECT_EQ(std::unique_ptr<OxSignatureInterface>(good->OpenSignature()), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_PART_KEY);
}

}  // namespace
}  // namespace oxm
