// The receive timer's notification entry and the phone-status library.
#include "transport/periodic.h"

#include <sys/stat.h>

#include <string>

#include "platform/clock.h"
#include "platform/usernotify.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

constexpr char kHeader[] = "OxMiddle user notifications 1\n";
constexpr char kNoEnd[] = "\t0000-00-00 00:00:00.000\t";

class PeriodicTest : public test::RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    FreePhoneStatusDLL();
  }
  void TearDown() override {
    FreePhoneStatusDLL();
    failUserNotificationSetAt(0);
    RootTest::TearDown();
  }
  std::string database() { return test::readHostFile(root_.host("Notify/Notifications.txt")); }
  static std::string timerLine(int handle, const std::string& start) {
    return std::to_string(handle) + "\t2\t0\t" + start + kNoEnd + "\\Windows\\OxRecvTimer.exe\t-t\n";
  }
};

TEST_F(PeriodicTest, ExactlyOneReceiveTimerFromTheLocalTime) {
  // Another program's entry is left alone.
  CE_NOTIFICATION_TRIGGER other{kCeTriggerSize, CNT_TIME, 0, L"\\Windows\\Alarm.exe", L"", SYSTEMTIME{2027, 1, 0, 1, 0, 0, 0, 0},
                                SYSTEMTIME{}};
  ASSERT_NE(CeSetUserNotificationEx(nullptr, &other, nullptr), nullptr);
  const std::string otherLine = std::string("1\t2\t0\t2027-01-01 00:00:00.000") + kNoEnd + "\\Windows\\Alarm.exe\t\n";
  // Japan, UTC + 9 h: 23:58 local; the start crosses midnight, the month and the year.
  setFixedClock(SYSTEMTIME{2026, 12, 0, 31, 14, 58, 0, 0}, -540);
  EXPECT_EQ(SetRecvTimer(true, 24 * 60 + 5), 0);
  EXPECT_EQ(database(), kHeader + otherLine + timerLine(2, "2027-01-02 00:03:00.000"));
  // A refused notification: the old timer is gone all the same.
  EXPECT_EQ(SetRecvTimer(true, 30), 0);
  failUserNotificationSetAt(1);
  EXPECT_EQ(SetRecvTimer(true, 30), 0x02002401);
  EXPECT_EQ(database(), kHeader + otherLine);
}

TEST_F(PeriodicTest, PhoneStatusWithAndWithoutTheLibrary) {
  wchar_t text[64] = L"unchanged";
  // No library anywhere: the not-available values, nothing fails.
  EXPECT_EQ(SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, 3u), 0);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 0xFFFFFFFFu);
  EXPECT_EQ(SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, text), 0);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL, text), 0u);
  EXPECT_EQ(std::wstring(text), L"unchanged");
  // The library in the device's Windows directory is found by its bare name on the next call
  // (the numeric items through it: the retriever's indicator checks).
  ASSERT_EQ(::mkdir(root_.host("Windows").c_str(), 0777), 0);
  test::writeHostFile(root_.host("Windows/TmPhoneStatus.dll"), test::readHostFile(OXM_PHONE_STATUS_DLL));
  wchar_t hello[] = L"2 new";
  EXPECT_EQ(SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, hello), 1);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL, text), 5u);
  EXPECT_EQ(std::wstring(text), L"2 new");
}

}  // namespace
}  // namespace oxm
