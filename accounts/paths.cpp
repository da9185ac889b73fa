#include "accounts/paths.h"

#include "frame/oxerror.h"
#include "frame/registry_value.h"

namespace oxm {

namespace {

unsigned readDirectoryValue(const std::wstring& regkey, const wchar_t* name, std::wstring* out) {
  const std::wstring key = keyOrDefault(regkey);
  std::wstring value;
  if (!GetRegistryValue(HKEY_CURRENT_USER, key.c_str(), name, &value)) return GetOxMiddleError();
  if (!value.empty() && value.back() != L'\\' && value.back() != L'/') value += L'\\';
  *out = value;
  return OXMDL_ERR_NONE;
}

}  // namespace

std::wstring keyOrDefault(const std::wstring& regkey) {
  return regkey.empty() ? std::wstring(kOxMailKey) : regkey;
}

unsigned readDataPath(const std::wstring& regkey, std::wstring* out) {
  return readDirectoryValue(regkey, L"DataPath", out);
}

unsigned readSystemInfoPath(const std::wstring& regkey, std::wstring* out) {
  return readDirectoryValue(regkey, L"SystemInfoPath", out);
}

std::wstring joinPath(const std::wstring& dir, const std::wstring& name) {
  return dir + L"\\" + name;
}

std::wstring accountFilePath(const std::wstring& account, const std::wstring& name) {
  std::wstring dataPath;
  if (account.empty() || readDataPath(L"", &dataPath) != OXMDL_ERR_NONE) return {};
  return joinPath(dataPath + account, name);
}

bool isPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::wstring lastComponent(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace oxm
