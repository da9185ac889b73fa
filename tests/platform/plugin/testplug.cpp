// A plug-in library for the dynamic library tests: answers the plug-in query.
#include <cstdint>

extern "C" int GetPluginInfo(uint32_t index, const wchar_t** text) {
  if (index != 0) return 0;
  *text = L"OxenMailPlugIn 01";
  return 1;
}
