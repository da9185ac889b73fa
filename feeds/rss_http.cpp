#include "feeds/rss_http.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/connmgr.h"
#include "platform/http.h"
#include "platform/worker.h"

namespace {

constexpr unsigned kMaxSteps = 600;
constexpr int kDefaultPort = 80;

// The lock under which a running fetch reads the abort-watch string and EmptyAbortWatch
// empties it: one for all fetches, held only for an empty() test or a clear().
std::mutex& watchLock() {
  static std::mutex lock;
  return lock;
}

bool watchEmptied(const std::wstring* watch) {
  std::lock_guard<std::mutex> g(watchLock());
  return watch->empty();
}

// Host, path and parameters go on the wire in the system code page; what cannot be converted
// goes out empty (and then fails to connect or is answered by the server).
std::string narrow(const std::wstring& wide) {
  std::string out;
  return oxm::wideToMulti(wide, &out) == OXMDL_ERR_NONE ? out : std::string();
}

// "name:port": the port is the decimal number after the colon; text that is no number there
// leaves port 80, a number outside 1..65535 fails the connect.
oxm::http::Request target(const std::wstring& host) {
  oxm::http::Request request;
  size_t colon = host.find(L':');
  request.host = narrow(host.substr(0, colon));
  request.port = kDefaultPort;
  if (colon != std::wstring::npos) {
    int port = kDefaultPort;
    if (std::swscanf(host.c_str() + colon + 1, L"%d", &port) == 1)
      request.port = port > 0 && port <= 65535 ? static_cast<unsigned>(port) : 0;
  }
  return request;
}

}  // namespace

// The worker's side of one fetch: the status and length rules and the buffer. It lives on the
// caller's stack until the worker has ended.
struct RssHttp::Fetch : oxm::http::Receiver {
  RssHttp* owner;
  const std::wstring* watch;
  oxm::http::Request request;
  int result = kNoStatus;
  size_t filled = 0;

  Fetch(RssHttp* o, const std::wstring* w) : owner(o), watch(w) {}

  bool headers(int status, const std::optional<std::string>& contentLength) override {
    if (status == 404) {
      result = kNotFound;
      return false;
    }
    if (status >= 300) {
      result = status;
      return false;
    }
    long long length = contentLength ? std::atoll(contentLength->c_str()) : 0;
    if (length == 0) {
      if (watch) {
        owner->log_.write_free("*** RssHttp::OpenURLThread HTTP_QUERY_CONTENT_LENGTH ERROR!!!\r\n");
        result = kNoStatus;
        return false;
      }
      length = kDefaultLength;
    }
    if (length < 0 || static_cast<unsigned long long>(length) > kMaxLength) {
      result = kNoStatus;
      return false;
    }
    try {
      owner->buffer_.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
      result = kNoStatus;
      return false;
    }
    result = status;
    return true;
  }

  bool body(const char* data, size_t size) override {
    std::vector<unsigned char>& buffer = owner->buffer_;
    size_t take = std::min(size, buffer.size() - filled);
    std::copy(data, data + take, buffer.begin() + static_cast<std::ptrdiff_t>(filled));
    filled += take;
    if (watch && watchEmptied(watch)) {
      owner->log_.write_free("*** RssHttp Http Recv Thread ABORT ***\r\n");
      result = kAborted;
      return false;
    }
    return filled < buffer.size();
  }
};

RssHttp::RssHttp() = default;
RssHttp::RssHttp(const std::wstring& agent) : agent_(agent) {}
RssHttp::~RssHttp() = default;

int RssHttp::OpenURL(void* conn, const std::wstring& host, const std::wstring& path,
                     const std::wstring& params, const std::wstring* abortWatch, int /*flag*/) {
  conn_ = conn;
  return openUrl(host, path, params, abortWatch);
}

int RssHttp::OpenURL(const std::wstring& host, const std::wstring& path, const std::wstring& params,
                     const std::wstring* abortWatch, int /*flag*/) {
  return openUrl(host, path, params, abortWatch);
}

