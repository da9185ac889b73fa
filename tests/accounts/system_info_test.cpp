#include "accounts/system_info.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "accounts/account_info.h"
#include "accounts/classification.h"
#include "accounts/device_setup.h"
#include "frame/profile.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using test::writeHostFile;
using Attributes = OxAccountInfoInterface::Attributes;

const wchar_t* const kFeedKey = L"Software\\Tamarin\\Rivulet";

class SystemInfoTest : public test::AccountsTest {
 protected:
  // The registry values that locate the feed program's accounts and system directory.
  void setFeedPaths() {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"DataPath",
                                 std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"SystemInfoPath",
                                 std::wstring(L"\\Application Data\\Rivulet\\System\\")));
  }
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(OxCreateDeviceDirectory(L"\\Application Data\\OxenMail\\System"));
  }
  std::string wFile() { return root_.host("Application Data/OxenMail/System/SystemInfo.ini"); }
  std::wstring hklm(const std::wstring& key, const std::wstring& name) {
    HKEY k = nullptr;
    std::wstring value = L"<none>";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, &k) == ERROR_SUCCESS) {
      if (RegQueryString(k, name, &value, 1024) != ERROR_SUCCESS) value = L"<none>";
      RegCloseKey(k);
    }
    return value;
  }
  std::vector<std::wstring> settingsOf(const std::string& dir) {
    return test::profileLines(readHostFile(data(dir + "/AccountInfo.ini")));
  }
  static bool has(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static bool hasKey(const std::vector<std::wstring>& lines, const std::wstring& key) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& l) { return l.rfind(key + L"=", 0) == 0; });
  }
  // The trays' identifiers recorded in an account's settings, in key order.
  static bool hasTrays(const std::vector<std::wstring>& lines) {
    return has(lines, L"ulJusinTrayID=1") && has(lines, L"ulSousinTrayID=2") &&
           has(lines, L"ulSousinZumiTrayID=3") && has(lines, L"ulSitagakiTrayID=4");
  }
  std::vector<std::wstring> childNames(const std::string& treeFile) {
    std::vector<std::wstring> names;
    std::string text = readHostFile(treeFile);
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) break;
      std::string line = text.substr(at, end - at);
      names.emplace_back(line.begin(), line.end());
      at = end + 2;
    }
    return names;
  }
  void nameAccount(const std::wstring& dir, const std::wstring& name) {
    std::unique_ptr<OxAccountInfoInterface> a(OxAccountInfoInterface::OpenAccountInfo(dir, L""));
    ASSERT_NE(a, nullptr);
    Attributes attrs;
    attrs.mask = uint64_t{1} << 42;
    attrs.strAccountName = name;
    ASSERT_TRUE(a->SetAccountInfoAttributes(attrs));
  }
  // An account `dir` shown as `name`, recorded as the W account.
  void makeWAccount(const std::wstring& dir, const std::wstring& name) {
    ASSERT_NE(create(dir), nullptr);
    ASSERT_NO_FATAL_FAILURE(nameAccount(dir, name));
    ASSERT_EQ(writeWAccountFile(L"", name), OXMDL_ERR_NONE);
  }
};

TEST_F(SystemInfoTest, DefaultMailerAndPhoneNumber) {
  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(OxSystemInfoInterface::IsDefMail(), 0);  // missing
  for (auto [stored, state] : {std::pair{0, 0}, {1, 1}, {5, 2}}) {
    ASSERT_TRUE(info->ChangeDefMail(stored));
    EXPECT_EQ(OxSystemInfoInterface::IsDefMail(), state) << stored;
  }

  wchar_t number[130];
  std::fill(std::begin(number), std::end(number), L'x');
  EXPECT_FALSE(info->GetPhonenum(number));  // no value: the key is made, the text empty
  EXPECT_EQ(number[0], L'\0');
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", L"MyPhonenum", std::wstring(L"")));
  number[0] = L'x';
  EXPECT_FALSE(info->GetPhonenum(number));
  EXPECT_EQ(number[0], L'\0');
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", L"MyPhonenum",
                               std::wstring(L"09012345678")));
  EXPECT_TRUE(info->GetPhonenum(number));
  EXPECT_EQ(std::wstring(number), L"09012345678");
}

