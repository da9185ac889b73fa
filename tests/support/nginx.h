// A real nginx for the feed tests, made by scripts/nginx.sh in a temporary folder on a free
// 127.0.0.1 port, serving a document root the test fills; it dies with the thread that started
// it. Locations (PATH a file of the root; a missing file gives 404):
//   /PATH, /chunked/PATH (no Content-Length), /close/PATH (ends at close), /slow-body/PATH (100
//   bytes a second); /status/304, /status/404, /status/500, /redirect (301); /drop (no answer)
// and with the echo module (libnginx-mod-http-echo), see echo():
//   /slow-headers?s=N (200 after N s), /stall?s=N (a first part, N s of silence, a second),
//   /drop-body (dropped mid-body), /echo-body (the POST body back),
//   /echo-request ("METHOD URI|Cache-Control|Pragma|User-Agent\n" of the request)
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
