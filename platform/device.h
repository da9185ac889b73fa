// The device as programs that use the library see it: where its root directory is on the host
// and the files in it. The library maps every device path under this root; "\Host\..." paths
// reach the host's own files.
#pragma once

#include <string>
#include <vector>

// Points the library at another device root (a host directory, created when missing). False
// when it cannot be created.
bool OxSetDeviceRoot(const std::string& hostDirectory);
// The host directory of the device root.
std::string OxGetDeviceRoot();
// Makes a new empty directory under $TMPDIR (or /tmp) and returns its host path; empty on
// failure.
std::string OxMakeTemporaryDirectory(const std::string& prefix);
// The whole content of a device file; false when it cannot be read (*bytes untouched).
bool OxReadDeviceFile(const std::wstring& devicePath, std::string* bytes);
// Creates a device directory and its missing parents; true when it exists afterwards.
bool OxCreateDeviceDirectory(const std::wstring& devicePath);
// The device path that reaches a host file or directory ("\Host\home\me\a.eml"); a relative
// host path is taken from the current directory.
std::wstring OxHostToDevicePath(const std::string& hostPath);
// Whether a host path names a directory.
bool OxIsHostDirectory(const std::string& hostPath);
// The names of the regular files in a host directory, sorted; false when it cannot be listed.
bool OxListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names);
// Writes a whole device file, replacing one that is there; false when it cannot be written.
bool OxWriteDeviceFile(const std::wstring& devicePath, const std::string& bytes);
// Deletes a device file; true when it is gone afterwards (also when it was not there).
bool OxDeleteDeviceFile(const std::wstring& devicePath);