TEST_F(SystemInfoTest, WAccountFileIsOneLineOfText) {
  // The system directory's own SystemInfo.ini is a settings file that must exist. (Here, as on
  // the device, SystemInfoPath is that directory: the two files share one name.)
  EXPECT_FALSE(OxSystemInfoInterface::SetSystemInfo(L"Mine"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_SIZE);
  ASSERT_TRUE(OxProfileManipulator(L"\\Application Data\\OxenMail\\System\\SystemInfo.ini").CreateNewProfile());
  EXPECT_TRUE(OxSystemInfoInterface::SetSystemInfo(L"Mine"));
  EXPECT_EQ(test::profileLines(readHostFile(wFile())).back(), L"strAccountName=Mine");
  std::remove(wFile().c_str());

  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  std::wstring name = L"kept";
  EXPECT_FALSE(OxSystemInfoInterface::GetWAccount(name, L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_OPEN);
  EXPECT_EQ(name, L"kept");

  ASSERT_TRUE(info->ChangeSystemIni(L"携帯"));
  EXPECT_EQ(readHostFile(wFile()), std::string("\x3a\x64\x2f\x5e", 4));
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(name, L""));
  EXPECT_EQ(name, L"携帯");
  writeHostFile(wFile(), std::string("a\0b\0\r\0\n\0c\0", 10));
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(name, L""));
  EXPECT_EQ(name, L"ab");
  ASSERT_TRUE(info->ChangeSystemIni(std::wstring(120, L'n')));
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(name, L""));
  EXPECT_EQ(name, std::wstring(99, L'n'));

}

TEST_F(SystemInfoTest, WAccountWithANewNumberRetiresThePreviousOne) {
  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  ASSERT_NO_FATAL_FAILURE(makeWAccount(L"09000000000", L"Old"));

  Attributes attrs;
  attrs.strSenderName = L"not written";  // bit 0 is not in the set-up's mask
  attrs.strSenderAddress = L"me@example.jp";
  attrs.strPopServerName = L"pop.example.jp";
  attrs.uiPopServerPort = 110;
  attrs.bPopBeforeSmtpEnabled = true;
  attrs.bSmtpAuthEnabled = true;
  attrs.uiPartialRetrievingLines = 5;
  ASSERT_TRUE(info->SetWAccount(L"09011112222", attrs, L"")) << std::hex << GetOxMiddleError();
  EXPECT_EQ(attrs.mask, 0u);
  EXPECT_TRUE(attrs.bWaccount);  // the record holds what was written
  EXPECT_EQ(attrs.uiPartialRetrievingLines, 600u);

  auto old = settingsOf("09000000000");
  EXPECT_TRUE(has(old, L"strPopServerName=Not Available"));
  EXPECT_TRUE(has(old, L"strPopUserName=Not Available"));
  EXPECT_TRUE(has(old, L"strSmtpServerName=Not Available"));
  EXPECT_TRUE(has(old, L"bPopPasswdSavingEnabled=0"));

  // The new account with its trays, under the number.
  auto lines = settingsOf("09011112222");
  EXPECT_TRUE(hasTrays(lines));
  EXPECT_TRUE(hostFileExists(data("09011112222/Storage/TREE/04/00.fld")));
  for (const wchar_t* line :
       {L"strSenderAddress=me@example.jp", L"strPopServerName=pop.example.jp", L"uiPopServerPort=110",
        L"bPopPasswdSavingEnabled=1", L"bMessageLeavingEnabled=1", L"uiPartialRetrievingLines=600",
        L"guidNetworkSetting=c1d06580-b364-45ec-8421-5acf34129c58", L"bAutoMailRetrievingEnabled=1",
        L"bPopBeforeSmtpEnabled=1", L"bSmtpAuthEnabled=0", L"bWaccount=1", L"bSmtpSvrAuthEnabled=1"}) {
    EXPECT_TRUE(has(lines, line)) << std::string(line, line + std::wcslen(line));
  }
  for (const wchar_t* key : {L"strSenderName", L"bPartialRetrievingEnabled", L"strSmtpUserName",
                             L"bSendMessageInAMinuteEnabled", L"strAccountName"}) {
    EXPECT_FALSE(hasKey(lines, key)) << std::string(key, key + std::wcslen(key));
  }

  std::wstring w;
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, L""));
  EXPECT_EQ(w, L"09011112222");
  const std::wstring key0 = L"System\\Inbox\\ExternalAccounts\\09011112222";
  const std::wstring key1 = key0 + L"________-109011112222";
  EXPECT_EQ(hklm(key0, L"DisplayName"), L"K-PRISMメールで送信 (09011112222)");
  EXPECT_EQ(hklm(key1, L"DisplayName"), L"手書きメールを送信 (09011112222)");
  for (const std::wstring& key : {key0, key1}) {
    EXPECT_EQ(hklm(key, L"Address"), L"me@example.jp");
    EXPECT_EQ(hklm(key, L"Handler"), L"{B93E6627-7CD4-415E-8DFE-5CA41C43573C}");
    EXPECT_EQ(hklm(key, L"AccountName"), L"09011112222");
  }
  HKEY k = nullptr;
  DWORD mode = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key1, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryDword(k, L"SendMode", &mode), ERROR_SUCCESS);
  EXPECT_EQ(mode, 1u);
  RegCloseKey(k);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key0, &k), ERROR_SUCCESS);
  EXPECT_NE(RegQueryDword(k, L"SendMode", &mode), ERROR_SUCCESS);
  RegCloseKey(k);
}

