#include "platform/device.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

std::wstring OxHostToDevicePath(const std::string& hostPath) {
  std::string absolute = hostPath;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) absolute = std::string(cwd) + "/" + hostPath;
  }
  std::wstring wide;
  if (!oxm::host::fromUtf8(absolute, &wide)) return std::wstring();
  for (auto& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return L"\\Host" + wide;
}

bool OxIsHostDirectory(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OxListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names) {
  DIR* dir = ::opendir(hostDirectory.c_str());
  if (!dir) return false;
  std::vector<std::string> found;
  while (struct dirent* e = ::readdir(dir)) {
    struct stat st;
    if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) found.push_back(e->d_name);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  *names = std::move(found);
  return true;
}

bool OxWriteDeviceFile(const std::wstring& devicePath, const std::string& bytes) {
  oxm::File f;
  return f.openStream(devicePath, "wb") && f.write(bytes.data(), bytes.size()) && f.flush();
}

bool OxDeleteDeviceFile(const std::wstring& devicePath) {
  return oxm::DeleteFileW(devicePath) || oxm::GetLastError() == oxm::ERROR_FILE_NOT_FOUND;
}
