#include "accounts/device_setup.h"

#include <memory>

#include "accounts/account_set.h"
#include "accounts/common_defaults.h"
#include "accounts/common_setting.h"
#include "accounts/paths.h"
#include "accounts/system_info.h"
#include "accounts/utf16_bytes.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "platform/debug.h"
#include "platform/device.h"
#include "platform/fs.h"
#include "store/storage_interface.h"

namespace oxm {

namespace {

// The device read the W-account file with a buffer of 100 characters.
constexpr size_t kWAccountNameUnits = 99;
// The common settings of the start screen's feed display.
constexpr uint64_t kFeedCommonMask = [] {
  using M = OxCommonSettingInterface::Mask;
  return M::uiTodayDispLinesRivulet | M::bDispTodayRefresh1Line | M::bDispTodayRefresh3Line |
         M::uiDispTodayRefresh1LineSec | M::uiDispTodayRefresh3LineSec;
}();
using AccountMask = OxAccountInfoInterface::Mask;

bool fail(unsigned code) {
  SetOxMiddleError(code);
  return false;
}

unsigned wAccountFilePath(const std::wstring& regkey, std::wstring* path) {
  std::wstring dir;
  unsigned code = readSystemInfoPath(regkey, &dir);
  if (code == OXMDL_ERR_NONE) *path = dir + kSystemInfoFile;
  return code;
}

// The directory of the account a W-account file names: the account whose strAccountName it is,
// else the account directory of that name (an account whose display name is its directory).
std::wstring directoryOfNamed(const std::wstring& name, const std::wstring& regkey) {
  std::wstring dir;
  if (OxAccountInfoInterface::GetAccountPhoneNumberFromName(name, dir, regkey)) return dir;
  return OxAccountInfoInterface::IsExistAccount(name, regkey) ? name : std::wstring();
}

// The account that a W-account file names, marked "Not Available" when it is not `current`.
bool retirePrevious(const std::wstring& regkey, const std::wstring& current) {
  std::wstring previous;
  if (readWAccountFile(regkey, &previous) != OXMDL_ERR_NONE || previous.empty()) return true;
  const std::wstring dir = directoryOfNamed(previous, regkey);
  if (dir.empty() || dir == current) return true;
  unsigned code = markNotAvailable(dir, regkey);
  return code == OXMDL_ERR_NONE || fail(code);
}

}  // namespace

unsigned readWAccountFile(const std::wstring& regkey, std::wstring* name) {
  std::wstring path;
  unsigned code = wAccountFilePath(regkey, &path);
  if (code != OXMDL_ERR_NONE) return code;
  if (preOpenCheck(path) != OXMDL_ERR_NONE) return OXMDL_ERR_FILE_OPEN;
  File f;
  std::string bytes(2 * (kWAccountNameUnits + 1), '\0');
  size_t got = 0;
  if (!f.openStream(path, "r") || !f.read(bytes.data(), bytes.size(), &got)) {
    return OXMDL_ERR_FILE_OPEN;
  }
  std::wstring text = textOfUtf16(bytes.data(), got);
  text = text.substr(0, text.find_first_of(L"\r\n"));
  // At most 99 UTF-16 units, without splitting a surrogate pair.
  while (utf16Length(text) > kWAccountNameUnits) text.pop_back();
  *name = text;
  return OXMDL_ERR_NONE;
}

unsigned writeWAccountFile(const std::wstring& regkey, const std::wstring& name) {
  std::wstring path;
  unsigned code = wAccountFilePath(regkey, &path);
  if (code != OXMDL_ERR_NONE) return code;
  std::wstring text;
  for (wchar_t c : name) {
    if (c == L'\n') text += L'\r';  // text mode
    text += c;
  }
  const std::string bytes = utf16Bytes(text);
  return replaceFile(path, bytes.data(), bytes.size()) == OXMDL_ERR_NONE ? OXMDL_ERR_NONE
                                                                          : OXMDL_ERR_FILE_OPEN;
}

unsigned markNotAvailable(const std::wstring& directory, const std::wstring& regkey) {
  std::wstring dataPath;
  OxAccountInfo* info = nullptr;
  unsigned code = readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE && !isPlainName(directory)) code = OXMDL_ERR_ACC_OPEN;
  if (code == OXMDL_ERR_NONE) code = acquireAccount(dataPath + directory, &info);
  if (code != OXMDL_ERR_NONE) return code;
  AccountAttributes attrs;
  attrs.mask = AccountMask::strPopServerName | AccountMask::strPopUserName |
               AccountMask::bPopPasswdSavingEnabled | AccountMask::strSmtpServerName;
  attrs.strPopServerName = kNotAvailable;
  attrs.strPopUserName = kNotAvailable;
  attrs.strSmtpServerName = kNotAvailable;
  attrs.bPopPasswdSavingEnabled = false;
  code = info->writeAttributes(attrs);
  accountSet().release(info);
  return code;
}

