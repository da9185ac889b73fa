// RssClient: construction, the run frame (GetRDF, ReGet), error reporting and the owner's
// accessors. The download, the item walk and the message text live in rss_download.cpp,
// rss_walk.cpp and rss_message.cpp.
#include "feeds/rss_client.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "codec/emlcompose.h"
#include "feeds/image_creater.h"
#include "feeds/rss_http.h"
#include "feeds/rss_parts.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "platform/net.h"
#include "transport/protocol_log.h"

RssClient::RssClient()
    : http_(std::make_unique<RssHttp>(L"Rivulet Middle")),
      imageCreater_(std::make_unique<ImageCreater>()),
      compose_(std::make_unique<EmlCompose>()),
      log_(std::make_unique<ProtocolLog>()) {}

RssClient::~RssClient() = default;

void RssClient::setAccount(MailAccount* account, void* connection) {
  account_ = *account;
  connection_ = connection;
  lastUid_.clear();
  if (!account->lastUid.empty() && oxm::wideToMulti(account->lastUid, &lastUid_) != OXMDL_ERR_NONE) lastUid_.clear();
  if (lastUid_.empty()) lastUid_ = "00000001";
  downloadList_.clear();
  isSsl_ = account->popServerPort == 995;
  if (isSsl_) logLine("RssClient:: set isSSL ON! \r\n");
}

void RssClient::setRssMode(int manual) { manual_ = manual != 0; }

bool RssClient::registerNotifyRss(NotifyRss* notify) {
  notify_ = notify;
  return true;
}

bool RssClient::notifyRss(int kind, long first, long second) {
  return notify_ ? notify_->notify(kind, first, second) : true;
}

void RssClient::logLine(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) log_->write(line, static_cast<unsigned>(std::min<int>(n, sizeof line - 1)));
}

void RssClient::cancel() {
  logLine("RssClient::cancel()\r\n");
  cancelRequested_ = true;
  // A picture being fetched stops at its next piece.
  std::lock_guard<std::mutex> hold(watchLock_);
  if (activeWatch_) RssHttp::EmptyAbortWatch(activeWatch_);
}

// The transfer goes through the HTTP library; the socket opened here only claims the socket
// layer for the run, as the device does, so that a host without sockets fails early and clearly.
unsigned RssClient::socketUp() {
  socket_ = std::make_unique<oxm::net::Socket>();
  if (!socket_->open()) {
    socket_.reset();
    return OXMDL_ERR_RSS_SOCKET;
  }
  if (isSsl_) {
    std::string host;
    oxm::wideToMulti(account_.popServerName, &host);
    socket_->setSecure(host, nullptr, true);
  }
  connected_ = true;
  return OXMDL_ERR_NONE;
}

void RssClient::socketDown() {
  if (socket_) socket_->close();
  socket_.reset();
  connected_ = false;
}

void RssClient::errorHandling(unsigned code) {
  running_ = false;
  // A cancel is spent on the run it stopped or refused.
  if (code == OXMDL_ERR_RSS_CANCEL) cancelRequested_ = false;
  if (code != POP_CANCEL_ERR) socketDown();
  notifyRss(4, static_cast<long>(code), 0);
  logLine("*RssClient::errorHandling() ret:[%x]\r\n", code);
}

void RssClient::GetRDF() {
  logLine("*RssClient::GetRDF()\r\n");
  if (cancelRequested_) {
    errorHandling(OXMDL_ERR_RSS_CANCEL);
    notifyRss(7, 0, 0);
    return;
  }
  if (running_) return;
  if (account_.popServerName.empty()) {
    errorHandling(OXMDL_ERR_RSS_URL);
    return;
  }
  cancelRequested_ = false;
  running_ = false;
  static const char kTitle[] = "*** Rss Protocol Start";
  log_->start(kTitle, sizeof kTitle - 1);
  mainStep();
  socketDown();
  running_ = false;
}

void RssClient::mainStep() {
  running_ = true;
  unsigned code = receive();
  if (code != OXMDL_ERR_NONE) return errorHandling(code);
  Fetch fetch;
  code = parse(&fetch);
  if (code != OXMDL_ERR_NONE) return errorHandling(code);
  notifyRss(0, 0, 0);
  code = parseData(&fetch);
  if (code != OXMDL_ERR_NONE) return errorHandling(code);
}

void RssClient::ReGet() {
  logLine("*RssClient::ReGet()\r\n");
  if (cancelRequested_) return errorHandling(OXMDL_ERR_RSS_CANCEL);
  if (running_) return;
  cancelRequested_ = false;
  static const char kTitle[] = "*** Rss ReGet Start";
  log_->start(kTitle, sizeof kTitle - 1);
  const unsigned code = socketUp();
  if (code != OXMDL_ERR_NONE) return errorHandling(code);
  running_ = true;
  ReGetExpandData();
  socketDown();
  running_ = false;
}

void RssClient::ReGetExpandData() {
  logLine("*RssClient::ReGetExpandData()\r\n");
  for (const std::string& uid : downloadList_) {
    uid_ = uid;
    text_.clear();
    notifyRss(3, 0, 0);
    if (text_.empty()) return errorHandling(OXMDL_ERR_RSS_REGET);
    const std::string stored = text_;
    const unsigned code = rssReGet(stored, uid);
    if (code != OXMDL_ERR_NONE) return errorHandling(code);
  }
}

void RssClient::deliver(int kind, const std::string& text, const std::string& uid) {
  text_ = text;
  uid_ = uid;
  notifyRss(kind, 0, 0);
}

void RssClient::getData(std::string* text, std::string* uid) {
  if (text) *text = text_;
  if (uid) *uid = uid_;
}

void RssClient::setRawMailData(const std::string& text) { text_ = text; }

std::string RssClient::getLastRecvUid() { return lastUid_; }

void RssClient::setDownloadList(std::list<std::string>& uids) { downloadList_ = uids; }

void RssClient::getUidlList(std::list<std::wstring>& uids) {
  for (const std::string& uid : uidList_) {
    std::wstring wide;
    oxm::multiToWide(uid, &wide);
    oxm::NKDbgPrintfW(L"[%s]\r\n", wide.c_str());
    uids.push_back(wide);
  }
}

int RssClient::HttpReceive(std::wstring* url, std::wstring* file, bool binary) {
  unsigned code = OXMDL_ERR_RSS_URL;
  if (url && file) {
    connected_ = true;
    code = recvHttp(*url, *file, binary);
  }
  if (code != OXMDL_ERR_NONE) SetOxMiddleError(code);
  return static_cast<int>(code);
}
