#include "platform/http.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/fault.h"

namespace oxm::http {

// The root's state shared with the request running on it: close() wakes that request's wait
// through its multi handle, so an abort never waits for the network.
struct Root::Shared {
  std::mutex lock;
  bool closed = false;
  CURLM* active = nullptr;
  std::string agent;
};

namespace {

bool libraryReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The largest body piece handed to the receiver.
constexpr size_t kPiece = 1023;

bool startsWithNoCase(const char* line, size_t size, const char* prefix) {
  size_t n = std::strlen(prefix);
  return size >= n && strncasecmp(line, prefix, n) == 0;
}

std::string trimmed(const char* data, size_t size) {
  size_t begin = 0;
  while (begin < size && (data[begin] == ' ' || data[begin] == '\t')) ++begin;
  while (size > begin && std::strchr(" \t\r\n", data[size - 1])) --size;
  return std::string(data + begin, size - begin);
}

}  // namespace

Root::Root() = default;

Root::~Root() { close(); }

bool Root::open(const std::string& agent) {
  if (fault::injected(fault::Op::HttpOpen) || !libraryReady()) return false;
  shared_ = std::make_shared<Shared>();
  shared_->agent = agent;
  return true;
}

void Root::close() {
  if (!shared_) return;
  std::lock_guard<std::mutex> g(shared_->lock);
  shared_->closed = true;
  if (shared_->active) curl_multi_wakeup(shared_->active);
}

bool Root::isOpen() const {
  if (!shared_) return false;
  std::lock_guard<std::mutex> g(shared_->lock);
  return !shared_->closed;
}

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Done: return "Done";
    case Outcome::ReadFailed: return "ReadFailed";
    case Outcome::ConnectFailed: return "ConnectFailed";
    case Outcome::RequestFailed: return "RequestFailed";
    case Outcome::SendFailed: return "SendFailed";
    case Outcome::NoStatus: return "NoStatus";
    case Outcome::Aborted: return "Aborted";
  }
  return "?";
}

// One request: the easy handle with its callbacks, driven by a multi handle of its own so that
// Root::close can wake the wait.
class Transfer {
 public:
  Transfer(Root& root, const Request& request, Receiver& receiver)
      : shared_(root.shared_), request_(request), receiver_(receiver) {}