void forceWAccountFields(AccountAttributes* attrs) {
  attrs->mask = kDeviceAccountMask;
  attrs->guidNetworkSetting = kDeviceNetworkGuid;
  attrs->bWaccount = true;
  attrs->bPopPasswdSavingEnabled = true;
  attrs->bMessageLeavingEnabled = true;
  attrs->bAutoMailRetrievingEnabled = true;
  attrs->bSmtpSvrAuthEnabled = attrs->bPopBeforeSmtpEnabled;
  attrs->bSmtpAuthEnabled = false;
  attrs->uiPartialRetrievingLines = 600;
}

void forceFeedAccountFields(AccountAttributes* attrs) {
  attrs->mask = kDeviceAccountMask;
  attrs->strSenderAddress = kFeedSenderAddress;
  attrs->uiPopServerPort = 110;
  attrs->strPopUserName = kFeedPopUser;
  attrs->strPopPasswd = kFeedPopPassword;
  attrs->bAPOPEnabled = false;
  attrs->uiSmtpServerPort = 25;
  attrs->bPopBeforeSmtpEnabled = true;
  attrs->ulPopBeforeSmtpLatencySec = 0;
  attrs->bWaccount = false;
  attrs->bPopPasswdSavingEnabled = true;
  attrs->bMessageLeavingEnabled = true;
  attrs->guidNetworkSetting = kDeviceNetworkGuid;
  attrs->bSmtpAuthEnabled = false;
  attrs->bAutoMailRetrievingEnabled = true;
  attrs->uiPartialRetrievingLines = 600;
  attrs->bSmtpSvrAuthEnabled = true;
}