TEST_F(SystemInfoTest, WAccountWithAnExistingNumberKeepsItsDisplayName) {
  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  ASSERT_NO_FATAL_FAILURE(makeWAccount(L"09011112222", L"Phone"));
  Attributes attrs;
  attrs.strSenderAddress = L"me@example.jp";
  ASSERT_TRUE(info->SetWAccount(L"09011112222", attrs, L""));
  EXPECT_EQ(readHostFile(data("09011112222/Storage/TREE/Status.txt")), "0001\t1");  // not made again
  auto lines = settingsOf("09011112222");
  EXPECT_FALSE(has(lines, L"strPopServerName=Not Available"));  // not retired: it is the same
  EXPECT_TRUE(has(lines, L"bWaccount=1"));
  EXPECT_TRUE(has(lines, L"bSmtpSvrAuthEnabled=0"));  // the caller's POP-before-SMTP
  std::wstring w;
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, L""));
  EXPECT_EQ(w, L"Phone");
  EXPECT_EQ(hklm(L"System\\Inbox\\ExternalAccounts\\Phone", L"AccountName"), L"Phone");

  // A store step that fails ends the set-up before the W-account file changes.
  MakeAccountWithTrays failing = [](const std::wstring&, const std::wstring&) {
    SetOxMiddleError(OXMDL_ERR_STG_DISK_FULL);
    return false;
  };
  EXPECT_FALSE(setUpWAccount(L"09033334444", attrs, L"", failing));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, L""));
  EXPECT_EQ(w, L"Phone");

  // Under a key of its own the W account is made in that key's DataPath, and the key's
  // W-account file names it.
  const wchar_t* other = L"Software\\Tamarin\\Other";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, other, L"DataPath", std::wstring(L"\\Other\\Data\\")));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, other, L"SystemInfoPath", std::wstring(L"\\Other\\")));
  Attributes mine;
  ASSERT_TRUE(info->SetWAccount(L"08055556666", mine, other)) << std::hex << GetOxMiddleError();
  EXPECT_TRUE(hasTrays(test::profileLines(readHostFile(root_.host("Other/Data/08055556666/AccountInfo.ini")))));
  EXPECT_FALSE(hostFileExists(data("08055556666")));
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, other));
  EXPECT_EQ(w, L"08055556666");
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, L""));
  EXPECT_EQ(w, L"Phone");
}

