// A library of another program: the query answers with another marker.
#include <cstdint>

extern "C" int GetPluginInfo(uint32_t index, const wchar_t** text) {
  if (index == 0) *text = L"OxenMailPlugIn 02";
  if (index == 1) *text = L"Other plug-in";
  return index <= 1;
}
