#include "transport/smtp_client.h"

#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "platform/net.h"
#include "platform/worker.h"
#include "transport/dotstuff.h"
#include "transport/pop_reply.h"
#include "transport/protocol_log.h"
#include "transport/ras_controller.h"
#include "transport/reply_end.h"
#include "transport/reply_reader.h"
#include "transport/smtp_reply.h"
#include "transport/listener.h"

namespace oxm {

const char* smtpStateName(SmtpState state) {
  switch (state) {
    case SmtpState::Greeting: return "GREETING";
    case SmtpState::MailFromNext: return "MAIL_FROM_NEXT";
    case SmtpState::MailFromSent: return "MAIL_FROM_SENT";
    case SmtpState::RcptSent: return "RCPT_SENT";
    case SmtpState::DataNext: return "DATA_NEXT";
    case SmtpState::DataSent: return "DATA_SENT";
    case SmtpState::Closed: return "CLOSED";
    case SmtpState::Accepted: return "ACCEPTED";
    case SmtpState::Accepted334: return "ACCEPTED_334";
    case SmtpState::EhloSent: return "EHLO_SENT";
    case SmtpState::CramSent: return "CRAM_SENT";
    case SmtpState::CramAnswered: return "CRAM_ANSWERED";
    case SmtpState::LoginSent: return "LOGIN_SENT";
    case SmtpState::UserSent: return "USER_SENT";
    case SmtpState::PasswordSent: return "PASSWORD_SENT";
    case SmtpState::AuthAbandoned: return "AUTH_ABANDONED";
    case SmtpState::PopLogin: return "POP_LOGIN";
    case SmtpState::PopApop: return "POP_APOP";
    case SmtpState::PopClosing: return "POP_CLOSING";
    case SmtpState::TlsDone: return "TLS_DONE";
    case SmtpState::TlsEhloSent: return "TLS_EHLO_SENT";
    case SmtpState::StartTlsSent: return "STARTTLS_SENT";
    case SmtpState::TlsHandshake: return "TLS_HANDSHAKE";
  }
  return "?";
}

}  // namespace oxm

namespace {

using oxm::transport::ReadStatus;

// Inside the client 0 means no error (the library's success code is not 0).
constexpr unsigned kNoError = 0;

// An endless or hostile reply is cut here and refused (SMTP_RESPONSE_ERR); EHLO replies of real
// servers are well under 1 KB.
constexpr size_t kReplyLimit = 64 * 1024;
// QUIT's reply is read into at most this much.
constexpr size_t kQuitReplyLimit = 1024;
// The text goes out in pieces of this size, each on a worker thread.
constexpr size_t kPiece = 32768;

// The ports that switch on TLS from the first byte and STARTTLS.
constexpr unsigned kImplicitTlsPort = 465;
constexpr unsigned kStartTlsPort = 587;

std::string narrow(const std::wstring& text) {
  if (text.empty() || (text.size() == 1 && text[0] == L'\0')) return {};
  std::string out;
  if (oxm::wideToMulti(text, &out) != OXMDL_ERR_NONE) return {};
  return out;
}

// A failed wait or transfer as the client's code.
unsigned statusCode(ReadStatus status) {
  switch (status) {
    case ReadStatus::Ok: return kNoError;
    case ReadStatus::TimedOut: return SMTP_TIMEOUT_ERR;
    case ReadStatus::RasDisconnected: return OXMDL_ERR_RAS_DISCONNECTED;
    case ReadStatus::Aborted:
    case ReadStatus::Cancelled: return SMTP_CANCEL_ERR;
    case ReadStatus::ThreadFailed: return SMTP_GENERAL_ERR;
    case ReadStatus::TooLong: return SMTP_RESPONSE_ERR;
    case ReadStatus::ConnectFailed: return SMTP_CONNECT_ERR;
    case ReadStatus::SocketFailed:
    case ReadStatus::PeerClosed: return SMTP_SEND_ERR;
  }
  return SMTP_SEND_ERR;
}

}  // namespace

