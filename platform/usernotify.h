// User notifications: timed entries that start a program, kept in a notification database file
// under the root ("Notify/Notifications.txt") so that they outlive the process, as the device's
// notification database did. The calls mirror the device's; a program plays the part of the
// device's scheduler by taking the due entries (OxTakeDueUserNotifications) and running them.
//
// Database file: UTF-8 lines, the first "OxMiddle user notifications 1", then one entry a line:
// handle, type, event, start time, end time, application, arguments, separated by TAB; times
// are local "YYYY-MM-DD hh:mm:ss.mmm". Writers replace the file through "<file>.tmp" and a
// rename under the lock file "Notify/Notifications.lock", so other processes lose nothing. A
// file that does not parse is treated as holding no entries (and replaced by the next write).
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace oxm {

typedef void* HANDLE;

// Trigger types and the size callers put in dwSize (the record's size on the device).
enum : DWORD { CNT_EVENT = 1, CNT_TIME = 2, CNT_PERIOD = 3, CNT_CLASSICTIME = 4 };
inline constexpr DWORD kCeTriggerSize = 52;

struct CE_NOTIFICATION_TRIGGER {
  DWORD dwSize;
  DWORD dwType;
  DWORD dwEvent;
  const wchar_t* lpszApplication;
  const wchar_t* lpszArguments;
  SYSTEMTIME stStartTime;  // local time
  SYSTEMTIME stEndTime;
};

// What CeGetUserNotification writes at the start of the caller's buffer; the trigger and its
// two texts follow it in the same buffer and the pointers point there.
struct CE_NOTIFICATION_INFO_HEADER {
  HANDLE hNotification;
  DWORD dwStatus;
  CE_NOTIFICATION_TRIGGER* pcent;
  void* pceun;  // always null: no user-notification record is kept
};

// The handles of all entries, at most `count` of them, into handles[]; *needed gets the number
// of entries. False with the file-system code when the database cannot be read.
bool CeGetUserNotificationHandles(HANDLE* handles, DWORD count, DWORD* needed);
// One entry into `buffer` (header, trigger, texts). A buffer smaller than the entry: false with
// ERROR_INSUFFICIENT_BUFFER and *needed set (call with size 0 to learn the size); an unknown
// handle: ERROR_INVALID_HANDLE.
bool CeGetUserNotification(HANDLE handle, DWORD size, DWORD* needed, BYTE* buffer);
// Removes the entry; an unknown handle: false, ERROR_INVALID_HANDLE.
bool CeClearUserNotification(HANDLE handle);
// Adds an entry (handle 0) or replaces the entry `handle`; returns its handle, null on failure:
// ERROR_INVALID_PARAMETER for a null trigger, a dwSize other than kCeTriggerSize, a type other
// than CNT_TIME, a missing application, a start time that is not a valid date; the file
// system's code when the database cannot be written. `notification` must be null.
HANDLE CeSetUserNotificationEx(HANDLE handle, const CE_NOTIFICATION_TRIGGER* trigger, const void* notification);

// Test hook: the nth CeSetUserNotificationEx from now (1 = the next) fails with
// ERROR_NOT_ENOUGH_MEMORY, writing nothing; 0 clears the hook.
void failUserNotificationSetAt(int n);

}  // namespace oxm

// A due entry as the scheduler hands it to a program.
struct OxDueNotification {
  std::wstring application;
  std::wstring arguments;
  SYSTEMTIME start;  // local time it was due
};

// Removes every time entry whose start is at or before the current local time from the
// database and returns them in start order: they have fired. False when the database cannot be
// read or rewritten (nothing is removed then).
bool OxTakeDueUserNotifications(std::vector<OxDueNotification>* due);
