// The right marker but no text for index 1.
#include <cstdint>

extern "C" int GetPluginInfo(uint32_t index, const wchar_t** text) {
  if (index == 0) *text = L"OxenMailPlugIn 01";
  return index == 0;
}