struct SmtpClient::Link {
  oxm::net::Socket socket;
  oxm::transport::ReplyReader reader{socket};
  oxm::transport::SmtpEnd smtpEnd;
  oxm::transport::LineEnd lineEnd;
  oxm::transport::ReplyEnd* end = &smtpEnd;
};

SmtpClient::SmtpClient()
    : log_(std::make_unique<ProtocolLog>()), sleeper_(std::make_unique<oxm::StepSleeper>()) {}

SmtpClient::~SmtpClient() { closeLinks(); }

bool SmtpClient::registerNotifySmtp(NotifySmtp* notify) {
  return oxm::transport::registerListener(notify_, notify);
}

void SmtpClient::setState(State next) {
  oxm::NKDbgPrintfW(L"SmtpClient::setState %hs -> %hs\r\n", oxm::smtpStateName(state_), oxm::smtpStateName(next));
  state_ = next;
}

void SmtpClient::notifySmtp(int kind, long a) {
  if (notify_) {
    notify_->notify(kind, a, 0);
  } else if (kind == 1) {
    SetOxMiddleError(static_cast<unsigned>(a));
  }
}

void SmtpClient::setAccount(MailAccount* account, void* connection) {
  if (!account) return;
  mailAddress_ = narrow(account->mailAddress);
  popUserName_ = narrow(account->popUserName);
  popPassword_ = narrow(account->popPassword);
  popServerName_ = narrow(account->popServerName);
  smtpServerName_ = narrow(account->smtpServerName);
  popServerPort_ = account->popServerPort;
  smtpServerPort_ = account->smtpServerPort;
  deleteFromServer_ = account->deleteFromServer != 0;
  popBeforeSmtp_ = account->popBeforeSmtp != 0;
  apopEnabled_ = account->apopEnabled != 0;
  smtpAuthMethod_ = account->smtpAuthMethod;
  smtpUserName_ = narrow(account->smtpUserName);
  smtpPassword_ = narrow(account->smtpPassword);
  waitSeconds_ = account->popBeforeSmtpLatencySec > 300 ? 60 : account->popBeforeSmtpLatencySec;
  connection_ = connection;
  secureMode_ = SecureMode::Plain;
  if (smtpServerPort_ == kImplicitTlsPort) {
    secureMode_ = SecureMode::ImplicitTls;
    oxm::NKDbgPrintfW(L"SmtpClient:: set isSSL ON! \r\n");
  } else if (smtpServerPort_ == kStartTlsPort) {
    secureMode_ = SecureMode::StartTls;
    oxm::NKDbgPrintfW(L"SmtpClient:: set isStartTls ON! \r\n");
  }
}

void SmtpClient::setMail(RawEmail_S* mail) {
  if (!mail) return;
  envelopeFrom_ = mail->envelopeFrom;
  recipients_ = mail->recipients;
  text_ = mail->data;
  if (text_) oxm::transport::dotStuff(*text_);
}

// ---- Connections ----

unsigned SmtpClient::openLink(std::unique_ptr<Link>* link, const std::string& host, unsigned port, bool secure,
                              unsigned connectError) {
  auto made = std::make_unique<Link>();
  if (!made->socket.open()) return SMTP_SOCKET_ERR;
  if (secure) made->socket.setSecure(host, certificateValidationCallback, secureMode_ == SecureMode::StartTls);
  made->reader.setLog(log_.get());
  made->reader.setChecks({nullptr, [this] { return cancelRequested_.load(); },
                          static_cast<oxm::HCONNECTION>(connection_)});
  {
    std::lock_guard<std::mutex> hold(linkLock_);
    *link = std::move(made);
  }
  if (cancelRequested_) return SMTP_CANCEL_ERR;  // a cancel that came before the link was there
  const ReadStatus status = (*link)->reader.connect(host, port);
  if (status == ReadStatus::ConnectFailed || status == ReadStatus::TimedOut) return connectError;
  return statusCode(status);
}

