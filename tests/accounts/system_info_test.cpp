#include "accounts/system_info.h"

#include <cstdio>
#include <tuple>

#include "accounts/account_creator.h"
#include "accounts/common_setting.h"
#include "accounts/device_setup.h"
#include "platform/device.h"
#include "platform/fault.h"
#include "platform/registry.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Info = OxSystemInfoInterface;
using Common = OxCommonSettingInterface::Attributes;

constexpr uint64_t kAllCommon = 0x7F;

const std::string kFeedAccount = "Application Data/Rivulet/Accounts/Server/";
const std::wstring kInboxGuid = L"{B93E6627-7CD4-415E-8DFE-5CA41C43573C}";

class SystemInfoTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(OxCreateDeviceDirectory(L"\\Application Data\\OxenMail\\System"));
    ASSERT_NO_FATAL_FAILURE(setFeedPaths());
    info_.reset(Info::GetSystemInfo());
    ASSERT_NE(info_, nullptr);
  }
  std::string wFile() { return root_.host("Application Data/OxenMail/System/SystemInfo.ini"); }
  std::wstring wAccount(const std::wstring& regkey = L"") {
    std::wstring name;
    EXPECT_TRUE(Info::GetWAccount(name, regkey)) << std::hex << GetOxMiddleError();
    return name;
  }
  // The values of an inbox entry under HKEY_LOCAL_MACHINE joined by '|', "-" for each one missing.
  static std::wstring inboxEntry(const std::wstring& name) {
    const std::wstring key = L"System\\Inbox\\ExternalAccounts\\" + name;
    std::wstring out;
    for (const wchar_t* value : {L"DisplayName", L"Address", L"Handler", L"AccountName"}) {
      std::wstring text = L"-";
      GetRegistryValue(HKEY_LOCAL_MACHINE, key.c_str(), value, &text);
      out += text + L"|";
    }
    DWORD mode = 0;
    return out + (GetRegistryDword(HKEY_LOCAL_MACHINE, key.c_str(), L"SendMode", &mode) ? std::to_wstring(mode) : L"-");
  }
  // Every line present; every key absent.
  static void expectLines(const Lines& lines, std::initializer_list<const wchar_t*> present,
                          std::initializer_list<const wchar_t*> absentKeys = {}) {
    for (const wchar_t* line : present) EXPECT_TRUE(hasLine(lines, line)) << line;
    for (const wchar_t* key : absentKeys) {
      for (const std::wstring& l : lines) EXPECT_NE(l.rfind(std::wstring(key) + L"=", 0), 0u) << l;
    }
  }
  std::string commonFile() { return root_.host("Application Data/OxenMail/System/CommonSetting.ini"); }
  Common readCommon(OxCommonSettingInterface& settings, uint64_t mask = kAllCommon) {
    Common r{.mask = mask};
    EXPECT_TRUE(settings.GetCommonSettingAttributes(&r)) << std::hex << GetOxMiddleError();
    EXPECT_EQ(r.mask, 0u);
    return r;
  }
  std::unique_ptr<Info> info_;
};

TEST_F(SystemInfoTest, DefaultMailerPhoneNumberAndTheOneLineWAccountFile) {
  EXPECT_EQ(Info::IsDefMail(), 0);  // missing
  for (auto [stored, state] : {std::pair{0, 0}, {1, 1}, {5, 2}}) {
    ASSERT_TRUE(info_->ChangeDefMail(stored));
    EXPECT_EQ(Info::IsDefMail(), state) << stored;
  }
  EXPECT_OXM_FAIL(info_->GetPhonenum(nullptr), OXMDL_ERR_STG_INVALID_ARG);
  wchar_t number[130] = L"x";
  EXPECT_FALSE(info_->GetPhonenum(number));  // no value: the text empty
  EXPECT_EQ(number[0], L'\0');
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", L"MyPhonenum",
                               std::wstring(L"09012345678")));
  EXPECT_TRUE(info_->GetPhonenum(number));
  EXPECT_EQ(std::wstring(number), L"09012345678");
  std::wstring name = L"kept";
  EXPECT_OXM_FAIL(Info::GetWAccount(name, L""), OXMDL_ERR_FILE_OPEN);
  EXPECT_EQ(name, L"kept");
  ASSERT_TRUE(info_->ChangeSystemIni(L"携帯"));
  EXPECT_EQ(readHostFile(wFile()), std::string("\x3a\x64\x2f\x5e", 4));
  EXPECT_EQ(wAccount(), L"携帯");
  writeHostFile(wFile(), u16("ab\r\nc"));
  EXPECT_EQ(wAccount(), L"ab");
  ASSERT_TRUE(info_->ChangeSystemIni(std::wstring(120, L'n')));
  EXPECT_EQ(wAccount(), std::wstring(99, L'n'));
}

