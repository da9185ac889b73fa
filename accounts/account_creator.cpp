#include "accounts/account_creator.h"

#include <memory>

#include "accounts/account_create.h"
#include "accounts/account_set.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "store/storage_interface.h"

namespace oxm {

namespace {

using Attributes = OxAccountInfoInterface::Attributes;

// The trays, made in this order under the root folder, and the keys of their identifiers
// (bits 28 to 31).
struct Tray {
  const wchar_t* name;
  uint32_t Attributes::*id;
};
constexpr Tray kTrays[] = {
    {L"受信トレイ", &Attributes::ulJusinTrayID},
    {L"送信待ちトレイ", &Attributes::ulSousinTrayID},
    {L"送信済みトレイ", &Attributes::ulSousinZumiTrayID},
    {L"下書きトレイ", &Attributes::ulSitagakiTrayID},
};
constexpr uint64_t kTrayMask = [] {
  using M = OxAccountInfoInterface::Mask;
  return M::ulJusinTrayID | M::ulSousinTrayID | M::ulSousinZumiTrayID | M::ulSitagakiTrayID;
}();

// The trays in the account's storage, their identifiers written into its settings.
bool makeTrays(OxAccountInfoInterface& account) {
  std::unique_ptr<OxStorageInterface> storage(account.OpenStorage());
  if (!storage) return false;
  std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
  if (!root) return false;
  Attributes ids;
  for (const Tray& tray : kTrays) {
    unsigned long id = 0;
    if (!root->CreateFolder(tray.name, &id)) return false;
    ids.*tray.id = static_cast<uint32_t>(id);
  }
  ids.mask = kTrayMask;
  return account.SetAccountInfoAttributes(ids);
}

}  // namespace

bool createAccountWithTrays(const std::wstring& name, const std::wstring& regkey, bool feed) {
  {
    const unsigned before = GetOxMiddleError();
    std::unique_ptr<OxAccountInfoInterface> existing(OxAccountInfoInterface::OpenAccountInfo(name, regkey));
    if (existing) {
      SetOxMiddleError(before);
      return false;
    }
  }
  std::unique_ptr<OxAccountInfoInterface> account(feed ? OxAccountInfoInterface::CreateFeed(name, regkey)
                                                       : OxAccountInfoInterface::Create(name, regkey));
  if (!account) return false;
  if (makeTrays(*account)) return true;

  // Take the half-made account away again; the code of the failed step stays.
  const unsigned code = GetOxMiddleError();
  std::wstring directory;
  std::wstring dataPath;
  account->GetAccountName(&directory);
  account.reset();
  if (readDataPath(regkey, &dataPath) == OXMDL_ERR_NONE && !directory.empty()) {
    removeAccountTree(dataPath + directory);
    nameTable().markNotBuilt();
  }
  SetOxMiddleError(code);
  return false;
}

}  // namespace oxm

bool OxAccountCreator::CreateFolders(const std::wstring& name) {
  return oxm::createAccountWithTrays(name, L"", false);
}

bool OxAccountCreator::CreateFeedFolders(const std::wstring& name, const std::wstring& regkey) {
  return oxm::createAccountWithTrays(name, regkey, true);
}
