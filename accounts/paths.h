// Where the accounts layer finds its data: the registry values that locate the account and
// system directories, and the joins every path of this layer is made with.
#pragma once

#include <string>

namespace oxm {

// The registry key (under HKEY_CURRENT_USER) of the mail program; operations that take a key
// use it when theirs is empty.
inline constexpr const wchar_t* kOxMailKey = L"Software\\Tamarin\\OxMail";
// The feed program's key: feed accounts have their own DataPath and SystemInfoPath there.
inline constexpr const wchar_t* kRivuletKey = L"Software\\Tamarin\\Rivulet";

// `regkey`, or the mail program's key when it is empty.
std::wstring keyOrDefault(const std::wstring& regkey);

// Reads "DataPath" / "SystemInfoPath" under the key. Both name directories and end with a
// backslash; a value written without one gets it here, so that DataPath + name is a path
// either way. Return OXMDL_ERR_NONE or the registry code (OXMDL_ERR_REG_OPEN /
// OXMDL_ERR_REG_VALUE); *out is untouched on failure.
unsigned readDataPath(const std::wstring& regkey, std::wstring* out);
unsigned readSystemInfoPath(const std::wstring& regkey, std::wstring* out);

// dir + "\" + name.
std::wstring joinPath(const std::wstring& dir, const std::wstring& name);

// The file `name` in the directory of the mail account `account` (DataPath + account + "\" +
// name); empty when there is no account name or DataPath cannot be read.
std::wstring accountFilePath(const std::wstring& account, const std::wstring& name);

// Whether `name` can be one component of a path inside an account: not empty, not "." or "..",
// and free of the characters \ / : * ? " < > |. Account names, and the subdirectory names an
// account's settings file gives, must pass before they are joined to a path.
bool isPlainName(const std::wstring& name);

// The last component of a path (after its last "\" or "/").
std::wstring lastComponent(const std::wstring& path);

}  // namespace oxm
