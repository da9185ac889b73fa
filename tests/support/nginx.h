// A real nginx for the feed tests (scripts/nginx.sh lists its locations) serving what the test puts.
#pragma once

#include "tests/support/servers.h"

namespace oxm::test {

class NginxServer : public ServerProcess {
 public:
  // Null, with the reason in *why, when nginx is not installed or does not come up.
  static std::unique_ptr<NginxServer> start(std::string* why);

  // "127.0.0.1:PORT", and "http://127.0.0.1:PORT" + path.
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(ports_[0]); }
  std::string url(const std::string& path) const { return "http://" + hostPort() + path; }
  // Writes a file of the document root (folders made as needed, readable by the workers).
  void put(const std::string& path, const std::string& bytes) const;
  // Whether the echo module's locations are there, and the skip text of a test that needs them.
  bool echo() const { return echo_; }
  static const char* kNoEcho;

 private:
  NginxServer() : ServerProcess("oxmnginx", 1) {}
  bool echo_ = false;
};

}  // namespace oxm::test
