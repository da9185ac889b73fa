#include "tests/support/nginx.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm::test {

const char* NginxServer::kNoEcho =
    "the nginx echo module is not installed (Debian package libnginx-mod-http-echo)";

std::unique_ptr<NginxServer> NginxServer::start(std::string* why) {
  if (::access("/usr/sbin/nginx", X_OK) != 0) {
    *why = "nginx is not installed (Debian package nginx)";
    return nullptr;
  }
  std::unique_ptr<NginxServer> server(new NginxServer);
  server->dir_ = makeTempDir("oxmnginx");
  server->echo_ = ::access("/usr/lib/nginx/modules/ngx_http_echo_module.so", R_OK) == 0;
  auto spawn = [&](const std::vector<unsigned>& ports) {
    return startServerProcess({"/bin/bash", OXM_SOURCE_DIR "/scripts/nginx.sh", "run", server->dir_,
                               std::to_string(ports[0])});
  };
  if (startOnFreePorts(1, spawn, &server->pid_, &server->ports_)) return server;
  *why = "nginx did not start; see " + server->dir_ + "/error.log";
  return nullptr;
}

NginxServer::~NginxServer() {
  stopServerProcess(&pid_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void NginxServer::put(const std::string& path, const std::string& bytes) const {
  const std::string docroot = dir_ + "/www";
  const std::filesystem::path file = std::filesystem::path(docroot) / path;
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  // As root the workers run as nobody: every folder on the way and the file must be readable.
  for (auto dir = file.parent_path(); dir.string().size() >= docroot.size(); dir = dir.parent_path())
    ::chmod(dir.c_str(), 0755);
  writeHostFile(file.string(), bytes);
  ::chmod(file.c_str(), 0644);
}

}  // namespace oxm::test
