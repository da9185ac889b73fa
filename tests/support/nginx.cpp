#include "tests/support/nginx.h"

// First version: the interface only; start() skips until the fixture lands.
namespace oxm::test {

const char* NginxServer::kNoEcho = "the echo module is not installed (Debian package libnginx-mod-http-echo)";

std::unique_ptr<NginxServer> NginxServer::start(std::string* why) {
  *why = "the nginx fixture is not written yet";
  return nullptr;
}

NginxServer::~NginxServer() = default;
std::string NginxServer::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
std::string NginxServer::url(const std::string& path) const { return "http://" + hostPort() + path; }
void NginxServer::put(const std::string&, const std::string&) const {}

}  // namespace oxm::test
