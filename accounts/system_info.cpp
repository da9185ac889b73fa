#include "accounts/system_info.h"

#include <algorithm>
#include <memory>
#include <new>

#include "accounts/account_create.h"
#include "accounts/account_creator.h"
#include "accounts/device_setup.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "frame/refset.h"
#include "frame/registry_value.h"
#include "platform/registry.h"

namespace oxm {

// The shared system-information object: it holds no state of its own beyond its directory.
class OxSystemInfo {
 public:
  explicit OxSystemInfo(std::wstring dir) : dir_(std::move(dir)) {}
  const std::wstring& directory() const { return dir_; }

 private:
  std::wstring dir_;
};

namespace {

RefCountedSet<std::wstring, OxSystemInfo>& systemInfoSet() {
  static RefCountedSet<std::wstring, OxSystemInfo> set;
  return set;
}

// "MyPhonenum" is read into 260 bytes of UTF-16 on the device: 129 characters and the NUL.
constexpr DWORD kPhoneNumberBytes = 260;

// A registry key opened or made, closed on every path.
class OpenKey {
 public:
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  bool openOrCreate(HKEY root, const std::wstring& subkey) {
    return RegCreateKeyExW(root, subkey, &key_) == ERROR_SUCCESS;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

}  // namespace oxm

OxSystemInfoInterface::OxSystemInfoInterface()
    : info_(nullptr), systemDirectory_(oxm::kSystemDirectory) {
  oxm::systemInfoSet().acquire(
      systemDirectory_,
      [this](std::unique_ptr<oxm::OxSystemInfo>* made) {
        made->reset(new (std::nothrow) oxm::OxSystemInfo(systemDirectory_));
        return *made ? OXMDL_ERR_NONE : OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
      },
      &info_);
}

OxSystemInfoInterface::~OxSystemInfoInterface() {
  if (info_) oxm::systemInfoSet().release(info_);
}

OxSystemInfoInterface* OxSystemInfoInterface::GetSystemInfo() {
  auto* made = new (std::nothrow) OxSystemInfoInterface();
  if (!made) SetOxMiddleError(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  return made;
}

bool OxSystemInfoInterface::SetSystemInfo(std::wstring account) {
  OxProfileManipulator profile(oxm::joinPath(oxm::kSystemDirectory, oxm::kSystemInfoFile));
  return profile.WritePrivateProfileString(L"strAccountName", account);
}

int OxSystemInfoInterface::IsDefMail() {
  DWORD value = 0;
  if (!GetRegistryDword(HKEY_CURRENT_USER, oxm::kLauncherKey, L"defaultLaunchMailer", &value)) {
    return 0;
  }
  return value == 0 ? 0 : value == 1 ? 1 : 2;
}

bool OxSystemInfoInterface::ChangeDefMail(int value) {
  return SetRegistryDword(HKEY_CURRENT_USER, oxm::kLauncherKey, L"defaultLaunchMailer",
                          static_cast<DWORD>(value));
}

bool OxSystemInfoInterface::GetPhonenum(wchar_t* out) {
  if (!out) {
    SetOxMiddleError(OXMDL_ERR_STG_INVALID_ARG);
    return false;
  }
  out[0] = L'\0';
  oxm::OpenKey key;
  if (!key.openOrCreate(HKEY_CURRENT_USER, oxm::kPhoneLibKey)) {
    SetOxMiddleError(OXMDL_ERR_REG_OPEN);
    return false;
  }
  std::wstring number;
  if (oxm::RegQueryString(key.get(), L"MyPhonenum", &number, oxm::kPhoneNumberBytes) !=
      oxm::ERROR_SUCCESS) {
    SetOxMiddleError(OXMDL_ERR_REG_VALUE);
    return false;
  }
  std::copy(number.begin(), number.end(), out);
  out[number.size()] = L'\0';
  return !number.empty();
}

bool OxSystemInfoInterface::GetWAccount(std::wstring& out, const std::wstring& regkey) {
  unsigned code = oxm::readWAccountFile(regkey, &out);
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

bool OxSystemInfoInterface::ChangeSystemIni(std::wstring text) {
  unsigned code = oxm::writeWAccountFile(L"", text);
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

bool OxSystemInfoInterface::SetWAccount(const std::wstring& phone,
                                        OxAccountInfoInterface::Attributes& attrs,
                                        const std::wstring& regkey) {
  // The account is made under the key the caller names, so that the open that follows finds
  // it there (with the mail program's key this is OxAccountCreator::CreateFolders).
  return oxm::setUpWAccount(phone, attrs, regkey, [](const std::wstring& name, const std::wstring& key) {
    return oxm::createAccountWithTrays(name, key, false);
  });
}

bool OxSystemInfoInterface::SetFAccount(OxAccountInfoInterface::Attributes& attrs) {
  return oxm::setUpFAccount(
      attrs,
      [](const std::wstring& name, const std::wstring& key) {
        return OxAccountCreator().CreateFeedFolders(name, key);
      },
      oxm::makeNewsAndAdv);
}

bool OxSystemInfoInterface::SetFAccount(std::wstring& first, std::wstring& second) {
  OxAccountInfoInterface::Attributes attrs{};
  attrs.strPopServerName = first;
  attrs.strSmtpServerName = second;
  return SetFAccount(attrs);
}

bool OxSystemInfoInterface::SetFAccount(std::wstring& second) {
  std::wstring signUp = oxm::kFeedSignUpAddress;
  return SetFAccount(signUp, second);
}

unsigned long OxSystemInfoInterface::GetErrorInfo() const { return GetOxMiddleError(); }
