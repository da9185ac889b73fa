// RssHttp fetches one document with HTTP GET or POST into one heap buffer, for the feed client
// (feed documents, pictures, contents messages).
//
// The transfer runs on a worker thread of its own while the calling thread waits in steps of
// 1000 ms (scaled in tests, platform/worker.h), at most 600, asking the Connection Manager
// between steps whether the watched data connection is still up (status 0x10).
//
// OpenURL returns the HTTP status (200 on success; a status of 300 or more other than 404 comes
// back as it is, without a body) or one of the results below. The buffer holds the body after a
// status below 300 and is released on every negative result.
//
// Each step of a fetch writes its line to the protocol log (transport/protocol_log.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "transport/protocol_log.h"

namespace oxm::http {
class Root;
}

class RssHttp {
 public:
  enum : int {
    kRootOpenFailed = -2,     // the Internet root handle could not be opened
    kThreadFailed = -3,       // the worker thread could not be started
    kConnectFailed = -4,      // no connection to the host
    kRequestFailed = -5,      // the request could not be made
    kSendFailed = -6,         // the request could not be sent
    kNoStatus = -7,           // no status line, or a required Content-Length missing or unusable
    kTimedOut = -8,           // the worker did not end within 600 steps
    kExitCodeFailed = -9,     // the worker's result could not be read (never here: it is a
                              // plain value read after the worker has ended)
    kConnectionLost = -10,    // the watched data connection went down
    kNotFound = -11,          // the server answered 404
    kAborted = -12,           // the abort-watch string was emptied during the transfer
  };
  // The body size assumed when the response gives no Content-Length (or 0) and no abort watch.
  static constexpr size_t kDefaultLength = 512000;
  // The largest Content-Length taken; a larger one ends the fetch with kNoStatus, so that a
  // damaged or hostile header cannot make the buffer unbounded.
  static constexpr size_t kMaxLength = 32u << 20;

  RssHttp();
  explicit RssHttp(const std::wstring& agent);
  ~RssHttp();
  RssHttp(const RssHttp&) = delete;
  RssHttp& operator=(const RssHttp&) = delete;

  // Keeps `conn` (a Connection Manager handle, HCONNECTION) as the connection to watch (null:
  // none) and fetches `path` from `host`
  // ("name" or "name:port", port 80 when none is given). Non-empty `params` are POSTed as the
  // request body exactly as they are; otherwise a GET that no cache may answer is sent.
  // `abortWatch` (may be null): a fetch with one needs a Content-Length and ends with kAborted
  // when the string is found empty after a piece of the body; empty it with EmptyAbortWatch
  // while a fetch may run. `flag` is kept for the caller's interface and not used.
  int OpenURL(void* conn, const std::wstring& host, const std::wstring& path,
              const std::wstring& params, const std::wstring* abortWatch, int flag);
  // The same, watching the connection kept by the first form (none before it).
  int OpenURL(const std::wstring& host, const std::wstring& path, const std::wstring& params,
              const std::wstring* abortWatch, int flag);
  void ClearBuf();
  // The body: length() bytes, the Content-Length (or 512000) rather than the bytes received,
  // the rest zero-filled. Null with length 0 when there is none.
  const unsigned char* buffer() const;
  size_t length() const;

  // A copy with each of ? & = % space < > CR LF written as "%" and two upper-case hex digits.
  static std::wstring Escape(const std::wstring& text);
  // Appends "?" (first parameter) or "&", the escaped name, "=" and the escaped value.
  static void AddParam(std::wstring* params, const std::wstring& name, const std::wstring& value);
  // Empties an abort-watch string under the lock the running fetch reads it with, so another
  // thread may abort a fetch without a data race on the string.
  static void EmptyAbortWatch(std::wstring* watch);

 private:
  struct Fetch;
  int openUrl(const std::wstring& host, const std::wstring& path, const std::wstring& params,
              const std::wstring* abortWatch);
  int runWorker(Fetch& fetch, oxm::http::Root& root);
  bool connected();

  std::wstring agent_;
  std::vector<unsigned char> buffer_;
  void* conn_ = nullptr;
  ProtocolLog log_;
};
