// System information: what ties the mail program to the phone. The W account (the phone's own
// mail account, a directory named by the 11-digit phone number) is named in the W-account file
// SystemInfoPath + "SystemInfo.ini"; the default-mailer switch and the phone number are
// registry values.
//
// The set-up members SetWAccount and SetFAccount (three forms) create accounts with their four
// trays and the feed account's folders in the message store; they arrive together with the
// store.
#pragma once

#include <string>

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
  unsigned long GetErrorInfo() const;

 private:
  oxm::OxSystemInfo* info_;
  std::wstring systemDirectory_;
};
