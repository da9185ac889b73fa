#include "accounts/common_setting.h"

#include <string>

#include "frame/profile.h"
#include "platform/device.h"
#include "platform/fault.h"
#include "platform/registry.h"
#include "platform/syserr.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using Attributes = OxCommonSettingInterface::Attributes;

constexpr uint64_t kAll = 0x7F;
const std::wstring kFile = L"\\Application Data\\OxenMail\\System\\CommonSetting.ini";

class CommonSettingTest : public test::AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(OxCreateDeviceDirectory(L"\\Application Data\\OxenMail\\System"));
  }
  std::string file() { return root_.host("Application Data/OxenMail/System/CommonSetting.ini"); }
};

TEST_F(CommonSettingTest, MissingFileIsMadeAndReadsEveryDefault) {
  OxCommonSettingInterface settings(L"");
  ASSERT_TRUE(hostFileExists(file()));
  EXPECT_EQ(test::profileLines(readHostFile(file())).size(), 2u);  // BOM and key line only

  Attributes a;
  a.mask = kAll;
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&a));
  EXPECT_EQ(a.mask, 0u);
  EXPECT_FALSE(a.bPeriodicRetrievingEnabledModule);
  EXPECT_EQ(a.uiPeriodicRetrievingMin, 15u);
  EXPECT_EQ(a.uiTodayDispLinesRivulet, 3u);
  EXPECT_TRUE(a.bDispTodayRefresh1Line);
  EXPECT_TRUE(a.bDispTodayRefresh3Line);
  EXPECT_EQ(a.uiDispTodayRefresh1LineSec, 4u);
  EXPECT_EQ(a.uiDispTodayRefresh3LineSec, 12u);

  // Bit 1 alone: the interval and nothing else.
  Attributes one;
  one.uiTodayDispLinesRivulet = 99;
  one.mask = 2;
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&one));
  EXPECT_EQ(one.uiPeriodicRetrievingMin, 15u);
  EXPECT_EQ(one.uiTodayDispLinesRivulet, 99u);
  EXPECT_EQ(one.mask, 0u);
  EXPECT_FALSE(settings.GetCommonSettingAttributes(&one));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_GET_NOMASK);
  EXPECT_FALSE(settings.SetCommonSettingAttributes(one));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_SET_NOMASK);
}

TEST_F(CommonSettingTest, ZeroIsAValueButEmptyAndJunkAreDefaults) {
  OxCommonSettingInterface settings(L"");
  Attributes w;
  w.mask = kAll;
  w.bPeriodicRetrievingEnabledModule = true;
  w.uiPeriodicRetrievingMin = 0;
  w.uiTodayDispLinesRivulet = 1;
  w.bDispTodayRefresh1Line = false;
  w.uiDispTodayRefresh3LineSec = 4000000000u;
  ASSERT_TRUE(settings.SetCommonSettingAttributes(w));
  EXPECT_EQ(w.mask, 0u);
  auto lines = test::profileLines(readHostFile(file()));
  ASSERT_EQ(lines.size(), 9u);  // one line per key, appended in bit order
  EXPECT_EQ(lines[2], L"bPeriodicRetrievingEnabledModule=1");
  EXPECT_EQ(lines[3], L"uiPeriodicRetrievingMin=0");
  EXPECT_EQ(lines[5], L"bDispTodayRefresh1Line=0");
  EXPECT_EQ(lines[8], L"uiDispTodayRefresh3LineSec=4000000000");

  Attributes r;
  r.mask = kAll;
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&r));
  EXPECT_TRUE(r.bPeriodicRetrievingEnabledModule);
  EXPECT_EQ(r.uiPeriodicRetrievingMin, 0u);
  EXPECT_FALSE(r.bDispTodayRefresh1Line);
  EXPECT_EQ(r.uiDispTodayRefresh3LineSec, 4000000000u);

  OxProfileManipulator edit(kFile);
  for (const wchar_t* junk : {L"", L"abc", L"00"}) {
    ASSERT_TRUE(edit.WritePrivateProfileString(L"uiPeriodicRetrievingMin", junk));
    ASSERT_TRUE(edit.WritePrivateProfileString(L"bDispTodayRefresh1Line", junk));
    r.mask = kAll;
    ASSERT_TRUE(settings.GetCommonSettingAttributes(&r));
    EXPECT_EQ(r.uiPeriodicRetrievingMin, 15u) << junk;
    EXPECT_TRUE(r.bDispTodayRefresh1Line) << junk;
  }
  // A number beyond 32 bits is as much as the field holds.
  ASSERT_TRUE(edit.WritePrivateProfileString(L"uiPeriodicRetrievingMin", L"99999999999"));
  r.mask = 2;
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&r));
  EXPECT_EQ(r.uiPeriodicRetrievingMin, 0xFFFFFFFFu);
}

TEST_F(CommonSettingTest, FailuresAreReportedAfterEveryFieldWasTried) {
  OxCommonSettingInterface settings(L"");
  Attributes w;
  w.mask = kAll;
  w.uiPeriodicRetrievingMin = 30;
  w.uiDispTodayRefresh3LineSec = 60;
  // The first rewrite fails; the six others still happen.
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(settings.SetCommonSettingAttributes(w));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_SET);
  EXPECT_EQ(w.mask, 0u);
  Attributes r;
  r.mask = kAll;
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&r));
  EXPECT_EQ(r.uiPeriodicRetrievingMin, 30u);
  EXPECT_EQ(r.uiDispTodayRefresh3LineSec, 60u);

  fault::setFreeSpace(1000);
  w.mask = 2;
  EXPECT_FALSE(settings.SetCommonSettingAttributes(w));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_DISK_FULL);
  fault::setFreeSpace(std::nullopt);

  // Reads: each failed field keeps its value, the others are read.
  r.mask = 1;
  const long before = fault::calls(fault::Op::Open);
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&r));
  const int firstFieldOpens = static_cast<int>(fault::calls(fault::Op::Open) - before);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED, firstFieldOpens);
  r = Attributes{};
  r.bPeriodicRetrievingEnabledModule = true;
  r.mask = 3;
  EXPECT_FALSE(settings.GetCommonSettingAttributes(&r));
  EXPECT_TRUE(r.bPeriodicRetrievingEnabledModule);
  EXPECT_EQ(r.uiPeriodicRetrievingMin, 30u);
}

TEST_F(CommonSettingTest, NoPathOrNoFileMakesEveryMemberFail) {
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail"), ERROR_SUCCESS);
  {
    OxCommonSettingInterface settings(L"");
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_NO_PATH);
    Attributes a;
    a.mask = kAll;
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_FALSE(settings.GetCommonSettingAttributes(&a));
    EXPECT_FALSE(settings.SetCommonSettingAttributes(a));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  }
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, test::kMailKey, L"SystemInfoPath",
                               std::wstring(L"\\No\\Such\\Directory\\")));
  OxCommonSettingInterface settings(L"");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_CREATE);
  EXPECT_FALSE(hostFileExists(root_.host("No")));
  // Another key reads its own SystemInfoPath.
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\Tamarin\\Rivulet", L"SystemInfoPath",
                               std::wstring(L"\\Application Data\\OxenMail\\System")));
  OxCommonSettingInterface feed(L"Software\\Tamarin\\Rivulet");
  EXPECT_TRUE(hostFileExists(file()));
}

}  // namespace
}  // namespace oxm
