#include "platform/dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/env.h"
#include "platform/hostio.h"
#include "platform/syserr.h"

namespace oxm {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The device path rule of the file system layer: either separator, relative means from the
// root, and "\Host\" leads to the host's own file system.
std::string hostPathOf(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;
  static const std::string kHost = "Host/";
  if (path.compare(start, kHost.size(), kHost) == 0) return "/" + path.substr(start + kHost.size());
  return rootDirectory() + "/" + path.substr(start);
}

}  // namespace

HMODULE LoadLibraryW(const std::wstring& fileName) {
  std::string name = host::utf8(fileName);
  if (name.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  bool devicePath = false;
  for (char c : name) devicePath = devicePath || isSeparator(c);
  void* handle = nullptr;
  if (devicePath) {
    handle = dlopen(hostPathOf(name).c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    // The device looked for a bare name in its \Windows directory first, where the phone's
    // own libraries ("TmPhoneStatus.dll", ...) live; a file there is taken only when it exists.
    std::string local = hostPathOf("Windows/" + name);
    if (::access(local.c_str(), F_OK) == 0) handle = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle) SetLastError(ERROR_MOD_NOT_FOUND);
  return handle;
}

void* GetProcAddressW(HMODULE module, const std::wstring& procName) {
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::string name = host::utf8(procName);
  void* proc = dlsym(module, name.c_str());
  if (!proc) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return proc;
}

bool FreeLibrary(HMODULE module) {
  if (!module || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

}  // namespace oxm
