#include "accounts/plugin_info.h"

#include <new>

#include "accounts/paths.h"
#include "accounts/plugin_scan.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "platform/dynlib.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// A loaded library, unloaded on every path.
class Library {
 public:
  explicit Library(const std::wstring& path) : handle_(LoadLibraryW(path)) {}
  ~Library() {
    if (handle_) FreeLibrary(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE get() const { return handle_; }

 private:
  HMODULE handle_;
};

// The text a plug-in gives for an index; null when it gives none.
const wchar_t* pluginText(GetPluginInfoFn query, uint32_t index) {
  const wchar_t* text = nullptr;
  query(index, &text);
  return text;
}

}  // namespace

unsigned OxPluginInfo::pluginDlls(std::map<std::wstring, std::wstring>* out,
                                  const std::wstring& regkey, bool* repeated) {
  *repeated = false;
  const std::wstring key = keyOrDefault(regkey);
  std::wstring dir;
  if (!GetRegistryValue(HKEY_CURRENT_USER, key.c_str(), L"PluginPath", &dir)) {
    return GetOxMiddleError();
  }
  FindFile find;
  FindData entry;
  // An empty or missing directory holds no plug-in.
  for (bool more = find.first(joinPath(dir, L"*.dll"), &entry); more; more = find.next(&entry)) {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = joinPath(dir, entry.name);
    Library library(path);
    if (!library.get()) continue;
    auto query = reinterpret_cast<GetPluginInfoFn>(GetProcAddressW(library.get(), kPluginEntry));
    if (!query) continue;
    const wchar_t* marker = pluginText(query, 0);
    const wchar_t* text = pluginText(query, 1);
    if (!marker || std::wstring(marker) != kPluginMarker || !text) continue;
    if (!out->emplace(path, text).second) {
      *repeated = true;
      return OXMDL_ERR_NONE;
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned OxPluginInfo::storeDefaultPluginPath() {
  return SetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"PluginPath", kDefaultPluginPath)
             ? OXMDL_ERR_NONE
             : GetOxMiddleError();
}

}  // namespace oxm

OxPluginInfoInterface::OxPluginInfoInterface() : info_(new (std::nothrow) oxm::OxPluginInfo) {}

OxPluginInfoInterface::~OxPluginInfoInterface() { delete info_; }

bool OxPluginInfoInterface::GetPluginDlls(std::map<std::wstring, std::wstring>* dlls,
                                          const std::wstring& regkey) {
  if (!info_) return false;
  if (!dlls) {
    SetOxMiddleError(OXMDL_ERR_STG_INVALID_ARG);
    return false;
  }
  bool repeated = false;
  unsigned code = info_->pluginDlls(dlls, regkey, &repeated);
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return false;
  }
  return !repeated;
}

unsigned long OxPluginInfoInterface::GetErrorInfo() const { return GetOxMiddleError(); }
