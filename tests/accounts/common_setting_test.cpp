#include "accounts/common_setting.h"

#include <tuple>

#include "platform/device.h"
#include "platform/fault.h"
#include "platform/registry.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Attributes = OxCommonSettingInterface::Attributes;

constexpr uint64_t kAll = 0x7F;

class CommonSettingTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(OxCreateDeviceDirectory(L"\\Application Data\\OxenMail\\System"));
  }
  std::string file() { return root_.host("Application Data/OxenMail/System/CommonSetting.ini"); }
  // Every field in bit order, the switches as 0 and 1.
  static std::vector<uint32_t> fields(const Attributes& a) {
    return {a.bPeriodicRetrievingEnabledModule, a.uiPeriodicRetrievingMin, a.uiTodayDispLinesRivulet,
            a.bDispTodayRefresh1Line,           a.bDispTodayRefresh3Line,  a.uiDispTodayRefresh1LineSec,
            a.uiDispTodayRefresh3LineSec};
  }
  Attributes read(OxCommonSettingInterface& settings, uint64_t mask = kAll) {
    Attributes r{.mask = mask};
    EXPECT_TRUE(settings.GetCommonSettingAttributes(&r)) << std::hex << GetOxMiddleError();
    EXPECT_EQ(r.mask, 0u);
    return r;
  }
};

TEST_F(CommonSettingTest, MissingFileIsMadeAndEveryValueRoundTrips) {
  OxCommonSettingInterface settings(L"");
  EXPECT_EQ(settingsLines(file()).size(), 2u);  // BOM and key line only
  EXPECT_EQ(fields(read(settings)), (std::vector<uint32_t>{0, 15, 3, 1, 1, 4, 12}));
  // Bit 1 alone: the interval and nothing else. No bit at all is refused.
  Attributes one{.mask = 2, .uiTodayDispLinesRivulet = 99};
  ASSERT_TRUE(settings.GetCommonSettingAttributes(&one));
  EXPECT_EQ(std::tie(one.uiPeriodicRetrievingMin, one.uiTodayDispLinesRivulet, one.mask),
            std::make_tuple(15u, 99u, uint64_t{0}));
  EXPECT_OXM_FAIL(settings.GetCommonSettingAttributes(&one), OXMDL_ERR_COM_GET_NOMASK);
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(one), OXMDL_ERR_COM_SET_NOMASK);
  // Zero is a value; one line per key, appended in bit order.
  Attributes w{.mask = kAll, .bPeriodicRetrievingEnabledModule = true, .uiPeriodicRetrievingMin = 0,
               .uiTodayDispLinesRivulet = 1, .bDispTodayRefresh1Line = false,
               .uiDispTodayRefresh3LineSec = 4000000000u};
  ASSERT_TRUE(settings.SetCommonSettingAttributes(w));
  EXPECT_EQ(w.mask, 0u);
  const Lines lines = settingsLines(file());
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
            (Lines{L"bPeriodicRetrievingEnabledModule=1", L"uiPeriodicRetrievingMin=0", L"uiTodayDispLinesRivulet=1",
                   L"bDispTodayRefresh1Line=0", L"bDispTodayRefresh3Line=0", L"uiDispTodayRefresh1LineSec=0",
                   L"uiDispTodayRefresh3LineSec=4000000000"}));
  EXPECT_EQ(fields(read(settings)), (std::vector<uint32_t>{1, 0, 1, 0, 0, 0, 4000000000u}));
  // A number beyond 32 bits reads as the most a field holds.
  OxProfileManipulator edit(L"\\Application Data\\OxenMail\\System\\CommonSetting.ini");
  ASSERT_TRUE(edit.WritePrivateProfileString(L"uiPeriodicRetrievingMin", L"99999999999"));
  EXPECT_EQ(read(settings, 2).uiPeriodicRetrievingMin, 0xFFFFFFFFu);
}

TEST_F(CommonSettingTest, FailuresAreReportedAfterEveryFieldWasTried) {
  OxCommonSettingInterface settings(L"");
  Attributes w{.mask = kAll, .uiPeriodicRetrievingMin = 30, .uiDispTodayRefresh3LineSec = 60};
  // The first rewrite fails; the six others still happen.
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(w), OXMDL_ERR_COM_SET);
  EXPECT_EQ(w.mask, 0u);
  EXPECT_EQ(read(settings).uiDispTodayRefresh3LineSec, 60u);
  fault::setFreeSpace(1000);
  w.mask = 2;
  EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(w), OXMDL_ERR_INI_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  // Reads: each failed field keeps its value, the others are read.
  const long before = fault::calls(fault::Op::Open);
  read(settings, 1);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED, static_cast<int>(fault::calls(fault::Op::Open) - before));
  Attributes r{.mask = 3, .bPeriodicRetrievingEnabledModule = true};
  EXPECT_FALSE(settings.GetCommonSettingAttributes(&r));
  EXPECT_EQ(std::tie(r.bPeriodicRetrievingEnabledModule, r.uiPeriodicRetrievingMin), std::make_tuple(true, 30u));
}

TEST_F(CommonSettingTest, NoPathOrNoFileMakesEveryMemberFail) {
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, kMailKey), ERROR_SUCCESS);
  {
    OxCommonSettingInterface settings(L"");
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_NO_PATH);
    Attributes a{.mask = kAll};
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_OXM_FAIL(settings.GetCommonSettingAttributes(&a), OXMDL_ERR_NONE);
    EXPECT_OXM_FAIL(settings.SetCommonSettingAttributes(a), OXMDL_ERR_NONE);
  }
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"SystemInfoPath", std::wstring(L"\\No\\Such\\Directory\\")));
  OxCommonSettingInterface settings(L"");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_COM_CREATE);
  EXPECT_FALSE(hostFileExists(root_.host("No")));
}

}  // namespace
}  // namespace oxm::test
