// Dynamic libraries: dlopen/dlsym on the file name as given. A name with a separator is a
// device path and is mapped under the root; a bare name is taken from the device's \Windows
// directory when a file of that name is there, else searched as dlopen searches.
#pragma once

#include <string>

namespace oxm {

typedef void* HMODULE;

// Null with ERROR_MOD_NOT_FOUND when the library cannot be loaded (missing, not a shared
// object, unresolved symbols).
HMODULE LoadLibraryW(const std::wstring& fileName);
// Null with ERROR_PROC_NOT_FOUND for a missing (or null) symbol, ERROR_INVALID_HANDLE for a
// null module.
void* GetProcAddressW(HMODULE module, const std::wstring& procName);
// False with ERROR_INVALID_HANDLE for a null module or when dlclose refuses it.
bool FreeLibrary(HMODULE module);

}  // namespace oxm