int RssHttp::openUrl(const std::wstring& host, const std::wstring& path, const std::wstring& params,
                     const std::wstring* abortWatch) {
  ClearBuf();
  oxm::http::Root root;
  if (!root.open(narrow(agent_))) {
    log_.write_free("RssHttp HTTP_INTERNET_OPEN_ERR\r\n");
    return kRootOpenFailed;
  }
  Fetch fetch(this, abortWatch);
  fetch.request = target(host);
  fetch.request.path = narrow(path);
  fetch.request.post = !params.empty();
  fetch.request.body = narrow(params);
  oxm::StepWorker worker;
  if (!worker.start([&fetch, &root, this] { fetch.result = runWorker(fetch, root); })) {
    log_.write_free("RssHttp HTTP_CREATE_THREAD_ERR\r\n");
    return kThreadFailed;
  }
  log_.write_free("*** RssHttp Http Recv Thread START ***\r\n");

  bool lost = false;
  bool timedOut = false;
  for (unsigned steps = 0; !worker.waitStep();) {
    if (conn_ && !connected()) {
      lost = true;
      break;
    }
    if (++steps >= kMaxSteps) {
      timedOut = true;
      break;
    }
  }
  if (lost) log_.write_free("*** RAS Connection is disconnet***\r\n");
  log_.write_free("*** RssHttp Http Recv Thread END ***\r\n");
  // A worker still inside the network ends at once when its root handle closes; its buffer and
  // this frame must outlive it.
  root.close();
  worker.join();

  int result = fetch.result;
  if (!lost && !timedOut) {
    if (result == kConnectFailed) log_.write_free("RssHttp HTTP_THREAD_INTERNET_OPEN_ERR\r\n");
    if (result == kRequestFailed) log_.write_free("RssHttp HTTP_THREAD_REQUEST_ERR\r\n");
    // A failed send or status read may be the data connection going down.
    if (result >= kNoStatus && result <= kRequestFailed && conn_ && !connected()) lost = true;
  }
  if (lost) result = kConnectionLost;
  else if (timedOut) result = kTimedOut;
  if (result < 0) ClearBuf();
  log_.write_free(" OpenURL ret:[%d] \r\n", result);
  return result;
}

int RssHttp::runWorker(Fetch& fetch, oxm::http::Root& root) {
  switch (oxm::http::perform(root, fetch.request, fetch)) {
    case oxm::http::Outcome::Done:
    case oxm::http::Outcome::ReadFailed:
      return fetch.result;
    case oxm::http::Outcome::ConnectFailed:
      return kConnectFailed;
    case oxm::http::Outcome::RequestFailed:
      return kRequestFailed;
    case oxm::http::Outcome::SendFailed:
      return kSendFailed;
    case oxm::http::Outcome::NoStatus:
    case oxm::http::Outcome::Aborted:
      break;
  }
  return kNoStatus;
}

bool RssHttp::connected() {
  DWORD status = 0;
  return oxm::ConnMgrConnectionStatus(conn_, &status) == oxm::S_OK &&
         status == oxm::CONNMGR_STATUS_CONNECTED;
}

void RssHttp::ClearBuf() { std::vector<unsigned char>().swap(buffer_); }

const unsigned char* RssHttp::buffer() const { return buffer_.empty() ? nullptr : buffer_.data(); }

size_t RssHttp::length() const { return buffer_.size(); }

std::wstring RssHttp::Escape(const std::wstring& text) {
  static const std::wstring kEscaped = L"?&=% <>\r\n";
  std::wstring out;
  for (wchar_t c : text) {
    if (kEscaped.find(c) == std::wstring::npos) {
      out += c;
      continue;
    }
    wchar_t hex[4];
    std::swprintf(hex, 4, L"%%%.2X", static_cast<unsigned>(c));
    out += hex;
  }
  return out;
}

void RssHttp::AddParam(std::wstring* params, const std::wstring& name, const std::wstring& value) {
  *params += params->find(L'?') == std::wstring::npos ? L'?' : L'&';
  *params += Escape(name) + L'=' + Escape(value);
}

void RssHttp::EmptyAbortWatch(std::wstring* watch) {
  std::lock_guard<std::mutex> g(watchLock());
  watch->clear();
}
