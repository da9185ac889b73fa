// The registry: the hives HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are text files
// "Registry/<HIVE>.reg" under the root in the "Windows Registry Editor Version 5.00" format
// (UTF-8). Key and value names are case-insensitive. Values are REG_SZ or REG_DWORD. A change
// rewrites the hive file atomically under a file lock; a hive is read again whenever its file
// changed, so other processes' writes and hand edits are seen at the next call.
//
// Functions return ERROR_SUCCESS or a platform error: ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_MORE_DATA when a string exceeds the caller's limit, ERROR_BADDB when the hive file
// does not parse (nothing is written then), ERROR_INVALID_HANDLE for a bad key.
//
// The file: the header line, a blank line, then per key a "[HKEY_CURRENT_USER\Software\..]"
// line, its values ("Name"="text" with \\ and \" escaped, "Name"=dword:0000001f, @= for the
// unnamed value) and a blank line; CR LF line ends on writing, CR LF or LF, a UTF-8 BOM, ';'
// comments and indentation accepted on reading. Anything else in the file (other value types,
// other escapes, a section of another hive) makes it unparsable. A missing file is an empty hive.
// A key exists when its section does or a section below it. Names compare case-insensitively in
// their ASCII letters; a name keeps the spelling it was first written with.
//
// Bad input: outputs are left untouched on failure; a null output is ERROR_INVALID_PARAMETER.
// Querying a REG_DWORD as a string or a REG_SZ as a DWORD is ERROR_INVALID_PARAMETER. Names and
// strings with CR, LF, NUL or lone surrogates cannot be written: ERROR_INVALID_PARAMETER. Host
// failures (an unwritable root, a full disk) give the error of the host's errno.
#pragma once

#include <string>

#include "platform/syserr.h"
#include "platform/wintypes.h"

namespace oxm {

enum : DWORD { REG_SZ = 1, REG_DWORD = 4 };

// `subkey` is relative to `root`; empty components (a leading, trailing or doubled '\\') are
// ignored, and an empty subkey opens `root` again. Close every opened key with RegCloseKey.
LONG RegOpenKeyExW(HKEY root, const std::wstring& subkey, HKEY* out);
// Opens the key, writing a section for it when it has none.
LONG RegCreateKeyExW(HKEY root, const std::wstring& subkey, HKEY* out);
// The predefined root keys may be closed (nothing happens); a key closed twice is
// ERROR_INVALID_HANDLE.
LONG RegCloseKey(HKEY key);

// maxBytes bounds the value as the device stored it: UTF-16 with its terminating NUL.
LONG RegQueryString(HKEY key, const std::wstring& name, std::wstring* out, DWORD maxBytes);
LONG RegQueryDword(HKEY key, const std::wstring& name, DWORD* out);
// The stored type of a value (REG_SZ or REG_DWORD).
LONG RegQueryType(HKEY key, const std::wstring& name, DWORD* type);
// Writes the value, replacing one of either type; the key's section is (re)made when missing.
// Writing the value a key already holds does not touch the file.
LONG RegSetString(HKEY key, const std::wstring& name, const std::wstring& value);
LONG RegSetDword(HKEY key, const std::wstring& name, DWORD value);
LONG RegDeleteValueW(HKEY key, const std::wstring& name);
// A hive file that does not parse is renamed to "<file>.damaged" (or ".damaged-N") and its host
// path given in *movedTo; the hive is then empty. Nothing happens (an empty *movedTo) to a hive
// that parses or has no file.
LONG RegSetAsideDamagedHive(HKEY root, std::string* movedTo);
// Deletes the key with its subkeys; an empty subkey empties `root` (values and subkeys) but
// keeps it.
LONG RegDeleteTree(HKEY root, const std::wstring& subkey);

}  // namespace oxm