unsigned registerInboxAccount(const std::wstring& name, const std::wstring& address) {
  const std::wstring key0 = kInboxAccountsKey + name;
  const struct {
    std::wstring key;
    std::wstring displayName;
    bool sendMode;
  } entries[] = {
      {key0, L"K-PRISMメール" L"で" L"送信 (" + name + L")", false},
      {key0 + L"________-1" + name, L"手書きメールを" L"送信 (" + name + L")", true},
  };
  for (const auto& entry : entries) {
    const wchar_t* key = entry.key.c_str();
    if (!SetRegistryValue(HKEY_LOCAL_MACHINE, key, L"DisplayName", entry.displayName) ||
        !SetRegistryValue(HKEY_LOCAL_MACHINE, key, L"Address", address) ||
        !SetRegistryValue(HKEY_LOCAL_MACHINE, key, L"Handler", kInboxHandlerGuid) ||
        !SetRegistryValue(HKEY_LOCAL_MACHINE, key, L"AccountName", name) ||
        (entry.sendMode && !SetRegistryDword(HKEY_LOCAL_MACHINE, key, L"SendMode", 1))) {
      return GetOxMiddleError();
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned makeFeedDirectories() {
  const std::wstring base = kRivuletDirectory;
  for (const std::wstring& dir : {base, base + L"\\Accounts", base + L"\\System"}) {
    if (GetFileAttributesW(dir) == INVALID_FILE_ATTRIBUTES && !OxCreateDeviceDirectory(dir)) {
      return OXMDL_ERR_ACC_CREATE_DIR;
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned writePushServiceFile() {
  const std::wstring path = kPushServiceFile;
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return OXMDL_ERR_NONE;
  NKDbgPrintfW(L" *Create PushService.ini \r\n");
  const std::wstring dir = path.substr(0, path.find(L'/'));
  if (GetFileAttributesW(dir) == INVALID_FILE_ATTRIBUTES) OxCreateDeviceDirectory(dir);
  const std::string text = std::string("[PushServiceSetting1]\r\n") +
                           "PhoneNumber=" + kPushPhoneNumber + "\r\n" +
                           "Message=" + kPushMessage + "\r\n" +
                           "App=\"\\Windows\\Tidewake.exe\"\r\n";
  File f;
  if (!f.openStream(path, "wb")) return diskFullOr(OXMDL_ERR_FILE_OPEN);
  ScopeGuard removePartial([&] {
    f.close();
    DeleteFileW(path);
  });
  if (!f.write(text.data(), text.size()) || !f.flush()) return diskFullOr(OXMDL_ERR_FILE_OPEN);
  removePartial.dismiss();
  return OXMDL_ERR_NONE;
}

std::vector<OxClassificationParamInterface::Attributes> feedRules(uint32_t inbox, uint32_t news,
                                                                  uint32_t adv) {
  const wchar_t* field = L"X-ML-name";
  return {
      {L"news", field, L"news", news, inbox, 0},
      {L"norvale", field, L"norvale", adv, inbox, 0},
      {L"weather", field, L"weather", news, inbox, 0},
  };
}

bool makeNewsAndAdv(OxAccountInfoInterface& account, uint32_t inbox, uint32_t* news, uint32_t* adv) {
  std::unique_ptr<OxStorageInterface> storage(account.OpenStorage());
  if (!storage) return false;
  std::unique_ptr<OxFolderInterface> tray(storage->OpenFolder(inbox));
  std::vector<unsigned long> children;
  if (!tray || !tray->GetFolderIds(&children)) return false;
  const struct {
    const wchar_t* name;
    uint32_t* id;
  } wanted[] = {{L"News", news}, {L"Adv", adv}};
  for (const auto& folder : wanted) {
    unsigned long id = 0;
    bool found = false;
    for (unsigned long child : children) {
      OxFolderInterface::FolderAttributes attr;
      if (!tray->ReadFolderAttributes(child, &attr)) return false;
      if (attr.name == folder.name) {
        id = child;
        found = true;
        break;
      }
    }
    if (!found && !tray->CreateFolder(folder.name, &id)) return false;
    *folder.id = static_cast<uint32_t>(id);
  }
  return true;
}

bool setUpWAccount(const std::wstring& phone, AccountAttributes& attrs, const std::wstring& regkey,
                   const MakeAccountWithTrays& makeAccount) {
  NKDbgPrintfW(L"----------------------------------------------\r\n");
  NKDbgPrintfW(L"----- SetWAccount Account:[%s] -----\r\n", phone.c_str());
  std::wstring name = phone;
  std::wstring previous;
  if (readWAccountFile(regkey, &previous) == OXMDL_ERR_NONE && !previous.empty()) {
    NKDbgPrintfW(L"[SetWAccount] previous W account:[%s]\r\n", previous.c_str());
    if (!retirePrevious(regkey, phone)) return false;
    if (OxAccountInfoInterface::IsExistAccount(phone, regkey)) {
      wchar_t display[260] = {};
      std::wstring number = phone;
      if (OxAccountInfoInterface::GetAccountNameFromPhoneNumber(number.data(), display, 260)) {
        name = display;
      }
    }
  }
  if (!OxAccountInfoInterface::IsExistAccount(phone, regkey)) {
    NKDbgPrintfW(L"[SetWAccount] create the account\r\n");
    if (!makeAccount(phone, regkey)) return false;
    std::unique_ptr<OxAccountInfoInterface> made(OxAccountInfoInterface::OpenAccountInfo(phone, regkey));
    if (!made) {
      NKDbgPrintfW(L"[SetWAccount]  Error info 1\r\n");
      return false;
    }
  }
  std::unique_ptr<OxAccountInfoInterface> account(
      OxAccountInfoInterface::OpenAccountInfoFromPhoneNumber(phone, regkey));
  if (!account) {
    NKDbgPrintfW(L"[SetWAccount]  Error info 2\r\n");
    return false;
  }
  NKDbgPrintfW(L"[SetWAccount] write the account settings\r\n");
  forceWAccountFields(&attrs);
  if (!account->SetAccountInfoAttributes(attrs)) return false;
  NKDbgPrintfW(L"[SetWAccount] write the W-account file\r\n");
  unsigned code = writeWAccountFile(regkey, name);
  if (code != OXMDL_ERR_NONE) return fail(code);
  AccountAttributes address;
  address.mask = AccountMask::strSenderAddress;
  if (!account->GetAccountInfoAttributes(&address)) return false;
  NKDbgPrintfW(L"[SetWAccount] register with the inbox\r\n");
  code = registerInboxAccount(name, address.strSenderAddress);
  return code == OXMDL_ERR_NONE || fail(code);
}

bool setUpFAccount(AccountAttributes& attrs, const MakeAccountWithTrays& makeAccount,
                   const MakeFeedFolders& makeFolders) {
  NKDbgPrintfW(L" **SetFAccount() \r\n");
  const std::wstring regkey = kRivuletKey;
  const std::wstring name = kFeedAccountName;
  unsigned code = makeFeedDirectories();
  if (code != OXMDL_ERR_NONE) return fail(code);
  if (!retirePrevious(regkey, name)) return false;
  if (!OxAccountInfoInterface::IsExistAccount(name, regkey) && !makeAccount(name, regkey)) return false;
  std::unique_ptr<OxAccountInfoInterface> account(OxAccountInfoInterface::OpenAccountInfo(name, regkey));
  if (!account) return false;
  forceFeedAccountFields(&attrs);
  if (!account->SetAccountInfoAttributes(attrs)) return false;
  code = writeWAccountFile(regkey, name);
  if (code != OXMDL_ERR_NONE) return fail(code);

  NKDbgPrintfW(L" *Create CommonSettings.ini \r\n");
  OxCommonSettingInterface common(regkey);
  OxCommonSettingInterface::Attributes display;
  applyCommonDefaults(&display, kFeedCommonMask);
  display.mask = kFeedCommonMask;
  if (!common.SetCommonSettingAttributes(display)) return false;
  code = writePushServiceFile();
  if (code != OXMDL_ERR_NONE) return fail(code);

  AccountAttributes trays;
  trays.mask = AccountMask::ulJusinTrayID;
  uint32_t news = 0, adv = 0;
  if (!account->GetAccountInfoAttributes(&trays) ||
      !makeFolders(*account, trays.ulJusinTrayID, &news, &adv)) {
    return false;
  }
  std::unique_ptr<OxClassificationParamInterface> rules(account->OpenClassificationParamInterface());
  return rules && rules->SetAttributes(feedRules(trays.ulJusinTrayID, news, adv));
}

}  // namespace oxm