void SmtpClient::closeLinks() {
  std::lock_guard<std::mutex> hold(linkLock_);
  link_.reset();
  popLink_.reset();
  current_ = nullptr;
}

void SmtpClient::newConnection() {
  if (started_) return;
  if (smtpServerName_.empty()) {
    setState(State::Closed);
    return;
  }
  static const char kTitle[] = "*** Smtp Protocol Start ";
  log_->start(kTitle, sizeof kTitle - 1);
  cancelRequested_ = false;
  tlsTried_ = false;
  if (smtpAuthMethod_ == SMTP_AUTH_POP_BEFORE_SMTP && !popServerName_.empty()) {
    started_ = true;
    popLoginDone_ = true;
    if (const unsigned code = popLogin()) {
      errorHandling(code);
      return;
    }
    oxm::NKDbgPrintfW(L"SmtpClient::start wait timer(%d) \r\n", static_cast<int>(waitSeconds_));
    if (!sleeper_->sleep(waitSeconds_, [this] { return cancelRequested_.load(); })) {
      errorHandling(SMTP_CANCEL_ERR);
      return;
    }
  }
  startSend();
}

void SmtpClient::startSend() {
  started_ = true;
  setState(State::Greeting);
  if (const unsigned code = openLink(&link_, smtpServerName_, smtpServerPort_, secureMode_ != SecureMode::Plain, SMTP_CONNECT_ERR)) {
    errorHandling(code);
    return;
  }
  sendExec();
}

// POP before SMTP: log in to the POP3 server on a connection of its own, then QUIT.
unsigned SmtpClient::popLogin() {
  if (const unsigned code = openLink(&popLink_, popServerName_, popServerPort_, false, SMTP_POP_CONNECT_ERR)) {
    closeLinks();
    return code;
  }
  popLink_->end = &popLink_->lineEnd;
  popStep_ = 0;
  popDone_ = false;
  setState(apopEnabled_ ? State::PopApop : State::PopLogin);
  unsigned code = kNoError;
  while (!code && !popDone_) {
    if (cancelRequested_) {
      code = SMTP_CANCEL_ERR;
      break;
    }
    code = readReply(*popLink_);
    if (!code) code = dispatch();
  }
  std::lock_guard<std::mutex> hold(linkLock_);
  popLink_.reset();
  current_ = nullptr;
  return code;
}

// ---- The send loop ----

void SmtpClient::sendExec() {
  if (recipients_.empty()) {
    errorHandling(SMTP_SEQUENCE_ERR);
    return;
  }
  finished_ = false;
  continueRead_ = false;
  unsigned pending = kNoError;
  while (true) {
    if (cancelRequested_) {
      if (state_ == State::Accepted && !pending) return;
      errorHandling(SMTP_CANCEL_ERR);
      return;
    }
    if (pending) {
      errorHandling(pending);
      return;
    }
    if (state_ != State::TlsDone && state_ != State::TlsHandshake) {
      if (const unsigned code = readReply(*link_)) {
        if (state_ == State::Accepted && cancelRequested_) {
          oxm::NKDbgPrintfW(L"[#1011]:send finish and Abort occured!!\r\n");
          closeLinks();
          started_ = false;
          notifySmtp(0, 0);
          return;
        }
        errorHandling(cancelRequested_ ? SMTP_CANCEL_ERR : code);
        return;
      }
    }
    pending = dispatch();
    if (finished_) return;
  }
}

