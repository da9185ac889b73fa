// The registry: the hives HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are text files
// "Registry/<HIVE>.reg" under the root in the "Windows Registry Editor Version 5.00" format
// (UTF-8). Key and value names are case-insensitive. Values are REG_SZ or REG_DWORD. A change
// rewrites the hive file atomically under a file lock; a hive is read again whenever its file
// changed, so other processes' writes and hand edits are seen at the next call.
//
// Functions return ERROR_SUCCESS or a platform error: ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_MORE_DATA when a string exceeds the caller's limit, ERROR_BADDB when the hive file
// does not parse (nothing is written then), ERROR_INVALID_HANDLE for a bad key.
#pragma once

#include <string>

#include "platform/syserr.h"
#include "platform/wintypes.h"

namespace oxm {

enum : DWORD { REG_SZ = 1, REG_DWORD = 4 };

LONG RegOpenKeyExW(HKEY root, const std::wstring& subkey, HKEY* out);
LONG RegCreateKeyExW(HKEY root, const std::wstring& subkey, HKEY* out);
LONG RegCloseKey(HKEY key);

// maxBytes bounds the value as the device stored it: UTF-16 with its terminating NUL.
LONG RegQueryString(HKEY key, const std::wstring& name, std::wstring* out, DWORD maxBytes);
LONG RegQueryDword(HKEY key, const std::wstring& name, DWORD* out);
// The stored type of a value (REG_SZ or REG_DWORD).
LONG RegQueryType(HKEY key, const std::wstring& name, DWORD* type);
LONG RegSetString(HKEY key, const std::wstring& name, const std::wstring& value);
LONG RegSetDword(HKEY key, const std::wstring& name, DWORD value);
LONG RegDeleteValueW(HKEY key, const std::wstring& name);
// Deletes the key with its subkeys.
LONG RegDeleteTree(HKEY root, const std::wstring& subkey);

}  // namespace oxm
