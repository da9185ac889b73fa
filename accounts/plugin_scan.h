// The plug-in query behind OxPluginInfoInterface.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace oxm {

// GetPluginInfo(index, &text): index 0 gives the marker, index 1 the plug-in's name or
// description. A plug-in of this program answers index 0 with exactly this marker.
using GetPluginInfoFn = int (*)(uint32_t index, const wchar_t** text);
inline constexpr const wchar_t* kPluginEntry = L"GetPluginInfo";
inline constexpr const wchar_t* kPluginMarker = L"OxenMailPlugIn" L" " L"01";
inline constexpr const wchar_t* kDefaultPluginPath = L"\\Program Files\\OxenMail\\Plugin";

// Holds nothing: every query reads the registry and the directory afresh.
class OxPluginInfo {
 public:
  // OXMDL_ERR_NONE or the registry code; *repeated when a library's path was already in *out
  // (the query stopped there).
  unsigned pluginDlls(std::map<std::wstring, std::wstring>* out, const std::wstring& regkey,
                      bool* repeated);
  // Stores kDefaultPluginPath as "PluginPath" under the mail program's key: OXMDL_ERR_NONE or
  // OXMDL_ERR_REG_VALUE.
  unsigned storeDefaultPluginPath();
};

}  // namespace oxm