TEST_F(SystemInfoTest, WAccountWithANewNumberRetiresThePreviousOneAndKeepsADisplayName) {
  ASSERT_NE(create(L"09000000000"), nullptr);
  ASSERT_EQ(writeWAccountFile(L"", L"09000000000"), OXMDL_ERR_NONE);
  // Bit 0 is not in the set-up's mask; 5 lines, SMTP authentication are forced.
  Attributes attrs{.strSenderName = L"not written", .strSenderAddress = L"me@example.jp",
                   .strPopServerName = L"pop.example.jp", .uiPopServerPort = 110, .uiPartialRetrievingLines = 5,
                   .bPopBeforeSmtpEnabled = true, .bSmtpAuthEnabled = true};
  ASSERT_TRUE(info_->SetWAccount(L"09011112222", attrs, L"")) << std::hex << GetOxMiddleError();
  EXPECT_EQ(std::tie(attrs.mask, attrs.bWaccount, attrs.uiPartialRetrievingLines),
            std::make_tuple(uint64_t{0}, true, 600u));  // the record holds what was written
  expectLines(settingsLines(data("09000000000/AccountInfo.ini")),
              {L"strPopServerName=Not Available", L"strPopUserName=Not Available",
               L"strSmtpServerName=Not Available", L"bPopPasswdSavingEnabled=0"});
  EXPECT_TRUE(hostFileExists(data("09011112222/Storage/TREE/04/00.fld")));
  expectLines(settingsLines(data("09011112222/AccountInfo.ini")),
              {L"strSenderAddress=me@example.jp", L"uiPartialRetrievingLines=600", L"bSmtpAuthEnabled=0",
               L"guidNetworkSetting=c1d06580-b364-45ec-8421-5acf34129c58", L"bWaccount=1", L"bSmtpSvrAuthEnabled=1"},
              {L"strSenderName", L"strAccountName"});
  EXPECT_EQ(wAccount(), L"09011112222");
  EXPECT_EQ(inboxEntry(L"09011112222"), L"K-PRISMメールで送信 (09011112222)|me@example.jp|" + kInboxGuid + L"|09011112222|-");
  EXPECT_EQ(inboxEntry(L"09011112222________-109011112222"),
            L"手書きメールを送信 (09011112222)|me@example.jp|" + kInboxGuid + L"|09011112222|1");
  // Again for the same number under a display name: no trays made, the name kept.
  writeKeys(L"09011112222", {.mask = OxAccountInfoInterface::Mask::strAccountName, .strAccountName = L"Phone"});
  ASSERT_EQ(writeWAccountFile(L"", L"Phone"), OXMDL_ERR_NONE);
  const std::string status = readHostFile(data("09011112222/Storage/TREE/Status.txt"));
  attrs = Attributes{.strSenderAddress = L"me@example.jp"};
  ASSERT_TRUE(info_->SetWAccount(L"09011112222", attrs, L""));
  EXPECT_EQ(readHostFile(data("09011112222/Storage/TREE/Status.txt")), status);
  expectLines(settingsLines(data("09011112222/AccountInfo.ini")), {L"bWaccount=1", L"bSmtpSvrAuthEnabled=0"});
  EXPECT_EQ(wAccount(), L"Phone");
}

