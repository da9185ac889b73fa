#include "platform/device.h"

#include <stdlib.h>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/hostio.h"

bool OxSetDeviceRoot(const std::string& hostDirectory) {
  if (hostDirectory.empty() || !oxm::host::makeDirectories(hostDirectory)) return false;
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
  return oxm::host::makeDirectories(oxm::hostPath(devicePath));
}

bool OxWriteDeviceFile(const std::wstring& devicePath, const std::string& bytes) {
  oxm::File f;
  return f.openStream(devicePath, "wb") && f.write(bytes.data(), bytes.size()) && f.flush();
}