TEST_F(SystemInfoTest, FeedAccountSetUpEndToEnd) {
  ASSERT_NO_FATAL_FAILURE(setFeedPaths());
  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  std::wstring pop = L"http://pop.example.jp/feeds";
  std::wstring smtp = L"http://feeds.example.jp/rss";
  ASSERT_TRUE(info->SetFAccount(pop, smtp)) << std::hex << GetOxMiddleError();

  const std::string account = "Application Data/Rivulet/Accounts/Server/";
  auto lines = test::profileLines(readHostFile(root_.host(account + "AccountInfo.ini")));
  EXPECT_TRUE(hasTrays(lines));
  for (const wchar_t* line :
       {L"strPopServerName=http://pop.example.jp/feeds", L"strSmtpServerName=http://feeds.example.jp/rss",
        L"strSenderAddress=feed@rivulet.invalid", L"strPopUserName=rivulet", L"strPopPasswd=rivulet",
        L"uiPopServerPort=110", L"uiSmtpServerPort=25", L"bAPOPEnabled=0", L"bPopBeforeSmtpEnabled=1",
        L"ulPopBeforeSmtpLatencySec=0", L"bWaccount=0", L"bSmtpSvrAuthEnabled=1",
        L"bSmtpAuthEnabled=0", L"uiPartialRetrievingLines=600",
        L"guidNetworkSetting=c1d06580-b364-45ec-8421-5acf34129c58"}) {
    EXPECT_TRUE(has(lines, line)) << std::string(line, line + std::wcslen(line));
  }
  EXPECT_FALSE(hasKey(lines, L"strSenderName"));  // outside the set-up's mask
  for (const char* dir : {"Application Data/Rivulet", "Application Data/Rivulet/Accounts",
                          "Application Data/Rivulet/System"}) {
    EXPECT_TRUE(isDirectory(root_.host(dir))) << dir;
  }
  std::wstring w;
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, kFeedKey));
  EXPECT_EQ(w, L"Server");
  auto common = test::profileLines(readHostFile(root_.host("Application Data/Rivulet/System/CommonSetting.ini")));
  EXPECT_EQ(std::vector<std::wstring>(common.begin() + 2, common.end()),
            (std::vector<std::wstring>{L"uiTodayDispLinesRivulet=3", L"bDispTodayRefresh1Line=1",
                                       L"bDispTodayRefresh3Line=1", L"uiDispTodayRefresh1LineSec=4",
                                       L"uiDispTodayRefresh3LineSec=12"}));
  const std::string push = "[PushServiceSetting1]\r\nPhoneNumber=00000000000\r\nMessage=RivuletPush\r\n"
                           "App=\"\\Windows\\Tidewake.exe\"\r\n";
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")), push);

  // "News" (5) and "Adv" (6) under the receive tray (1), and the three rules into them.
  const std::vector<std::wstring> newsAndAdv{L"0005\tNews", L"0006\tAdv"};
  EXPECT_EQ(childNames(root_.host(account + "Storage/TREE/01/00.fld")), newsAndAdv);
  const std::string rules = std::string("n\0e\0w\0s\0\t\0X\0-\0M\0L\0-\0n\0a\0m\0e\0\t\0n\0e\0w\0s\0\t\0" "5\0\t\0" "1\0\r\0\n\0"
                                    "n\0o\0r\0v\0a\0l\0e\0\t\0X\0-\0M\0L\0-\0n\0a\0m\0e\0\t\0n\0o\0r\0v\0a\0l\0e\0\t\0" "6\0\t\0" "1\0\r\0\n\0"
                                    "w\0e\0a\0t\0h\0e\0r\0\t\0X\0-\0M\0L\0-\0n\0a\0m\0e\0\t\0w\0e\0a\0t\0h\0e\0r\0\t\0" "5\0\t\0" "1\0\r\0\n\0",
                                    174);
  EXPECT_EQ(readHostFile(root_.host(account + "Classification/Rule.cls")), rules);

  // Run again (the one-string form: the sign-up page as POP server): the account, the
  // push-service file, News and Adv stay; the settings and rules are written again.
  writeHostFile(root_.host("Temp/PushService.ini"), "edited");
  writeHostFile(root_.host(account + "Classification/Rule.cls"), "");
  const std::string storageStatus = readHostFile(root_.host(account + "Storage/TREE/Status.txt"));
  std::wstring other = L"http://feeds.example.jp/other";
  ASSERT_TRUE(info->SetFAccount(other)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")), "edited");
  EXPECT_EQ(childNames(root_.host(account + "Storage/TREE/01/00.fld")), newsAndAdv);
  EXPECT_EQ(readHostFile(root_.host(account + "Storage/TREE/Status.txt")), storageStatus);
  EXPECT_EQ(readHostFile(root_.host(account + "Classification/Rule.cls")), rules);
  lines = test::profileLines(readHostFile(root_.host(account + "AccountInfo.ini")));
  EXPECT_TRUE(has(lines, L"strSmtpServerName=http://feeds.example.jp/other"));
  EXPECT_TRUE(has(lines, L"strPopServerName=http://rivulet.invalid/signup"));

  // The record form writes the caller's record with the service's values forced into it.
  Attributes attrs;
  attrs.strPopServerName = L"http://pop.example.jp/3";
  attrs.strSmtpServerName = L"http://feeds.example.jp/3";
  attrs.strPopUserName = L"not kept";
  ASSERT_TRUE(info->SetFAccount(attrs));
  EXPECT_EQ(attrs.mask, 0u);
  EXPECT_EQ(attrs.strPopUserName, L"rivulet");
  lines = test::profileLines(readHostFile(root_.host(account + "AccountInfo.ini")));
  EXPECT_TRUE(has(lines, L"strPopServerName=http://pop.example.jp/3"));
  EXPECT_TRUE(has(lines, L"strPopUserName=rivulet"));
  EXPECT_EQ(childNames(root_.host(account + "Storage/TREE/01/00.fld")), newsAndAdv);
}

