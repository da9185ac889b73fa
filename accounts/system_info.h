// System information: what ties the mail program to the phone. The W account (the phone's own
// mail account, a directory named by the 11-digit phone number) is named in the W-account file
// SystemInfoPath + "SystemInfo.ini"; the default-mailer switch and the phone number are
// registry values.
//
// The set-up members make the W account (SetWAccount) and the feed account (SetFAccount, three
// forms) with their trays, settings, registrations and files in one call each.
#pragma once

#include <string>

#include "accounts/account_info.h"

namespace oxm {
class OxSystemInfo;
}  // namespace oxm

class OxSystemInfoInterface {
 public:
  // Borrows the shared system-information object; the destructor hands it back.
  OxSystemInfoInterface();
  ~OxSystemInfoInterface();
  OxSystemInfoInterface(const OxSystemInfoInterface&) = delete;
  OxSystemInfoInterface& operator=(const OxSystemInfoInterface&) = delete;

  // A new interface; the caller deletes it.
  static OxSystemInfoInterface* GetSystemInfo();
  // Writes "strAccountName" = account into "\Application Data\OxenMail\System\SystemInfo.ini",
  // a settings file that must exist already (OXMDL_ERR_INI_SIZE otherwise).
  static bool SetSystemInfo(std::wstring account);
  // "defaultLaunchMailer" under HKEY_CURRENT_USER "Software\Tamarin\Launcher": missing or 0
  // gives 0, 1 gives 1, any other value 2.
  static int IsDefMail();
  // Writes that value: false with OXMDL_ERR_REG_VALUE when it cannot be written.
  bool ChangeDefMail(int value);
  // The phone's own number ("MyPhonenum" under HKEY_CURRENT_USER "Software\TAMARIN\TmPhoneLib",
  // the key made when missing) into out, which holds at least 130 characters (260 bytes of
  // UTF-16 on the device). A missing or empty number: false and out = "".
  bool GetPhonenum(wchar_t* out);
  // The W account's name: the first line of the W-account file under `regkey`'s SystemInfoPath
  // (empty key: the mail program's), at most 99 characters. No file: false with
  // OXMDL_ERR_FILE_OPEN; no SystemInfoPath: the registry code.
  static bool GetWAccount(std::wstring& out, const std::wstring& regkey);
  // Replaces the W-account file under the mail program's key by the text: OXMDL_ERR_FILE_OPEN
  // when it cannot be written (the old file is kept).
  bool ChangeSystemIni(std::wstring text);

  // Makes or updates the W account, the account in the directory named by `phone`, under
  // `regkey` (empty: the mail program's key). An earlier W account of another number is marked
  // "Not Available" (its POP and SMTP servers and POP user) first; a missing account is made
  // with its trays (OxAccountCreator), under `regkey`; an existing one keeps its display name.
  // `attrs` is written with the set-up's mask (bits 1-8, 10-12, 17-21, 33, 37) and its forced
  // fields (the device's network GUID, the W-account and saving switches, 600 lines, SMTP
  // server authentication as the caller's POP before SMTP) and holds them afterwards, its mask
  // 0. Then the W-account file names the account and the platform's inbox gets its two entries
  // under HKEY_LOCAL_MACHINE "System\Inbox\ExternalAccounts\". False at the first step that
  // fails, with its code (a W-account file that cannot be written: OXMDL_ERR_FILE_OPEN); the
  // steps before it stay done.
  bool SetWAccount(const std::wstring& phone, OxAccountInfoInterface::Attributes& attrs,
                   const std::wstring& regkey);
  // Sets up the feed account "Server" under "Software\Tamarin\Rivulet": the feed directories,
  // the account with its trays (when missing), its settings (the caller's strPopServerName and
  // strSmtpServerName, the service's fixed values for the rest of the set-up's mask), the
  // W-account file of that key, the feed display's common settings, "Temp/PushService.ini"
  // (when missing), the folders "News" and "Adv" under its receive tray and its three rules.
  // A second run keeps the account, the push-service file and News and Adv (found by name
  // under the receive tray) and rewrites the rest. False at the first step that fails, with
  // its code.
  bool SetFAccount(OxAccountInfoInterface::Attributes& attrs);
  // The same with a record whose only values are strPopServerName = first and
  // strSmtpServerName = second.
  bool SetFAccount(std::wstring& first, std::wstring& second);
  // The same with strPopServerName = the feed service's sign-up page.
  bool SetFAccount(std::wstring& second);
  unsigned long GetErrorInfo() const;

 private:
  oxm::OxSystemInfo* info_;
  std::wstring systemDirectory_;
};
