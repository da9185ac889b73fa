// HTTP requests for the feed fetch, over libcurl: one request to one host and port, GET or POST,
// the status line and the Content-Length header handed over when the headers are complete, the
// body in pieces of at most 1023 bytes. Plain HTTP only; proxies are never used and redirects are
// never followed (a 3xx is handed over like any other status).
//
// A Root is the "Internet root handle" of the request: closing it from another thread ends the
// request running on it at once (the caller's time-out and lost-connection paths).
//
// Fault injection (platform/fault.h): HttpOpen fails Root::open, HttpConnect the connect,
// HttpRequest the making of the request, HttpSend the sending of it; HttpRead makes the nth body
// read fail (the pieces before it are delivered, the transfer ends as ReadFailed).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace oxm::http {

class Root {
 public:
  Root();
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  // Opens the handle with the user-agent name; false when the library cannot be set up.
  bool open(const std::string& agent);
  // Safe from any thread: a request running on the handle ends with Aborted, later ones too.
  void close();
  bool isOpen() const;

 private:
  friend class Transfer;
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

struct Request {
  std::string host;  // a name or dotted address, without the port
  unsigned port = 80;
  bool post = false;  // POST of `body`; otherwise GET without a body
  std::string path;   // sent as it is ("" sends "/")
  std::string body;
  // GET only: "Cache-Control: no-cache" and "Pragma: no-cache", so no cache on the way answers.
  bool noCache = true;
};

// Where a request ended.
enum class Outcome {
  Done,           // the body ended, or the receiver stopped the transfer
  ReadFailed,     // a body read failed after the headers (the pieces before it were delivered)
  ConnectFailed,  // no such host, no connection (also a port outside 1..65535)
  RequestFailed,  // the request could not be made
  SendFailed,     // the request could not be sent
  NoStatus,       // no status line came (the peer closed or sent something else)
  Aborted,        // the root handle was closed
};

const char* outcomeName(Outcome outcome);

class Receiver {
 public:
  virtual ~Receiver() = default;
  // The headers of the final response are complete: its status and the text of its
  // Content-Length header (nullopt when there is none). False ends the transfer (Done).
  virtual bool headers(int status, const std::optional<std::string>& contentLength) = 0;
  // The next piece of the body, 1..1023 bytes. False ends the transfer (Done).
  virtual bool body(const char* data, size_t size) = 0;
};

// Runs the request to its end on the calling thread.
Outcome perform(Root& root, const Request& request, Receiver& receiver);

}  // namespace oxm::http
