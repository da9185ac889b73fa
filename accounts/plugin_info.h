// Plug-ins of the mail program: shared libraries named *.dll in the plug-in directory
// ("PluginPath") that export GetPluginInfo and answer its index 0 with the program's marker.
#pragma once

#include <map>
#include <string>

namespace oxm {
class OxPluginInfo;
}  // namespace oxm

class OxPluginInfoInterface {
 public:
  OxPluginInfoInterface();
  ~OxPluginInfoInterface();
  OxPluginInfoInterface(const OxPluginInfoInterface&) = delete;
  OxPluginInfoInterface& operator=(const OxPluginInfoInterface&) = delete;

  // Adds full library path -> the plug-in's text (GetPluginInfo index 1) to *dlls for every
  // plug-in of the program in PluginPath (under HKEY_CURRENT_USER `regkey`, empty: the mail
  // program's key). Files that do not load, lack the export, give another marker or no text
  // are skipped, as are directories; each library is unloaded after its query. No PluginPath:
  // false with the registry code. A path already in *dlls: false, last error unchanged (the
  // entries added before it stay). No plug-in, or no directory: true, *dlls unchanged.
  bool GetPluginDlls(std::map<std::wstring, std::wstring>* dlls, const std::wstring& regkey);
  unsigned long GetErrorInfo() const;

 private:
  oxm::OxPluginInfo* info_;
};