  Outcome run() {
    if (!shared_ || closed()) return Outcome::Aborted;
    if (fault::injected(fault::Op::HttpConnect) || request_.port == 0 || request_.port > 65535)
      return Outcome::ConnectFailed;
    if (fault::injected(fault::Op::HttpRequest) || !prepare()) return Outcome::RequestFailed;
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy_.get()) != CURLM_OK) return Outcome::RequestFailed;
    {
      std::lock_guard<std::mutex> g(shared_->lock);
      if (shared_->closed) {
        curl_multi_remove_handle(multi.get(), easy_.get());
        return Outcome::Aborted;
      }
      shared_->active = multi.get();
    }
    CURLcode result = drive(multi.get());
    {
      std::lock_guard<std::mutex> g(shared_->lock);
      shared_->active = nullptr;
    }
    curl_multi_remove_handle(multi.get(), easy_.get());
    return outcome(result);
  }

 private:
  bool closed() {
    std::lock_guard<std::mutex> g(shared_->lock);
    return shared_->closed;
  }

  bool prepare() {
    easy_.reset(curl_easy_init());
    if (!easy_) return false;
    CURL* e = easy_.get();
    // The port goes into the URL, the path is sent as the request target byte for byte.
    url_ = "http://" + request_.host + ":" + std::to_string(request_.port) + "/";
    target_ = request_.path.empty() ? "/" : request_.path;
    curl_slist* list = nullptr;
    if (request_.post) {
      // Only the parameter text goes out: no form content type, no "Expect: 100-continue".
      list = curl_slist_append(list, "Content-Type:");
      list = list ? curl_slist_append(list, "Expect:") : nullptr;
    } else if (request_.noCache) {
      list = curl_slist_append(list, "Cache-Control: no-cache");
      list = list ? curl_slist_append(list, "Pragma: no-cache") : nullptr;
    }
    headers_.reset(list);
    if ((request_.post || request_.noCache) && !list) return false;
    bool ok = curl_easy_setopt(e, CURLOPT_URL, url_.c_str()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, target_.c_str()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PROXY, "") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_NOPROXY, "*") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_USERAGENT, shared_->agent.c_str()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Transfer::onConnected) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PREREQDATA, this) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HEADERDATA, this) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_WRITEDATA, this) == CURLE_OK;
    if (ok && request_.post) {
      ok = curl_easy_setopt(e, CURLOPT_POST, 1L) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size())) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_POSTFIELDS, request_.body.data()) == CURLE_OK;
    }
    return ok;
  }

  CURLcode drive(CURLM* multi) {
    int running = 1;
    while (running) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) return CURLE_FAILED_INIT;
      if (!running) break;
      if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
      if (closed()) {
        aborted_ = true;
        return CURLE_ABORTED_BY_CALLBACK;
      }
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE) return msg->data.result;
    }
    return CURLE_FAILED_INIT;
  }

  Outcome outcome(CURLcode result) const {
    if (aborted_) return Outcome::Aborted;
    if (stopped_) return Outcome::Done;
    if (readFault_) return Outcome::ReadFailed;
    if (headersDone_) return result == CURLE_OK ? Outcome::Done : Outcome::ReadFailed;
    if (sendFault_) return Outcome::SendFailed;
    if (!connected_) return Outcome::ConnectFailed;
    return result == CURLE_SEND_ERROR ? Outcome::SendFailed : Outcome::NoStatus;
  }

  // Called once the connection is up, right before the request goes out.
  static int onConnected(void* self, char*, char*, int, int) {
    Transfer* t = static_cast<Transfer*>(self);
    t->connected_ = true;
    if (fault::injected(fault::Op::HttpSend)) {
      t->sendFault_ = true;
      return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
  }

  // One header line at a time: the status line, the fields, the blank line that ends them.
  // Interim 1xx responses are passed over, trailers after the body too.
  static size_t onHeader(char* data, size_t one, size_t size, void* self) {
    Transfer* t = static_cast<Transfer*>(self);
    size *= one;
    if (t->headersDone_) return size;  // trailers of a chunked body
    if (startsWithNoCase(data, size, "HTTP/")) {
      const char* blank = static_cast<const char*>(std::memchr(data, ' ', size));
      t->status_ = blank ? std::atoi(std::string(blank, data + size - blank).c_str()) : 0;
      t->length_.reset();
    } else if (startsWithNoCase(data, size, "Content-Length:")) {
      size_t n = std::strlen("Content-Length:");
      t->length_ = trimmed(data + n, size - n);
    } else if (trimmed(data, size).empty() && t->status_ >= 200) {
      t->headersDone_ = true;
      if (!t->receiver_.headers(t->status_, t->length_)) {
        t->stopped_ = true;
        return 0;
      }
    }
    return size;
  }

  static size_t onBody(char* data, size_t one, size_t size, void* self) {
    Transfer* t = static_cast<Transfer*>(self);
    size *= one;
    for (size_t done = 0; done < size;) {
      size_t piece = std::min(kPiece, size - done);
      if (fault::injected(fault::Op::HttpRead)) {
        t->readFault_ = true;
        return 0;
      }
      if (!t->receiver_.body(data + done, piece)) {
        t->stopped_ = true;
        return 0;
      }
      done += piece;
    }
    return size;
  }

  std::shared_ptr<Root::Shared> shared_;
  const Request& request_;
  Receiver& receiver_;
  std::unique_ptr<CURL, EasyDeleter> easy_;
  std::unique_ptr<curl_slist, ListDeleter> headers_;
  std::string url_;
  std::string target_;
  int status_ = 0;
  std::optional<std::string> length_;
  bool connected_ = false;
  bool headersDone_ = false;
  bool stopped_ = false;
  bool aborted_ = false;
  bool sendFault_ = false;
  bool readFault_ = false;
};

Outcome perform(Root& root, const Request& request, Receiver& receiver) {
  return Transfer(root, request, receiver).run();
}

}  // namespace oxm::http
