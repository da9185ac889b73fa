// Registry values of the settings layer.
#pragma once

#include <string>

#include "platform/wintypes.h"

// Reads a REG_SZ value of at most 260 bytes. Key cannot be opened: false, OXMDL_ERR_REG_OPEN;
// value missing, not a string or too long: false, OXMDL_ERR_REG_VALUE. *out is untouched on
// failure.
bool GetRegistryValue(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      std::wstring* out);
// Reads a REG_DWORD value into `value` (4 bytes). Sets no error code.
bool GetRegistryDword(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      DWORD* value);
// Open the key, or create it, and write the value. Failure: false, OXMDL_ERR_REG_VALUE.
bool SetRegistryDword(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      const DWORD& value);
bool SetRegistryValue(const HKEY& root, const wchar_t* const& subkey, const wchar_t* const& name,
                      const std::wstring& value);