TEST_F(SystemInfoTest, FeedSetUpStopsAtAFailingStep) {
  ASSERT_NO_FATAL_FAILURE(setFeedPaths());
  std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
  std::wstring smtp = L"http://feeds.example.jp/rss";
  // The receive tray recorded in the account is no folder: News and Adv cannot be made, and
  // no rules are written.
  ASSERT_TRUE(OxAccountCreator().CreateFeedFolders(L"Server", kFeedKey));
  {
    std::unique_ptr<OxAccountInfoInterface> feed(OxAccountInfoInterface::OpenAccountInfo(L"Server", kFeedKey));
    ASSERT_NE(feed, nullptr);
    Attributes tray;
    tray.mask = uint64_t{1} << 28;
    tray.ulJusinTrayID = 40;
    ASSERT_TRUE(feed->SetAccountInfoAttributes(tray));
  }
  EXPECT_FALSE(info->SetFAccount(smtp));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_FLD);
  const std::string account = "Application Data/Rivulet/Accounts/Server/";
  EXPECT_EQ(readHostFile(root_.host(account + "Classification/Rule.cls")), "");
  EXPECT_EQ(readHostFile(root_.host(account + "Storage/TREE/Status.txt")), "0005\t5");

  // A failing store step given to the set-up ends it before the account is written.
  ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Server", kFeedKey));
  std::remove(root_.host("Temp/PushService.ini").c_str());
  Attributes attrs;
  MakeAccountWithTrays failing = [](const std::wstring&, const std::wstring&) {
    SetOxMiddleError(OXMDL_ERR_ACC_DISK_FULL);
    return false;
  };
  EXPECT_FALSE(setUpFAccount(attrs, failing, makeNewsAndAdv));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(root_.host(account)));
  EXPECT_FALSE(hostFileExists(root_.host("Temp/PushService.ini")));
}

}  // namespace
}  // namespace oxm