unsigned SmtpClient::readReply(Link& link) {
  const bool continuation = continueRead_;
  if (!continueRead_) {
    reply_.clear();
    link.end->reset();
  }
  continueRead_ = false;
  current_ = &link;
  const size_t before = reply_.size();
  const ReadStatus status = link.reader.read(reply_, *link.end, kReplyLimit);
  if (reply_.size() > before && !continuation) log_->logReply(reply_.data() + before, reply_.size() - before);
  if (status == ReadStatus::PeerClosed) {
    if (state_ == State::Closed || state_ == State::PopClosing) return kNoError;
    oxm::NKDbgPrintfW(L"!! Socket is closed !!\r\n");
    return SMTP_SEND_ERR;
  }
  if (status == ReadStatus::TimedOut) oxm::NKDbgPrintfW(L" - Thread timeout\r\n");
  return statusCode(status);
}

unsigned SmtpClient::sendCommand(Link& link, std::string_view command, bool secret) {
  log_->logCommand(command.data(), command.size(), secret);
  return statusCode(link.reader.send(command.data(), command.size()));
}

unsigned SmtpClient::sendCommand(std::string_view command, bool secret) { return sendCommand(*current_, command, secret); }

// The text straight from the caller's buffer in pieces, then the end of the data.
unsigned SmtpClient::sendText() {
  const std::string empty;
  const std::string& text = text_ ? *text_ : empty;
  for (size_t at = 0; at < text.size(); at += kPiece) {
    const size_t size = std::min(kPiece, text.size() - at);
    const ReadStatus status = link_->reader.send(text.data() + at, size);
    if (status == ReadStatus::ThreadFailed) oxm::NKDbgPrintfW(L"**SmtpClient::sendExecThread() CreateThread Error\r\n");
    if (status != ReadStatus::Ok) return statusCode(status);
  }
  return sendCommand("\r\n.\r\n");
}

unsigned SmtpClient::sendMailFrom() {
  std::string line;
  if (!oxm::smtp::addressCommand("MAIL FROM: <", envelopeFrom_, &line)) return SMTP_ADDRESS_ERR;
  if (const unsigned code = sendCommand(line)) return code;
  nextRecipient_ = recipients_.begin();
  setState(State::MailFromSent);
  return kNoError;
}

unsigned SmtpClient::sendRecipient() {
  std::string line;
  if (!oxm::smtp::addressCommand("RCPT TO: <", *nextRecipient_, &line)) return SMTP_ADDRESS_ERR;
  if (const unsigned code = sendCommand(line)) return code;
  ++nextRecipient_;
  setState(State::RcptSent);
  return kNoError;
}

void SmtpClient::errorHandling(unsigned code) {
  if (code != SMTP_SEND_ERR && code != SMTP_TIMEOUT_ERR && code != OXMDL_ERR_RAS_DISCONNECTED && link_ &&
      link_->socket.isOpen()) {
    link_->socket.clearInterrupt();  // a wait ended by cancel leaves the socket usable for QUIT
    sendCommand(*link_, "QUIT\r\n");
  }
  oxm::NKDbgPrintfW(L"*SmtpClient::errorHandling() errcode:[%x],status:[%d]\r\n", code, static_cast<int>(state_.load()));
  closeLinks();
  started_ = false;
  notifySmtp(1, static_cast<long>(code));
}

unsigned SmtpClient::dispatch() {
  switch (state_.load()) {
    case State::Greeting: return onGreeting();
    case State::MailFromNext: return onMailFromNext();
    case State::MailFromSent: return onMailFromSent();
    case State::RcptSent: return onRcptSent();
    case State::DataNext: return onDataNext();
    case State::DataSent: return onDataSent();
    case State::Closed: return onClosed();
    case State::Accepted: return onAccepted();
    case State::Accepted334: return onAccepted334();
    case State::EhloSent: return onEhloSent();
    case State::CramSent: return onCramSent();
    case State::CramAnswered: return onCramAnswered();
    case State::LoginSent: return onLoginSent();
    case State::UserSent: return onUserSent();
    case State::PasswordSent: return onPasswordSent();
    case State::AuthAbandoned: return onAuthAbandoned();
    case State::PopLogin: return onPopLogin();
    case State::PopApop: return onPopApop();
    case State::PopClosing: return onPopClosing();
    case State::TlsDone: return onTlsDone();
    case State::TlsEhloSent: return onTlsEhloSent();
    case State::StartTlsSent: return onStartTlsSent();
    case State::TlsHandshake: return onTlsHandshake();
  }
  return SMTP_RESPONSE_ERR;
}

