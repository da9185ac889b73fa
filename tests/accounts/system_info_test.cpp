#include "accounts/system_info.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

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

class SystemInfoTest : public test::AccountsTest {
 protected:
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
  // Stands in for the message store's account creation with trays: the account alone.
  MakeAccountWithTrays maker(int* calls) {
    return [calls](const std::wstring& name, const std::wstring& regkey) {
      ++*calls;
      std::unique_ptr<OxAccountInfoInterface> made(OxAccountInfoInterface::Create(name, regkey));
      return made != nullptr;
    };
  }
  void nameAccount(const std::wstring& dir, const std::wstring& name) {
    std::unique_ptr<OxAccountInfoInterface> a(OxAccountInfoInterface::OpenAccountInfo(dir, L""));
    ASSERT_NE(a, nullptr);
    Attributes attrs;
    attrs.mask = uint64_t{1} << 42;
    attrs.strAccountName = name;
    ASSERT_TRUE(a->SetAccountInfoAttributes(attrs));
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
  int calls = 0;
  {
    auto old = create(L"09000000000");
    ASSERT_NE(old, nullptr);
  }
  nameAccount(L"09000000000", L"Old");
  ASSERT_EQ(writeWAccountFile(L"", L"Old"), OXMDL_ERR_NONE);

  Attributes attrs;
  attrs.strSenderName = L"not written";  // bit 0 is not in the set-up's mask
  attrs.strSenderAddress = L"me@example.jp";
  attrs.strPopServerName = L"pop.example.jp";
  attrs.uiPopServerPort = 110;
  attrs.bPopBeforeSmtpEnabled = true;
  attrs.bSmtpAuthEnabled = true;
  attrs.uiPartialRetrievingLines = 5;
  ASSERT_TRUE(setUpWAccount(L"09011112222", attrs, L"", maker(&calls)));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(attrs.mask, 0u);

  auto old = settingsOf("09000000000");
  EXPECT_TRUE(has(old, L"strPopServerName=Not Available"));
  EXPECT_TRUE(has(old, L"strPopUserName=Not Available"));
  EXPECT_TRUE(has(old, L"strSmtpServerName=Not Available"));
  EXPECT_TRUE(has(old, L"bPopPasswdSavingEnabled=0"));

  auto lines = settingsOf("09011112222");
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
  int calls = 0;
  {
    auto phone = create(L"09011112222");
    ASSERT_NE(phone, nullptr);
  }
  nameAccount(L"09011112222", L"Phone");
  ASSERT_EQ(writeWAccountFile(L"", L"Phone"), OXMDL_ERR_NONE);
  Attributes attrs;
  attrs.strSenderAddress = L"me@example.jp";
  ASSERT_TRUE(setUpWAccount(L"09011112222", attrs, L"", maker(&calls)));
  EXPECT_EQ(calls, 0);
  auto lines = settingsOf("09011112222");
  EXPECT_FALSE(has(lines, L"strPopServerName=Not Available"));  // not retired: it is the same
  EXPECT_TRUE(has(lines, L"bWaccount=1"));
  EXPECT_TRUE(has(lines, L"bSmtpSvrAuthEnabled=0"));  // the caller's POP-before-SMTP
  std::wstring w;
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, L""));
  EXPECT_EQ(w, L"Phone");
  EXPECT_EQ(hklm(L"System\\Inbox\\ExternalAccounts\\Phone", L"AccountName"), L"Phone");

  // A store step that fails ends the set-up.
  MakeAccountWithTrays failing = [](const std::wstring&, const std::wstring&) { return false; };
  EXPECT_FALSE(setUpWAccount(L"09033334444", attrs, L"", failing));
  EXPECT_EQ(w, L"Phone");
}

TEST_F(SystemInfoTest, FeedAccountSetUpEndToEnd) {
  const wchar_t* feedKey = L"Software\\Tamarin\\Rivulet";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, feedKey, L"DataPath",
                               std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, feedKey, L"SystemInfoPath",
                               std::wstring(L"\\Application Data\\Rivulet\\System\\")));
  int calls = 0;
  int folderCalls = 0;
  MakeFeedFolders folders = [&](OxAccountInfoInterface&, uint32_t inbox, uint32_t* news, uint32_t* adv) {
    ++folderCalls;
    EXPECT_EQ(inbox, 1u);
    *news = 5;
    *adv = 6;
    return true;
  };
  Attributes attrs;
  attrs.strPopServerName = L"http://rivulet.invalid/signup";
  attrs.strSmtpServerName = L"http://feeds.example.jp/rss";
  ASSERT_TRUE(setUpFAccount(attrs, maker(&calls), folders));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(folderCalls, 1);

  const std::string account = "Application Data/Rivulet/Accounts/Server/";
  auto lines = test::profileLines(readHostFile(root_.host(account + "AccountInfo.ini")));
  for (const wchar_t* line :
       {L"strSmtpServerName=http://feeds.example.jp/rss", L"strSenderAddress=feed@rivulet.invalid",
        L"strPopUserName=rivulet", L"bPopBeforeSmtpEnabled=1", L"ulPopBeforeSmtpLatencySec=0",
        L"bWaccount=0", L"bSmtpSvrAuthEnabled=1", L"uiPartialRetrievingLines=600"}) {
    EXPECT_TRUE(has(lines, line)) << std::string(line, line + std::wcslen(line));
  }
  EXPECT_TRUE(test::hostFileExists(root_.host("Application Data/Rivulet/System/SystemInfo.ini")));
  std::wstring w;
  ASSERT_TRUE(OxSystemInfoInterface::GetWAccount(w, feedKey));
  EXPECT_EQ(w, L"Server");
  auto common = test::profileLines(readHostFile(root_.host("Application Data/Rivulet/System/CommonSetting.ini")));
  EXPECT_EQ(std::vector<std::wstring>(common.begin() + 2, common.end()),
            (std::vector<std::wstring>{L"uiTodayDispLinesRivulet=3", L"bDispTodayRefresh1Line=1",
                                       L"bDispTodayRefresh3Line=1", L"uiDispTodayRefresh1LineSec=4",
                                       L"uiDispTodayRefresh3LineSec=12"}));
  const std::string push = "[PushServiceSetting1]\r\nPhoneNumber=00000000000\r\nMessage=RivuletPush\r\n"
                           "App=\"\\Windows\\Tidewake.exe\"\r\n";
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")), push);
  std::string rules;
  for (const char* c : {"news\tX-ML-name\tnews\t5\t1\r\n", "norvale\tX-ML-name\tnorvale\t6\t1\r\n",
                        "weather\tX-ML-name\tweather\t5\t1\r\n"}) {
    for (const char* p = c; *p; ++p) rules += std::string(1, *p) + '\0';
  }
  EXPECT_EQ(readHostFile(root_.host(account + "Classification/Rule.cls")), rules);

  // Run again: the account and the push-service file are there and stay.
  writeHostFile(root_.host("Temp/PushService.ini"), "edited");
  attrs.strSmtpServerName = L"http://feeds.example.jp/other";
  ASSERT_TRUE(setUpFAccount(attrs, maker(&calls), folders));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")), "edited");
  lines = test::profileLines(readHostFile(root_.host(account + "AccountInfo.ini")));
  EXPECT_TRUE(has(lines, L"strSmtpServerName=http://feeds.example.jp/other"));
}

}  // namespace
}  // namespace oxm
