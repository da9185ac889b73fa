// SetRecvTimer over the platform's user notifications.
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/usernotify.h"
#include "transport/periodic.h"

namespace {

// The refusal code of the receive timer; its number is shared with an attachment code of the
// error table, so it is named here.
constexpr int kRecvTimerRefused = 0x02002401;
constexpr int kHandleRoom = 100;
constexpr uint64_t kTicksPerMinute = 600000000ull;  // 100-ns units

bool isRecvTimer(oxm::HANDLE handle) {
  DWORD needed = 0;
  oxm::CeGetUserNotification(handle, 0, &needed, nullptr);
  if (needed == 0) return false;
  std::vector<BYTE> buffer(needed);
  if (!oxm::CeGetUserNotification(handle, needed, &needed, buffer.data())) return false;
  const auto* info = reinterpret_cast<const oxm::CE_NOTIFICATION_INFO_HEADER*>(buffer.data());
  return info->pcent && info->pcent->lpszApplication &&
         std::wstring(info->pcent->lpszApplication) == kRecvTimerApplication;
}

}  // namespace

int SetRecvTimer(bool enable, int minutes) {
  oxm::NKDbgPrintfW(L"[[ SetRecvTimer(%d, %d) ]]\r\n", enable ? 1 : 0, minutes);
  oxm::HANDLE handles[kHandleRoom] = {};
  DWORD count = 0;
  if (oxm::CeGetUserNotificationHandles(handles, kHandleRoom, &count)) {
    for (DWORD i = 0; i < count && i < kHandleRoom; ++i) {
      if (isRecvTimer(handles[i])) oxm::CeClearUserNotification(handles[i]);
    }
  }
  if (!enable) return 0;

  SYSTEMTIME now;
  oxm::GetLocalTime(&now);
  FILETIME ft{};
  oxm::SystemTimeToFileTime(&now, &ft);
  uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime) +
                   static_cast<uint64_t>(static_cast<int64_t>(minutes)) * kTicksPerMinute;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME start{};
  oxm::FileTimeToSystemTime(&ft, &start);

  oxm::CE_NOTIFICATION_TRIGGER trigger{oxm::kCeTriggerSize, oxm::CNT_TIME, 0, kRecvTimerApplication,
                                       kRecvTimerArguments, start, SYSTEMTIME{}};
  if (!oxm::CeSetUserNotificationEx(nullptr, &trigger, nullptr)) {
    oxm::NKDbgPrintfW(L"CeSetUserNotificationEx false  ");
    return kRecvTimerRefused;
  }
  return 0;
}
