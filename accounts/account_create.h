// The account-creation step used by OxAccountInfoInterface::Create and CreateFeed: the account
// directory with its settings file, its three part directories and its UID files, and the
// account object entered in the account set; and the whole account with its trays that
// OxAccountCreator and the device set-up make.
#pragma once

#include <string>

namespace oxm {

class OxAccountInfo;

// Creation refuses to start with less than this free in the object store.
inline constexpr uint64_t kAccountCreationFreeBytes = 0xDB000;  // 897,024

// Makes the account at `path` (DataPath + directory name; DataPath is made when missing) and
// returns its object with one reference. In order: free space (OXMDL_ERR_ACC_DISK_FULL, nothing
// made), the directory (OXMDL_ERR_ACC_CREATE_DIR, also when it exists already),
// AccountInfo.ini, then per part its key, its directory (OXMDL_ERR_ACC_CREATE_DIR) and its
// files: Storage with the store's tree and its root folder (the store's codes), Classification
// with an empty Rule.cls (OXMDL_ERR_CLS_CREATE),
// Signature with empty Data1.txt and Data2.txt (OXMDL_ERR_SIG_CREATE1 / 2); then empty
// LastUID.ini and UID.list (OXMDL_ERR_ACC_CREATE_UIDFILE) and the account object
// (OXMDL_ERR_ACC_CREATE). A failing step ends the creation with its code; what was made
// before it stays.
unsigned createAccountFiles(const std::wstring& path, OxAccountInfo** out);

// OxAccountCreator's work under any registry key: a mail account (Create, numbered) or a feed
// account (CreateFeed) named `name`, with its four trays and their identifiers recorded. False
// with the last error unchanged when `name` already opens; a failure after the account was
// made removes it again.
bool createAccountWithTrays(const std::wstring& name, const std::wstring& regkey, bool feed);

}  // namespace oxm