// ---- Handlers ----

// The greeting: with STARTTLS the TLS exchange comes first, else the greeting proper.
unsigned SmtpClient::onGreeting() {
  if (!oxm::smtp::replyIs(reply_, {"220", "250"})) return SMTP_RESPONSE_ERR;
  if (secureMode_ == SecureMode::StartTls && !tlsTried_) {
    oxm::NKDbgPrintfW(L"[TLS1]SmtpClient::startTls()\r\n");
    tlsTried_ = true;
    if (const unsigned code = sendCommand("EHLO OxMail_1\r\n")) return code;
    setState(State::TlsEhloSent);
    return kNoError;
  }
  return greet();
}

unsigned SmtpClient::greet() {
  if (smtpAuthMethod_ != SMTP_AUTH_NONE && smtpAuthMethod_ != SMTP_AUTH_POP_BEFORE_SMTP) {
    if (smtpUserName_.empty() || smtpPassword_.empty()) return SMTP_AUTH_ERR;
    if (const unsigned code = sendCommand("EHLO OxMail\r\n")) return code;
    setState(State::EhloSent);
    return kNoError;
  }
  if (const unsigned code = sendCommand("HELO OxMail\r\n")) return code;
  setState(State::MailFromNext);
  return kNoError;
}

unsigned SmtpClient::onTlsDone() { return greet(); }

unsigned SmtpClient::onTlsEhloSent() {
  if (!current_->reader.complete()) {
    continueRead_ = true;
    return kNoError;
  }
  if (!oxm::smtp::beginsWith(reply_, "250")) return SMTP_AUTH_ERR;
  if (!oxm::smtp::offersStartTls(reply_)) {
    setState(State::TlsDone);  // no STARTTLS offered: the conversation goes on in plain text
    return kNoError;
  }
  if (const unsigned code = sendCommand("STARTTLS\r\n")) return code;
  setState(State::StartTlsSent);
  return kNoError;
}

unsigned SmtpClient::onStartTlsSent() {
  if (!oxm::smtp::beginsWith(reply_, "220")) {
    oxm::NKDbgPrintfW(L"status ResTls ERROR!!\r\n");
    return SMTP_AUTH_ERR;
  }
  setState(State::TlsHandshake);
  return kNoError;
}

// The handshake waits in steps like every other socket call, so a stalled peer ends at the step
// limit and a lost data connection is noticed. A refused certificate or a broken handshake ends
// the conversation as a failed connect would; a cancel interrupts the socket, so a handshake that
// failed after one counts as cancelled.
unsigned SmtpClient::onTlsHandshake() {
  const ReadStatus status = link_->reader.handshake();
  if (status == ReadStatus::Ok) {
    setState(State::TlsDone);
    return kNoError;
  }
  if (cancelRequested_) return SMTP_CANCEL_ERR;
  return statusCode(status);
}

// EHLO: refused outright, HELO instead; otherwise the capability check and the AUTH choice.
unsigned SmtpClient::onEhloSent() {
  if (oxm::smtp::ehloRefused(reply_)) {
    if (const unsigned code = sendCommand("HELO OxMail\r\n")) return code;
    setState(State::MailFromNext);
    return kNoError;
  }
  if (!current_->reader.complete()) {
    continueRead_ = true;
    return kNoError;
  }
  return chooseAuth();
}

