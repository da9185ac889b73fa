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
  if (server->dir_.empty()) {
    *why = "no temporary folder";
    return nullptr;
  }
  server->docroot_ = server->dir_ + "/www";
  server->echo_ = ::access("/usr/lib/nginx/modules/ngx_http_echo_module.so", R_OK) == 0;
  // A port taken between the probe and the start fails the start, so try again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    server->port_ = freePort();
    server->pid_ = startServerProcess(
        {"/bin/bash", OXM_SOURCE_DIR "/scripts/nginx.sh", "run", server->dir_, std::to_string(server->port_)});
    if (server->pid_ < 0) break;
    if (waitServerUp(&server->pid_, {server->port_})) return server;
    server->kill();
  }
  *why = "nginx did not start; see " + server->dir_ + "/error.log";
  return nullptr;
}

NginxServer::~NginxServer() {
  kill();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void NginxServer::kill() { stopServerProcess(&pid_); }

std::string NginxServer::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string NginxServer::url(const std::string& path) const { return "http://" + hostPort() + path; }

void NginxServer::put(const std::string& path, const std::string& bytes) const {
  std::filesystem::path file = std::filesystem::path(docroot_) / path;
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  // As root the workers run as nobody: every folder on the way and the file must be readable.
  for (auto dir = file.parent_path(); dir.string().size() >= docroot_.size(); dir = dir.parent_path())
    ::chmod(dir.c_str(), 0755);
  writeHostFile(file.string(), bytes);
  ::chmod(file.c_str(), 0644);
}

}  // namespace oxm::test
