#include "frame/registry_value.h"

#include "frame/oxerror.h"
#include "platform/registry.h"

namespace {

// Strings are read into a buffer of this many bytes, the terminating NUL included.
constexpr DWORD kMaxValueBytes = 260;

// An open registry key, closed on every path.
class Key {
 public:
  ~Key() {
    if (key_) oxm::RegCloseKey(key_);
  }
  bool openExisting(HKEY root, const wchar_t* subkey) {
    return oxm::RegOpenKeyExW(root, subkey ? subkey : L"", &key_) == oxm::ERROR_SUCCESS;
  }
  bool openOrCreate(HKEY root, const wchar_t* subkey) {
    return openExisting(root, subkey) ||
           oxm::RegCreateKeyExW(root, subkey ? subkey : L"", &key_) == oxm::ERROR_SUCCESS;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring nameOf(const wchar_t* name) { return name ? name : L""; }

}  // namespace

bool GetRegistryValue(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      std::wstring* out) {
  Key key;
  if (!key.openExisting(root, subkey)) {
    SetOxMiddleError(OXMDL_ERR_REG_OPEN);
    return false;
  }
  std::wstring value;
  if (oxm::RegQueryString(key.get(), nameOf(name), &value, kMaxValueBytes) != oxm::ERROR_SUCCESS) {
    SetOxMiddleError(OXMDL_ERR_REG_VALUE);
    return false;
  }
  *out = value;
  return true;
}

bool GetRegistryDword(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      DWORD* value) {
  Key key;
  if (!key.openExisting(root, subkey)) return false;
  return oxm::RegQueryDword(key.get(), nameOf(name), value) == oxm::ERROR_SUCCESS;
}

bool SetRegistryDword(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      const DWORD& value) {
  Key key;
  if (!key.openOrCreate(root, subkey) ||
      oxm::RegSetDword(key.get(), nameOf(name), value) != oxm::ERROR_SUCCESS) {
    SetOxMiddleError(OXMDL_ERR_REG_VALUE);
    return false;
  }
  return true;
}

bool SetRegistryValue(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      const std::wstring& value) {
  Key key;
  if (!key.openOrCreate(root, subkey) ||
      oxm::RegSetString(key.get(), nameOf(name), value) != oxm::ERROR_SUCCESS) {
    SetOxMiddleError(OXMDL_ERR_REG_VALUE);
    return false;
  }
  return true;
}
