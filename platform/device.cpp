#include "platform/device.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/env.h"
#include "platform/fs.h"

namespace {

bool makeHostDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool OxSetDeviceRoot(const std::string& hostDirectory) {
  if (hostDirectory.empty() || !makeHostDirectories(hostDirectory)) return false;
  oxm::setRootDirectory(hostDirectory);
  return true;
}

std::string OxGetDeviceRoot() { return oxm::rootDirectory(); }

std::string OxMakeTemporaryDirectory(const std::string& prefix) {
  auto tmp = oxm::getEnv("TMPDIR");
  std::string tmpl = (tmp && !tmp->empty() ? *tmp : std::string("/tmp")) + "/" + prefix + ".XXXXXX";
  if (!::mkdtemp(tmpl.data())) return std::string();
  return tmpl;
}

bool OxReadDeviceFile(const std::wstring& devicePath, std::string* bytes) {
  oxm::File f;
  uint64_t size = 0;
  if (!f.openStream(devicePath, "rb") || !f.size(&size)) return false;
  std::string content(size, '\0');
  if (size != 0 && !f.readAll(content.data(), size)) return false;
  *bytes = std::move(content);
  return true;
}

bool OxCreateDeviceDirectory(const std::wstring& devicePath) {
  return makeHostDirectories(oxm::hostPath(devicePath));
}