// oxmail's feed add runs this set-up, twice, against nginx; here the files only it writes and what a repeat keeps.
TEST_F(SystemInfoTest, FeedAccountSetUpAndItsRepeat) {
  std::wstring pop = L"http://pop.example.jp/feeds", smtp = L"http://feeds.example.jp/rss";
  ASSERT_TRUE(info_->SetFAccount(pop, smtp)) << std::hex << GetOxMiddleError();
  const std::string account = root_.host(kFeedAccount);
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")),
            "[PushServiceSetting1]\r\nPhoneNumber=00000000000\r\nMessage=RivuletPush\r\n"
            "App=\"\\Windows\\Tidewake.exe\"\r\n");
  const std::string newsAndAdv = "0005\tNews\r\n0006\tAdv\r\n";  // under the receive tray (1)
  EXPECT_EQ(readHostFile(account + "Storage/TREE/01/00.fld"), newsAndAdv);
  EXPECT_EQ(readHostFile(account + "Classification/Rule.cls"),
            u16("news\tX-ML-name\tnews\t5\t1\r\nnorvale\tX-ML-name\tnorvale\t6\t1\r\nweather\tX-ML-name\tweather\t5\t1\r\n"));
  writeHostFile(root_.host("Temp/PushService.ini"), "edited");
  std::wstring other = L"http://feeds.example.jp/other";
  ASSERT_TRUE(info_->SetFAccount(other)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(readHostFile(root_.host("Temp/PushService.ini")), "edited");
  EXPECT_EQ(readHostFile(account + "Storage/TREE/01/00.fld"), newsAndAdv);  // found, not made again
  expectLines(settingsLines(account + "AccountInfo.ini"),
              {L"strSmtpServerName=http://feeds.example.jp/other", L"strPopServerName=http://rivulet.invalid/signup",
               L"strSenderAddress=feed@rivulet.invalid", L"uiPartialRetrievingLines=600"},
              {L"strSenderName"});
}

TEST_F(SystemInfoTest, FeedSetUpStopsAtAFailingStep) {
  // The receive tray recorded in the account is no folder: no News and Adv, no rules.
  ASSERT_TRUE(OxAccountCreator().CreateFeedFolders(L"Server", kFeedKey));
  writeKeys(L"Server", {.mask = OxAccountInfoInterface::Mask::ulJusinTrayID, .ulJusinTrayID = 40}, kFeedKey);
  std::wstring smtp = L"http://feeds.example.jp/rss";
  EXPECT_OXM_FAIL(info_->SetFAccount(smtp), OXMDL_ERR_STG_NOFILE_FLD);
  const std::string account = root_.host(kFeedAccount);
  EXPECT_EQ(readHostFile(account + "Classification/Rule.cls"), "");
  EXPECT_EQ(readHostFile(account + "Storage/TREE/Status.txt"), "0005\t5");
  ASSERT_TRUE(OxAccountInfoInterface::Delete(L"Server", kFeedKey));
  std::remove(root_.host("Temp/PushService.ini").c_str());
  Attributes attrs;
  const auto failingStep = [](const std::wstring&, const std::wstring&) {
    return SetOxMiddleError(OXMDL_ERR_ACC_DISK_FULL), false;
  };
  EXPECT_OXM_FAIL(setUpFAccount(attrs, failingStep, makeNewsAndAdv), OXMDL_ERR_ACC_DISK_FULL);
  EXPECT_FALSE(hostFileExists(account));
  EXPECT_FALSE(hostFileExists(root_.host("Temp/PushService.ini")));
}

