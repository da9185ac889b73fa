// A real nginx for the feed tests, made by scripts/nginx.sh (which lists its locations) in a
// temporary folder on a free 127.0.0.1 port, serving a document root the test fills; it dies with
// the thread that started it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace oxm::test {

class NginxServer {
 public:
  // Null, with the reason in *why, when nginx is not installed or does not come up.
  static std::unique_ptr<NginxServer> start(std::string* why);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // "127.0.0.1:PORT", and "http://127.0.0.1:PORT" + path.
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(ports_[0]); }
  std::string url(const std::string& path) const { return "http://" + hostPort() + path; }
  // Writes a file of the document root (folders made as needed, readable by the workers).
  void put(const std::string& path, const std::string& bytes) const;
  // Whether the echo module's locations are there, and the skip text of a test that needs them.
  bool echo() const { return echo_; }
  static const char* kNoEcho;

 private:
  NginxServer() = default;
  std::string dir_;
  std::vector<unsigned> ports_{0};
  int pid_ = -1;  // the nginx master, leader of its process group
  bool echo_ = false;
};

}  // namespace oxm::test
