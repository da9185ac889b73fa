#include "platform/usernotify.h"

#include <string>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/syserr.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

// 0 for a call that worked, else the platform's last error.
DWORD fails(bool ok) { return ok ? 0 : GetLastError(); }

class UserNotifyTest : public test::RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    setFixedClock(at(2026, 12, 7, 1, 0), 0);  // local = UTC
  }
  void TearDown() override {
    failUserNotificationSetAt(0);
    RootTest::TearDown();
  }
  static SYSTEMTIME at(int y, int mo, int d, int h, int mi) {
    return SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                      static_cast<WORD>(h), static_cast<WORD>(mi), 0, 0};
  }
  static HANDLE set(const wchar_t* app, const wchar_t* args, const SYSTEMTIME& start, HANDLE replace = nullptr) {
    CE_NOTIFICATION_TRIGGER t{kCeTriggerSize, CNT_TIME, 0, app, args, start, SYSTEMTIME{}};
    return CeSetUserNotificationEx(replace, &t, nullptr);
  }
  DWORD count() {
    HANDLE handles[4];
    DWORD n = 99;
    EXPECT_TRUE(CeGetUserNotificationHandles(handles, 4, &n));
    return n;
  }
  std::string database() { return test::readHostFile(root_.host("Notify/Notifications.txt")); }
};

// The database file's bytes on writing are checked with the receive timer that uses it.
TEST_F(UserNotifyTest, EntriesAreListedReadReplacedAndCleared) {
  HANDLE a = set(L"\\Windows\\OxRecvTimer.exe", L"-t", at(2026, 12, 7, 1, 15));
  HANDLE b = set(L"\\Windows\\Other.exe", L"", at(2026, 12, 8, 23, 59));
  ASSERT_TRUE(a && b && a != b);
  HANDLE handles[4] = {};
  DWORD n = 0;
  ASSERT_TRUE(CeGetUserNotificationHandles(handles, 1, &n));
  EXPECT_TRUE(n == 2u && handles[0] == a && handles[1] == nullptr) << "room for one, told of both";
  DWORD needed = 0;
  EXPECT_EQ(fails(CeGetUserNotification(a, 0, &needed, nullptr)), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(CeGetUserNotification(a, needed, &needed, buffer.data()));
  const auto* info = reinterpret_cast<const CE_NOTIFICATION_INFO_HEADER*>(buffer.data());
  EXPECT_TRUE(info->hNotification == a && info->pceun == nullptr);
  ASSERT_NE(info->pcent, nullptr);
  EXPECT_EQ(std::make_tuple(info->pcent->dwSize, info->pcent->dwType, info->pcent->stStartTime.wMinute),
            std::make_tuple(DWORD{52}, DWORD{2}, WORD{15}));
  EXPECT_EQ(std::wstring(info->pcent->lpszApplication) + L" " + info->pcent->lpszArguments,
            L"\\Windows\\OxRecvTimer.exe -t");
  EXPECT_LT(reinterpret_cast<const BYTE*>(info->pcent->lpszArguments), buffer.data() + buffer.size());
  EXPECT_EQ(set(L"\\Windows\\Other.exe", L"-x", at(2026, 12, 9, 0, 0), b), b);
  ASSERT_TRUE(CeClearUserNotification(a));
  EXPECT_EQ(fails(CeClearUserNotification(a)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(database(),
            "OxMiddle user notifications 1\n"
            "2\t2\t0\t2026-12-09 00:00:00.000\t0000-00-00 00:00:00.000\t\\Windows\\Other.exe\t-x\n");
}

TEST_F(UserNotifyTest, BadTriggersAndInjectedFailuresWriteNothing) {
  const SYSTEMTIME start = at(2026, 12, 7, 2, 0);
  const CE_NOTIFICATION_TRIGGER bad[] = {
      {64, CNT_TIME, 0, L"\\Windows\\a.exe", L"", start, {}},
      {kCeTriggerSize, CNT_EVENT, 0, L"\\Windows\\a.exe", L"", start, {}},
      {kCeTriggerSize, CNT_TIME, 0, L"", L"", start, {}},
      {kCeTriggerSize, CNT_TIME, 0, L"\\Windows\\a.exe", L"", at(2026, 13, 1, 0, 0), {}}};
  for (const CE_NOTIFICATION_TRIGGER& t : bad) {
    SetLastError(0);
    EXPECT_EQ(fails(CeSetUserNotificationEx(nullptr, &t, nullptr) != nullptr), ERROR_INVALID_PARAMETER) << &t - bad;
  }
  failUserNotificationSetAt(1);
  EXPECT_EQ(fails(set(L"\\Windows\\b.exe", L"", start) != nullptr), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(count(), 0u);
  test::writeHostFile(root_.host("Notify/Notifications.txt"), "OxMiddle user notifications 1\nnot an entry\n");
  EXPECT_EQ(count(), 0u) << "a damaged file holds nothing";
  EXPECT_EQ(set(L"\\Windows\\d.exe", L"", start), reinterpret_cast<HANDLE>(1));
}

TEST_F(UserNotifyTest, DueEntriesAreTakenInStartOrder) {
  set(L"\\Windows\\late.exe", L"", at(2026, 12, 7, 1, 1));   // one minute ahead
  set(L"\\Windows\\second.exe", L"2", at(2026, 12, 7, 1, 0));  // exactly now
  set(L"\\Windows\\first.exe", L"1", at(2026, 12, 6, 23, 0));
  std::vector<OxDueNotification> due;
  ASSERT_TRUE(OxTakeDueUserNotifications(&due));
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0].application + due[0].arguments + due[1].application, L"\\Windows\\first.exe1\\Windows\\second.exe");
  ASSERT_TRUE(OxTakeDueUserNotifications(&due));
  EXPECT_TRUE(due.empty());
  setFixedClock(at(2026, 12, 7, 1, 1), 0);
  ASSERT_TRUE(OxTakeDueUserNotifications(&due));
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].application, L"\\Windows\\late.exe");
  EXPECT_EQ(database(), "OxMiddle user notifications 1\n");
  // Times compare as whole 64-bit file times: 01:05 is due at 01:06 although the high words differ.
  set(L"\\Windows\\next.exe", L"", at(2026, 12, 7, 1, 5));
  setFixedClock(at(2026, 12, 7, 1, 6), 0);
  ASSERT_TRUE(OxTakeDueUserNotifications(&due));
  EXPECT_EQ(due.size(), 1u);
}

}  // namespace
}  // namespace oxm
