// A real nginx for the feed tests, made by scripts/nginx.sh in a temporary folder on a free
// 127.0.0.1 port, serving a document root the test fills. Locations (PATH is a file of the root):
//   /PATH                 the file with Content-Length; a missing file gives 404; a matching
//                         If-None-Match or If-Modified-Since gives 304
//   /chunked/PATH         the same bytes chunked, without Content-Length
//   /close/PATH           the same bytes without Content-Length or chunking (ends at close)
//   /status/304, /status/404, /status/500, /redirect (301 to /redirected)
//   /drop                 the connection is closed without any answer
//   /slow-body/PATH       the file with Content-Length, sent at 100 bytes a second
// and, when the echo module (libnginx-mod-http-echo) is there, see echo():
//   /slow-headers?s=N     nothing for N seconds, then 200 "slept N"
//   /stall?s=N            200, "first part\n" at once, silence for N seconds, "second part\n"
//   /drop-body            200 chunked, "first part\n", then the connection drops mid-body
//   /echo-body            200 with the request body as the response body (POST)
//   /echo-request         200 "METHOD URI|Cache-Control|Pragma|User-Agent\n" of the request
// The server runs as a child of the thread that starts it and dies with it; the destructor
// stops it and removes the folder.
#pragma once

#include <memory>
#include <string>

namespace oxm::test {

class NginxServer {
 public:
  // Null, with the reason in *why, when nginx is not installed or does not come up.
  static std::unique_ptr<NginxServer> start(std::string* why);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  unsigned port() const { return port_; }
  const std::string& docroot() const { return docroot_; }
  // "127.0.0.1:PORT", and "http://127.0.0.1:PORT" + path.
  std::string hostPort() const;
  std::string url(const std::string& path) const;
  // Writes a file of the document root (folders made as needed, readable by the workers).
  void put(const std::string& path, const std::string& bytes) const;
  // Whether the echo module's locations are there.
  bool echo() const { return echo_; }
  // The skip text of a test that needs the echo module.
  static const char* kNoEcho;

 private:
  NginxServer() = default;
  void kill();
  std::string dir_;
  std::string docroot_;
  unsigned port_ = 0;
  int pid_ = -1;  // the nginx master, leader of its process group
  bool echo_ = false;
};

}  // namespace oxm::test