// Method 2 (chosen from the reply) against a server that offers neither LOGIN nor CRAM-MD5
// goes on without authentication; methods 3 and 4 name a mechanism and fail there.
unsigned SmtpClient::chooseAuth() {
  unsigned caps = 0;
  const unsigned check = oxm::smtp::ehloCapabilities(reply_, &caps);
  if (check == SMTP_GENERAL_ERR) return SMTP_RESPONSE_ERR;
  if (check == SMTP_EHLO_ERR) return SMTP_AUTH_UNAVAILABLE_ERR;
  if (check == SMTP_AUTH_METHOD_ERR && smtpAuthMethod_ != SMTP_AUTH_FROM_EHLO) return SMTP_AUTH_METHOD_ERR;
  authCaps_ = caps;
  const char* command = "HELO nimbus\r\n";
  State next = State::MailFromNext;
  if (smtpAuthMethod_ == SMTP_AUTH_CRAM_MD5 || (smtpAuthMethod_ == SMTP_AUTH_FROM_EHLO && (caps & oxm::smtp::kAuthCramMd5))) {
    command = "AUTH CRAM-MD5\r\n";
    next = State::CramSent;
  } else if (smtpAuthMethod_ == SMTP_AUTH_LOGIN || (smtpAuthMethod_ == SMTP_AUTH_FROM_EHLO && (caps & oxm::smtp::kAuthLogin))) {
    command = "AUTH LOGIN\r\n";
    next = State::LoginSent;
  }
  if (const unsigned code = sendCommand(command)) return code;
  setState(next);
  return kNoError;
}

unsigned SmtpClient::onCramSent() {
  std::string answer;
  if (!oxm::smtp::cramMd5Answer(reply_, smtpUserName_, smtpPassword_, &answer)) {
    if (const unsigned code = sendCommand("*\r\n")) return code;
    setState(State::AuthAbandoned);
    return kNoError;
  }
  if (const unsigned code = sendCommand(answer, true)) return code;
  setState(State::CramAnswered);
  return kNoError;
}

unsigned SmtpClient::authFinished() {
  if (!oxm::smtp::replyIs(reply_, {"235", "250"})) return SMTP_AUTH_ERR;
  return sendMailFrom();
}

unsigned SmtpClient::onCramAnswered() { return authFinished(); }
unsigned SmtpClient::onPasswordSent() { return authFinished(); }
unsigned SmtpClient::onAuthAbandoned() { return SMTP_AUTH_UNAVAILABLE_ERR; }

unsigned SmtpClient::onLoginSent() {
  const bool asked = oxm::smtp::beginsWith(reply_, "334 ");
  if (const unsigned code = sendCommand(asked ? oxm::smtp::base64Line(smtpUserName_) : "*\r\n", asked)) return code;
  setState(State::UserSent);
  return kNoError;
}

unsigned SmtpClient::onUserSent() {
  const bool asked = oxm::smtp::beginsWith(reply_, "334 ");
  if (const unsigned code = sendCommand(asked ? oxm::smtp::base64Line(smtpPassword_) : "*\r\n", asked)) return code;
  setState(State::PasswordSent);
  return kNoError;
}

unsigned SmtpClient::onMailFromNext() {
  if (!oxm::smtp::replyIs(reply_, {"250", "235"})) return SMTP_RESPONSE_ERR;
  return sendMailFrom();
}

unsigned SmtpClient::onMailFromSent() {
  if (!oxm::smtp::replyIs(reply_, {"220", "250"})) return SMTP_ADDRESS_ERR;
  return sendRecipient();
}

unsigned SmtpClient::onRcptSent() {
  if (!oxm::smtp::replyIs(reply_, {"220", "250"})) return SMTP_ADDRESS_ERR;
  if (nextRecipient_ != recipients_.end()) return sendRecipient();
  setState(State::DataNext);
  return onDataNext();
}

unsigned SmtpClient::onDataNext() {
  if (const unsigned code = sendCommand("DATA\r\n")) return code;
  setState(State::DataSent);
  return kNoError;
}