TEST_F(SystemInfoTest, CommonSettingsDefaultsLinesAndFailures) {
  OxCommonSettingInterface settings(L"");
  EXPECT_EQ(settingsLines(commonFile()).size(), 2u);  // BOM and key line only
  const Common d = readCommon(settings);
  EXPECT_EQ((std::vector<uint32_t>{d.bPeriodicRetrievingEnabledModule, d.uiPeriodicRetrievingMin, d.uiTodayDispLinesRivulet,
                                   d.bDispTodayRefresh1Line, d.bDispTodayRefresh3Line, d.uiDispTodayRefresh1LineSec,
                                   d.uiDispTodayRefresh3LineSec}),
            (std::vector<uint32_t>{0, 15, 3, 1, 1, 4, 12}));
  Common none{.mask = 0};
  EXPECT_OXM_FAIL(settings.GetCommonSettingAttributes(&none), OXMDL_ERR_COM_GET_NOMASK);
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(none), OXMDL_ERR_COM_SET_NOMASK);
  // Zero is a value; one line per key, appended in bit order.
  Common w{.mask = kAllCommon, .bPeriodicRetrievingEnabledModule = true, .uiPeriodicRetrievingMin = 0,
           .uiTodayDispLinesRivulet = 1, .bDispTodayRefresh1Line = false, .uiDispTodayRefresh3LineSec = 4000000000u};
  ASSERT_TRUE(settings.SetCommonSettingAttributes(w));
  EXPECT_EQ(w.mask, 0u);
  const Lines lines = settingsLines(commonFile());
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
            (Lines{L"bPeriodicRetrievingEnabledModule=1", L"uiPeriodicRetrievingMin=0", L"uiTodayDispLinesRivulet=1",
                   L"bDispTodayRefresh1Line=0", L"bDispTodayRefresh3Line=0", L"uiDispTodayRefresh1LineSec=0",
                   L"uiDispTodayRefresh3LineSec=4000000000"}));
  OxProfileManipulator edit(L"\\Application Data\\OxenMail\\System\\CommonSetting.ini");
  ASSERT_TRUE(edit.WritePrivateProfileString(L"uiPeriodicRetrievingMin", L"99999999999"));
  EXPECT_EQ(readCommon(settings, 2).uiPeriodicRetrievingMin, 0xFFFFFFFFu);
  // Failures come after every field was tried, or at the start.
  w = Common{.mask = kAllCommon, .uiPeriodicRetrievingMin = 30, .uiDispTodayRefresh3LineSec = 60};
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);  // the first rewrite fails; the six others still happen
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(w), OXMDL_ERR_COM_SET);
  EXPECT_EQ(w.mask, 0u);
  EXPECT_EQ(readCommon(settings).uiDispTodayRefresh3LineSec, 60u);
  fault::setFreeSpace(1000);
  w.mask = 2;
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(w), OXMDL_ERR_INI_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  const long before = fault::calls(fault::Op::Open);  // reads: each failed field keeps its value, the others are read
  readCommon(settings, 1);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED, static_cast<int>(fault::calls(fault::Op::Open) - before));
  Common r{.mask = 3, .bPeriodicRetrievingEnabledModule = true};
  EXPECT_FALSE(settings.GetCommonSettingAttributes(&r));
  EXPECT_EQ(std::tie(r.bPeriodicRetrievingEnabledModule, r.uiPeriodicRetrievingMin), std::make_tuple(true, 30u));
  // No SystemInfoPath: every member fails without a code of its own; no such directory: no file.
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, kMailKey), ERROR_SUCCESS);
  OxCommonSettingInterface noPath(L"");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_NO_PATH);
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_OXM_FAIL(noPath.GetCommonSettingAttributes(&r), OXMDL_ERR_NONE);
  EXPECT_OXM_FAIL(noPath.SetCommonSettingAttributes(r), OXMDL_ERR_NONE);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"SystemInfoPath", std::wstring(L"\\No\\Such\\Directory\\")));
  OxCommonSettingInterface noDirectory(L"");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_CREATE);
  EXPECT_FALSE(hostFileExists(root_.host("No")));
}

}  // namespace
}  // namespace oxm::test
