// The device's fixed values and the steps of the W-account and feed-account set-up.
//
// The set-up members of OxSystemInfoInterface create accounts with their trays and the feed
// account's folders in the message store. setUpWAccount and setUpFAccount run every other step
// and take those store steps as arguments, so the members are these calls with the store's
// steps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accounts/account_info.h"
#include "accounts/classification.h"
#include "platform/wintypes.h"

namespace oxm {

using AccountAttributes = OxAccountInfoInterface::Attributes;

inline constexpr const wchar_t* kSystemDirectory = L"\\Application Data\\OxenMail\\System";
inline constexpr const wchar_t* kSystemInfoFile = L"SystemInfo.ini";
inline constexpr const wchar_t* kLauncherKey = L"Software\\Tamarin\\Launcher";
inline constexpr const wchar_t* kPhoneLibKey = L"Software\\TAMARIN\\TmPhoneLib";
inline constexpr const wchar_t* kInboxAccountsKey = L"System\\Inbox\\ExternalAccounts\\";
inline constexpr const wchar_t* kNotAvailable = L"Not Available";
// {C1D06580-B364-45EC-8421-5ACF34129C58}: the network setting of the W and feed accounts.
inline constexpr GUID kDeviceNetworkGuid = {
    0xC1D06580, 0xB364, 0x45EC, {0x84, 0x21, 0x5A, 0xCF, 0x34, 0x12, 0x9C, 0x58}};
inline constexpr const wchar_t* kInboxHandlerGuid = L"{B93E6627-7CD4-415E-8DFE-5CA41C43573C}";

// What the set-up writes of the W and feed accounts.
inline constexpr uint64_t kDeviceAccountMask = [] {
  using M = OxAccountInfoInterface::Mask;
  return M::strSenderAddress | M::strPopServerName | M::uiPopServerPort | M::strPopUserName |
         M::strPopPasswd | M::bAPOPEnabled | M::bPopPasswdSavingEnabled | M::bMessageLeavingEnabled |
         M::uiPartialRetrievingLines | M::strSmtpServerName | M::uiSmtpServerPort |
         M::guidNetworkSetting | M::bAutoMailRetrievingEnabled | M::bPopBeforeSmtpEnabled |
         M::ulPopBeforeSmtpLatencySec | M::bSmtpAuthEnabled | M::bWaccount | M::bSmtpSvrAuthEnabled;
}();

// Values of the feed service that the program leaves to us. They are placeholders: the service
// that gave them meaning is not part of this system. The feed account's sender address also
// marks it as the feed account wherever an account is looked at.
inline constexpr const wchar_t* kFeedAccountName = L"Server";  // the name the feed retriever opens
inline constexpr const wchar_t* kFeedSenderAddress = L"feed@rivulet.invalid";
inline constexpr const wchar_t* kFeedPopUser = L"rivulet";
inline constexpr const wchar_t* kFeedPopPassword = L"rivulet";
inline constexpr const char* kPushPhoneNumber = "00000000000";
inline constexpr const char* kPushMessage = "RivuletPush";
inline constexpr const wchar_t* kFeedSignUpAddress = L"http://rivulet.invalid/signup";

inline constexpr const wchar_t* kPushServiceFile = L"Temp/PushService.ini";
inline constexpr const wchar_t* kRivuletDirectory = L"\\Application Data\\Rivulet";

// The W-account file, SystemInfoPath of `regkey` + "SystemInfo.ini": one line of text in
// UTF-16LE without BOM (the device's wide text mode: a line end is CR LF). Reading gives the
// first line, at most 99 characters; no file: OXMDL_ERR_FILE_OPEN. Writing replaces the file
// crash-safely: OXMDL_ERR_FILE_OPEN when that fails. A missing SystemInfoPath gives the
// registry code.
unsigned readWAccountFile(const std::wstring& regkey, std::wstring* name);
unsigned writeWAccountFile(const std::wstring& regkey, const std::wstring& name);

// Writes "Not Available" into strPopServerName, strPopUserName and strSmtpServerName and false
// into bPopPasswdSavingEnabled of the account in `directory` under `regkey`.
unsigned markNotAvailable(const std::wstring& directory, const std::wstring& regkey);
// The record of the W account: the caller's, with the mask and the device's fields forced.
void forceWAccountFields(AccountAttributes* attrs);
// The record of the feed account: the caller's servers, everything else the service's.
void forceFeedAccountFields(AccountAttributes* attrs);
// Registers the account with the platform's inbox under HKEY_LOCAL_MACHINE: the key
// kInboxAccountsKey + name, and that key + "________-1" + name for sending handwritten mail.
unsigned registerInboxAccount(const std::wstring& name, const std::wstring& address);
// "\Application Data\Rivulet" with its "Accounts" and "System": OXMDL_ERR_ACC_CREATE_DIR.
unsigned makeFeedDirectories();
// "Temp/PushService.ini", when it does not exist: OXMDL_ERR_FILE_OPEN when it cannot be made
// or written (nothing is left then).
unsigned writePushServiceFile();
// The feed account's three rules, all on "X-ML-name" with the receive tray as target.
std::vector<OxClassificationParamInterface::Attributes> feedRules(uint32_t inbox, uint32_t news,
                                                                  uint32_t adv);

// The message store's parts of the set-up: making an account with its four trays (the
// registry key says which DataPath), and the feed account's "News" and "Adv" folders under its
// receive tray. Each returns false with the last error set.
using MakeAccountWithTrays = std::function<bool(const std::wstring& name, const std::wstring& regkey)>;
using MakeFeedFolders = std::function<bool(OxAccountInfoInterface& account, uint32_t inbox,
                                           uint32_t* news, uint32_t* adv)>;

// The feed set-up's store step: "News" and "Adv" under the receive tray `inbox` of the account's
// storage. A folder of that name already there is taken as it is, so that a second set-up
// neither doubles the folders nor loses what they hold.
bool makeNewsAndAdv(OxAccountInfoInterface& account, uint32_t inbox, uint32_t* news, uint32_t* adv);

// OxSystemInfoInterface::SetWAccount with the store's step. The caller's record is written with
// the forced mask and fields (it holds them afterwards, its mask 0).
bool setUpWAccount(const std::wstring& phone, AccountAttributes& attrs, const std::wstring& regkey,
                   const MakeAccountWithTrays& makeAccount);
// OxSystemInfoInterface::SetFAccount with the store's steps.
bool setUpFAccount(AccountAttributes& attrs, const MakeAccountWithTrays& makeAccount,
                   const MakeFeedFolders& makeFolders);

}  // namespace oxm