unsigned SmtpClient::onDataSent() {
  if (!oxm::smtp::replyIs(reply_, {"250", "354"})) return SMTP_RESPONSE_ERR;
  if (const unsigned code = sendText()) return code;
  setState(State::Accepted);
  return kNoError;
}

unsigned SmtpClient::onAccepted() {
  if (oxm::smtp::replyIs(reply_, {"250"})) {
    finished_ = true;
    notifySmtp(0, 0);
    return kNoError;
  }
  if (oxm::smtp::beginsWith(reply_, "334")) {
    last334_ = reply_;
    setState(State::Accepted334);
    finished_ = true;
    notifySmtp(0, 0);
    return kNoError;
  }
  return SMTP_RESPONSE_ERR;
}

unsigned SmtpClient::onAccepted334() { return SMTP_SEQUENCE_ERR; }
unsigned SmtpClient::onClosed() { return SMTP_SEQUENCE_ERR; }

// POP before SMTP with USER and PASS: the greeting, then the replies to USER and PASS.
unsigned SmtpClient::onPopLogin() {
  if (!oxm::pop::isPositive(reply_)) return SMTP_AUTH_ERR;
  const int step = popStep_++;
  if (step == 0) return sendCommand("USER " + popUserName_ + "\r\n");
  if (step == 1) return sendCommand("PASS " + popPassword_ + "\r\n", true);
  if (const unsigned code = sendCommand("QUIT \r\n")) return code;
  setState(State::PopClosing);
  return kNoError;
}

// POP before SMTP with APOP: the greeting's timestamp, then the reply to APOP.
unsigned SmtpClient::onPopApop() {
  if (!oxm::pop::isPositive(reply_)) return SMTP_AUTH_ERR;
  if (popStep_++ == 0) {
    const std::string stamp = oxm::pop::apopTimestamp(reply_);
    if (stamp.empty()) return SMTP_AUTH_ERR;
    return sendCommand("APOP " + popUserName_ + " " + oxm::pop::apopDigest(stamp, popPassword_) + "\r\n", true);
  }
  if (const unsigned code = sendCommand("QUIT \r\n")) return code;
  setState(State::PopClosing);
  return kNoError;
}

unsigned SmtpClient::onPopClosing() {
  popDone_ = true;
  return kNoError;
}

// ---- Next message, quit, cancel ----

void SmtpClient::sendEmail() {
  if (state_ != State::Accepted || !link_) {
    notifySmtp(1, SMTP_SEQUENCE_ERR);
    return;
  }
  current_ = link_.get();
  continueRead_ = false;
  if (recipients_.empty()) {
    errorHandling(SMTP_SEQUENCE_ERR);
    return;
  }
  if (const unsigned code = sendMailFrom()) {
    errorHandling(code);
    return;
  }
  sendExec();
}

void SmtpClient::quit() {
  if (cancelRequested_ || (state_ != State::Accepted && state_ != State::Accepted334) || !link_) return;
  sendCommand(*link_, "QUIT \r\n");
  started_ = false;
  setState(State::Closed);
  reply_.clear();
  link_->smtpEnd.reset();
  link_->reader.read(reply_, link_->smtpEnd, kQuitReplyLimit);
  if (!reply_.empty()) log_->logReply(reply_.data(), reply_.size());
  closeLinks();
}

void SmtpClient::cancel() {
  oxm::NKDbgPrintfW(L"SmtpClient::cancel()\r\n");
  if (state_ == State::Accepted) {
    oxm::NKDbgPrintfW(L"SmtpClient::cancel() status is Next & retrun \r\n");
    return;
  }
  cancelRequested_ = true;
  sleeper_->wake();
  std::lock_guard<std::mutex> hold(linkLock_);
  for (Link* link : {link_.get(), popLink_.get()}) {
    if (link) link->socket.interrupt();
  }
}
