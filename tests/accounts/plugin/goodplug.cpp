// A plug-in of the mail program: answers the query with the program's marker and its name.
#include <cstdint>

extern "C" int GetPluginInfo(uint32_t index, const wchar_t** text) {
  if (index == 0) *text = L"OxenMailPlugIn 01";
  if (index == 1) *text = L"Good plug-in";
  return index <= 1;
}
