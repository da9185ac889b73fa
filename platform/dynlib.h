// Dynamic libraries: dlopen/dlsym on the file name as given. A name with a separator is a
// device path and is mapped under the root; a bare name is searched as dlopen searches.
#pragma once

#include <string>

namespace oxm {

typedef void* HMODULE;

HMODULE LoadLibraryW(const std::wstring& fileName);
void* GetProcAddressW(HMODULE module, const std::wstring& procName);
bool FreeLibrary(HMODULE module);

}  // namespace oxm
