#include "transport/pop_client.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "frame/textconv.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/memory.h"
#include "platform/net.h"
#include "transport/dotstuff.h"
#include "transport/pop_reply.h"
#include "transport/protocol_log.h"
#include "transport/ras_controller.h"
#include "transport/reply_reader.h"
#include "transport/listener.h"

using oxm::NKDbgPrintfW;
using oxm::transport::ReadStatus;
namespace pop = oxm::pop;

namespace {

constexpr DWORD kMemoryFloor = 0x4B000;            // 300 KB: below it nothing big is fetched
constexpr long kWholeMessageLimit = 0x300000;       // 3 MB: larger messages come header only
constexpr long kHalfBufferLimit = 0x180000;         // below it the buffer is twice the size
constexpr size_t kBufferSlack = 1025;
// Under the memory floor a message is still fetched when its LIST size is at most this; a larger
// one is skipped for this conversation (not delivered, not deleted, the next one follows).
constexpr long kSkipThreshold = 0x8000;
// Replies other than a message: a status line (RFC 1939 allows 512 bytes) and the UIDL and LIST
// lists (100,000 lines of the longest UIDL form fit in 16 MB). A reply over its cap is
// POP_RESPONSE_ERR.
constexpr size_t kLineReplyCap = 64 * 1024;
constexpr size_t kListReplyCap = 16 * 1024 * 1024;
constexpr unsigned kSilentEnd = 1;  // internal: the conversation ends without a notification

const wchar_t kRegistryKey[] = L"Software\\TAMARIN\\OxMail";

DWORD availPhys() {
  MEMORYSTATUS status{};
  oxm::GlobalMemoryStatus(&status);
  return status.dwAvailPhys;
}

std::string narrow(const std::wstring& wide) {
  std::string out;
  return oxm::wideToMulti(wide, &out) == OXMDL_ERR_NONE ? out : std::string();
}

// The code of a negative reply in the states that have their own; any other state's is
// POP_RESPONSE_ERR.
struct NegativeReply {
  oxm::PopState state;
  unsigned code;
};
constexpr NegativeReply kNegativeReplies[] = {
    {oxm::PopState::UserSent, POP_AUTH_ERR},
    {oxm::PopState::PassSent, POP_AUTH_ERR},
    {oxm::PopState::ListSize, POP_LIST_ERR},
    {oxm::PopState::StatSent, POP_STAT_ERR},
    {oxm::PopState::DeleReceived, POP_DELE_RECEIVED_ERR},
    {oxm::PopState::ListBeforeRetr, POP_LIST_RETR_ERR},
    {oxm::PopState::RetrSent, POP_RETR_ERR},
    {oxm::PopState::RetrReading, POP_RETR_ERR},
    {oxm::PopState::DeleReply, POP_DELE_ERR},
    {oxm::PopState::LastUidlReply, POP_UIDL_LAST_ERR},
    {oxm::PopState::DeleSelected, POP_DELE_SELECTED_ERR},
};

unsigned negativeReplyCode(oxm::PopState state) {
  for (const NegativeReply& row : kNegativeReplies) {
    if (row.state == state) return row.code;
  }
  return POP_RESPONSE_ERR;
}

bool isLoginState(oxm::PopState state) {
  return state == oxm::PopState::Greeting || state == oxm::PopState::UserSent ||
         state == oxm::PopState::PassSent;
}

// States whose reply is a multi-line list or a message.
bool isMultiLineState(oxm::PopState state) {
  return state == oxm::PopState::UidlSent || state == oxm::PopState::ListAllReply ||
         state == oxm::PopState::RetrSent || state == oxm::PopState::RetrReading;
}

void eraseFirst(std::vector<std::string>& list, const std::string& value) {
  auto at = std::find(list.begin(), list.end(), value);
  if (at != list.end()) list.erase(at);
}

}  // namespace

// The conversation's host resources: released on the error path and with the client.
struct PopClient::Link {
  oxm::transport::ProtocolLog log;
  oxm::net::Socket socket;
  oxm::transport::ReplyReader reader{socket};
  oxm::transport::LineEnd lineEnd;
  oxm::transport::DotEnd dotEnd;
  std::unique_ptr<oxm::transport::CappedBuffer> retr;  // the reply to RETR/TOP
};

PopClient::PopClient() : link_(std::make_unique<Link>()) {
  installWaitChecks();
  link_->reader.setLog(&link_->log);
}

void PopClient::installWaitChecks() {
  oxm::transport::WaitChecks checks;
  checks.aborted = [this] { return abortRequested_.load(); };
  // A cancel ends a wait only during login; later the command in hand is finished first.
  checks.cancelled = [this] { return cancelRequested_.load() && isLoginState(state_); };
  checks.connection = connection_;
  link_->reader.setChecks(checks);
}

PopClient::~PopClient() = default;

bool PopClient::registerNotifyPop(NotifyPop* notify) { return oxm::transport::registerListener(notify_, notify); }

void PopClient::setAccount(MailAccount* account, void* connection) {
  if (account == nullptr) return;
  mailAddress_ = narrow(account->mailAddress);
  userName_ = narrow(account->popUserName);
  password_ = narrow(account->popPassword);
  serverName_ = narrow(account->popServerName);
  serverPort_ = account->popServerPort;
  partialLines_ = account->partialLines;
  deleteFromServer_ = account->deleteFromServer != 0;
  apopEnabled_ = account->apopEnabled != 0;
  reserved_ = account->reserved;
  connection_ = connection;
  knownUids_.clear();
  for (const std::wstring& uid : account->uidList) knownUids_.push_back(narrow(uid));
  // A client set up again for another account must not keep the previous one's last UID.
  lastUidForCheck_ = account->lastUid.empty() ? std::string() : narrow(account->lastUid);
  downloadList_.clear();
  isSsl_ = serverPort_ == 995;
  if (isSsl_) NKDbgPrintfW(L"PopClient:: set isSSL ON! \r\n");
  DWORD always = 0;
  if (GetRegistryDword(HKEY_CURRENT_USER, kRegistryKey, L"UseUidlListAlways", &always) && always == 1) {
    lastUidForCheck_.clear();
  }
  installWaitChecks();
}

void PopClient::setPopMode(int mode) { mode_ = mode; }

void PopClient::setDownloadList(std::list<std::string>& uids) {
  downloadList_.assign(uids.begin(), uids.end());
}

void PopClient::setDeleteList(std::list<std::string>& uids) { setDownloadList(uids); }

void PopClient::cancel() { cancelRequested_ = true; }

void PopClient::abort() {
  abortRequested_ = true;
  link_->socket.shutdownFromOtherThread();
}

void PopClient::quit() {
  if (state_ == State::QuitSent || state_ == State::Finished) return;
  if (!link_->socket.isOpen()) {
    // An error already closed the connection: there is no one to say QUIT to.
    setState(State::Finished);
    return;
  }
  setState(State::QuitNext);
  expectReply_ = false;
  continueRead_ = false;
  if (recvExec() != 0) closeSocket();
}

void PopClient::getMail(std::string* text, std::string* uid) {
  if (text != nullptr) *text = mailText_;
  if (uid != nullptr) *uid = currentUid_;
}

std::string PopClient::getLastRecvUid() { return lastRecvUid_; }

void PopClient::getUidlList(std::list<std::wstring>& uids) {
  for (const std::string& uid : latestList_) {
    std::wstring wide;
    if (oxm::multiToWide(uid, &wide) == OXMDL_ERR_NONE) uids.push_back(std::move(wide));
  }
}

void PopClient::setState(State next) {
  if (next == state_) return;
  NKDbgPrintfW(L"PopClient::setState %hs -> %hs\r\n", oxm::popStateName(state_), oxm::popStateName(next));
  state_ = next;
}

bool PopClient::notifyPop(int kind, long a, long b) {
  return notify_ == nullptr || notify_->notify(kind, a, b);
}

void PopClient::resetConversation() {
  continueRead_ = cancelRequested_ = false;
  replyRead_ = false;
  stopReason_ = StopReason::Normal;
  newCount_ = totalSize_ = handledCount_ = skippedCount_ = 0;
  deleteIndex_ = listIndex_ = 0;
  conversationBytes_ = messageSize_ = 0;
  uidlUnsupported_ = uidlFirstChunk_ = lastUidFound_ = noneKnown_ = false;
  headerOnly_ = skipped_ = deleteSelectedStarted_ = false;
  numberedCount_ = 0;
  currentUid_.clear();
  lastRecvUid_.clear();
  currentNumber_.clear();
  lastListedNumber_.clear();
  earlyListed_.clear();
  earlyReply_.clear();
  earlyRetr_.clear();
  uidlLines_.clear();
  uidlLineByNumber_.clear();
  messageList_.clear();
  messageUidList_.clear();
  receivedList_.clear();
  latestList_.clear();
  reply_.clear();
  link_->retr.reset();
  link_->reader.discardPending();
  link_->lineEnd.reset();
  link_->dotEnd.reset();
}

void PopClient::newConnection() {
  NKDbgPrintfW(L"(pop start) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  if (cancelRequested_) {
    // A cancel that came before the conversation answers this one and is then used up.
    cancelRequested_ = false;
    errorHandling(POP_CANCEL_ERR);
    notifyPop(6, 0, 0);
    return;
  }
  if (running_) return;
  if (serverName_.empty() || ((mode_ == kModeSelect || mode_ == kModeDeleteSelected) && downloadList_.empty())) {
    setState(State::QuitSent);
    return;
  }
  static const char kTitle[] = "*** Pop Protocol Start ";
  link_->log.start(kTitle, sizeof kTitle - 1);
  resetConversation();
  setState(State::Greeting);
  running_ = true;
  expectReply_ = true;

  unsigned code = connect();
  if (code != 0) {
    closeSocket();
    if (code != kSilentEnd) errorHandling(code);
    running_ = false;
  } else if (recvExec() != 0) {
    closeSocket();
  }
  NKDbgPrintfW(L"(pop end) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  link_->retr.reset();
  mailText_.clear();
}

unsigned PopClient::connect() {
  if (!link_->socket.open()) return POP_SOCKET_ERR;
  if (isSsl_) link_->socket.setSecure(serverName_, certificateValidationCallback, false);
  int result = 0;
  switch (link_->reader.connect(serverName_, serverPort_, &result)) {
    case ReadStatus::Ok:
      return 0;
    case ReadStatus::ThreadFailed:
      return POP_THREAD_ERR;
    case ReadStatus::Cancelled:
      NKDbgPrintfW(L" - Server connect Abort !!!\r\n");
      return POP_CANCEL_ERR;
    case ReadStatus::TimedOut:
      NKDbgPrintfW(L" - Server connect Thread timeout\r\n");
      return POP_CONNECT_ERR;
    case ReadStatus::RasDisconnected:
      return OXMDL_ERR_RAS_DISCONNECTED;
    case ReadStatus::Aborted:
      // Whoever aborted is tearing the conversation down and expects no report.
      return kSilentEnd;
    default:
      return POP_CONNECT_ERR;
  }
}

void PopClient::closeSocket() { link_->socket.close(); }

void PopClient::errorHandling(unsigned code) {
  running_ = false;
  if (code != POP_CANCEL_ERR) closeSocket();
  NKDbgPrintfW(L"PopClient::errorHandling %hs in %hs\r\n", GetOxMiddleErrorName(code),
               oxm::popStateName(state_));
  if (notify_ == nullptr) {
    SetOxMiddleError(code);
    return;
  }
  notify_->notify(3, static_cast<long>(code), 0);
}

unsigned PopClient::recvExec() {
  unsigned pending = 0;
  for (;;) {
    if (!continueRead_) reply_.clear();
    if (abortRequested_) {
      setState(State::Finished);
      expectReply_ = false;
      return 0;
    }
    if (state_ == State::Finished) return 0;
    if (pending != 0) {
      errorHandling(pending);
      return pending;
    }
    bool continued = continueRead_;
    replyRead_ = false;
    if (expectReply_) {
      unsigned code = recvData();
      if (code != 0) {
        errorHandling(code);
        return code;
      }
      replyRead_ = true;
      bool retr = state_ == State::RetrSent || state_ == State::RetrReading;
      const std::string& bytes = retr && link_->retr ? link_->retr->data() : reply_;
      if (!continued && !bytes.empty()) link_->log.logReply(bytes.data(), bytes.size());
      // The status line of a list or message is checked on its first part only.
      if (!continued && state_ != State::UidlSent && !cancelRequested_) {
        code = checkResponse();
        if (code != 0) {
          errorHandling(code);
          return code;
        }
      }
    }
    // A list still arriving is read to its end before a cancel takes effect, so that its rest
    // is not taken for the reply to QUIT.
    bool listIncomplete = (state_ == State::UidlSent || state_ == State::ListAllReply) && replyRead_ &&
                          !link_->reader.complete() && !reply_.starts_with("-");
    if (cancelRequested_ && !listIncomplete && state_ != State::RetrSent && state_ != State::RetrReading &&
        state_ != State::QuitSent && state_ != State::Finished) {
      expectReply_ = false;
      continueRead_ = false;
      stopReason_ = StopReason::Cancelled;
      if (isLoginState(state_)) {
        cancelRequested_ = false;  // answered here: the client's next conversation starts clean
        sendData("QUIT\r\n");
        errorHandling(POP_CANCEL_ERR);
        return POP_CANCEL_ERR;
      }
      setState(State::QuitNext);
      cancelRequested_ = false;
      errorHandling(POP_CANCEL_ERR);
    }
    continueRead_ = false;
    expectReply_ = false;
    pending = incomingData();
  }
}

unsigned PopClient::recvData() {
  oxm::transport::ReadStatus status;
  if (state_ == State::RetrSent || state_ == State::RetrReading) {
    if (state_ == State::RetrSent || !link_->retr) {
      size_t capacity = messageSize_ < kHalfBufferLimit ? static_cast<size_t>(messageSize_) * 2
                                                        : static_cast<size_t>(kWholeMessageLimit);
      link_->retr = std::make_unique<oxm::transport::CappedBuffer>(capacity + kBufferSlack);
      if (!link_->retr->ok()) return POP_RETR_ERR;
    }
    bool hadOverflow = link_->retr->overflow();
    status = link_->reader.read(*link_->retr, link_->dotEnd);
    if (!hadOverflow && link_->retr->overflow()) NKDbgPrintfW(L"[1112] Real size is OVER!!\r\n");
  } else if (isMultiLineState(state_)) {
    status = link_->reader.read(reply_, link_->dotEnd, kListReplyCap);
  } else {
    status = link_->reader.read(reply_, link_->lineEnd, kLineReplyCap);
  }
  return statusCode(status);
}

unsigned PopClient::statusCode(ReadStatus status) const {
  switch (status) {
    case ReadStatus::Ok:
    case ReadStatus::Cancelled:  // cancel during login: the loop sends QUIT
      return 0;
    case ReadStatus::SocketFailed:
    case ReadStatus::PeerClosed:
      // abort() shuts the socket down: the read fails before the wait sees the flag.
      if (abortRequested_) {
        NKDbgPrintfW(L" - Thread timeout\r\n");
        return POP_TIMEOUT_ERR;
      }
      if (status == ReadStatus::SocketFailed) {
        NKDbgPrintfW(L"*** socket Error is Occuered\r\n");
        return POP_SEND_ERR;
      }
      // After QUIT a server may close at once; before it a close is a failure.
      if (state_ == State::QuitSent) return 0;
      NKDbgPrintfW(L"!! Socket is closed !!\r\n");
      return POP_SEND_ERR;
    case ReadStatus::RasDisconnected:
      return OXMDL_ERR_RAS_DISCONNECTED;
    case ReadStatus::ThreadFailed:
      return POP_THREAD_ERR;
    case ReadStatus::TooLong:
      return POP_RESPONSE_ERR;
    case ReadStatus::TimedOut:
    case ReadStatus::Aborted:
    default:
      NKDbgPrintfW(L" - Thread timeout\r\n");
      return POP_TIMEOUT_ERR;
  }
}

unsigned PopClient::checkResponse() {
  bool retr = state_ == State::RetrSent || state_ == State::RetrReading;
  const std::string& bytes = retr && link_->retr ? link_->retr->data() : reply_;
  if (pop::isPositive(bytes)) return 0;
  // An overflowed message buffer keeps only its first four bytes: "+OK" and one more.
  if (retr && link_->retr && link_->retr->overflow() && bytes.starts_with("+OK")) return 0;
  // A refused QUIT ends the conversation as it is; any other refusal is answered with QUIT.
  if (state_ == State::QuitSent) return POP_QUIT_ERR;
  return sendQuitAfterError(negativeReplyCode(state_));
}

unsigned PopClient::sendData(std::string_view command, bool secret) {
  link_->log.logCommand(command.data(), command.size(), secret);
  link_->lineEnd.reset();
  link_->dotEnd.reset();
  if (link_->socket.send(command.data(), command.size()) < 0) return POP_SEND_ERR;
  expectReply_ = true;
  return 0;
}

unsigned PopClient::sendNumbered(const char* verb, const std::string& number, const char* tail) {
  std::string command = verb;
  command.append(number).append(tail).append("\r\n");
  return sendData(command);
}

unsigned PopClient::sendQuitAfterError(unsigned code) {
  sendData("QUIT\r\n");
  setState(State::QuitSent);
  return code;
}

unsigned PopClient::incomingData() {
  switch (state_) {
    case State::Greeting: return onGreeting();
    case State::UserSent: return onUserSent();
    case State::PassSent: return onPassSent();
    case State::UidlSent: return onUidlSent();
    case State::ListNext: return onListNext();
    case State::ListSize: return onListSize();
    case State::StatNext: return onStatNext();
    case State::StatSent: return onStatSent();
    case State::DeleReceived: return onDeleReceived();
    case State::RetrNext: return onRetrNext();
    case State::ListBeforeRetr: return onListBeforeRetr();
    case State::RetrSent: return onRetrSent();
    case State::RetrReading: return onRetrReading();
    case State::RetrDone: return onRetrDone();
    case State::DeleNext: return onDeleNext();
    case State::DeleReply: return onDeleReply();
    case State::LastUidl: return onLastUidl();
    case State::LastUidlReply: return onLastUidlReply();
    case State::DeleSelected: return onDeleSelected();
    case State::QuitNext: return onQuitNext();
    case State::QuitSent: return onQuitSent();
    case State::Finished: return 0;
    case State::ListAll: return onListAll();
    case State::ListAllReply: return onListAllReply();
  }
  return POP_RESPONSE_ERR;
}

// Connected, the greeting read and found good: log in with APOP or USER.
unsigned PopClient::onGreeting() {
  if (apopEnabled_) {
    std::string timestamp = pop::apopTimestamp(reply_.substr(0, reply_.find("\r\n")));
    if (timestamp.empty()) return sendQuitAfterError(POP_APOP_ERR);
    std::string command = "APOP " + userName_ + " " + pop::apopDigest(timestamp, password_) + "\r\n";
    if (unsigned code = sendData(command, true)) return code;
    setState(State::PassSent);
    return 0;
  }
  if (unsigned code = sendData("USER " + userName_ + "\r\n")) return code;
  setState(State::UserSent);
  return 0;
}

unsigned PopClient::onUserSent() {
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_AUTH_ERR);
  if (unsigned code = sendData("PASS " + password_ + "\r\n", true)) return code;
  setState(State::PassSent);
  return 0;
}

unsigned PopClient::onPassSent() {
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_AUTH_ERR);
  if (unsigned code = sendData("UIDL\r\n")) return code;
  uidlFirstChunk_ = true;
  setState(State::UidlSent);
  return 0;
}

// The UIDL list, possibly over several passes. Its first data line is checked as soon as it
// is there, so that a server answering with something else is dropped before its bytes pile up.
unsigned PopClient::onUidlSent() {
  if (reply_.starts_with("-")) {
    uidlUnsupported_ = true;
    messageList_.clear();
    // Without UIDs nothing can be matched to a selection or to what was received before.
    if (mode_ == kModeSelect || mode_ == kModeDeleteSelected || mode_ == kModeClear) {
      stopReason_ = StopReason::Declined;
      setState(State::QuitNext);
    } else {
      setState(State::StatNext);
    }
    return 0;
  }
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_RESPONSE_ERR);
  if (uidlFirstChunk_) {
    switch (pop::checkUidlStart(reply_)) {
      case pop::UidlStart::NeedMore:
        continueRead_ = expectReply_ = true;
        return 0;
      case pop::UidlStart::Bad:
        return sendQuitAfterError(POP_RESPONSE_ERR);
      case pop::UidlStart::Ok:
        uidlFirstChunk_ = false;
        break;
    }
  }
  if (!pop::endsMultiLine(reply_)) {
    continueRead_ = expectReply_ = true;
    return 0;
  }
  if (unsigned code = pop::splitUidlList(reply_, &uidlLines_)) return sendQuitAfterError(code);
  reply_.clear();
  for (size_t i = 0; i < uidlLines_.size(); ++i) {
    uidlLineByNumber_.emplace(std::string(pop::lineNumber(uidlLines_[i])), i);
  }
  uidlCheck();
  switch (mode_) {
    case kModeDeleteSelected:
      setState(newCount_ != 0 ? State::DeleSelected : State::QuitNext);
      break;
    case kModeSelect:
      setState(newCount_ != 0 ? State::ListNext : State::QuitNext);
      break;
    case kModeClear:
      deleteIndex_ = 0;
      setState(State::DeleReceived);
      break;
    default:
      setState(lastUidFound_ ? State::ListNext : noneKnown_ ? State::StatNext : State::ListAll);
      break;
  }
  return 0;
}

// The messages still to count are in messageList (select mode) or the UIDL lines after the
// last known UID (other modes).
unsigned PopClient::onListNext() {
  size_t count = mode_ == kModeSelect ? messageList_.size() : uidlLines_.size();
  if (listIndex_ >= count) {
    setState(deleteFromServer_ && !receivedList_.empty() ? State::DeleReceived : State::QuitNext);
    deleteIndex_ = 0;
    return 0;
  }
  std::string number = mode_ == kModeSelect ? messageList_[listIndex_]
                                            : std::string(pop::lineNumber(uidlLines_[listIndex_]));
  if (unsigned code = sendNumbered("LIST ", number)) return code;
  ++listIndex_;
  setState(State::ListSize);
  return 0;
}

unsigned PopClient::onListSize() {
  long number = 0, size = 0;
  pop::parseTwoNumbers(reply_, &number, &size);
  totalSize_ = std::min<long>(totalSize_ + size, INT32_MAX);
  size_t count = mode_ == kModeSelect ? messageList_.size() : uidlLines_.size();
  if (listIndex_ < count) {
    setState(State::ListNext);
    return 0;
  }
  if (!notifyPop(7, newCount_, totalSize_)) {
    stopReason_ = StopReason::Declined;
    setState(State::QuitNext);
    return 0;
  }
  setState(afterCounting());
  return 0;
}

PopClient::State PopClient::afterCounting() {
  listIndex_ = 0;
  if (deleteFromServer_ && !receivedList_.empty()) {
    deleteIndex_ = 0;
    return State::DeleReceived;
  }
  return State::RetrNext;
}

unsigned PopClient::onStatNext() {
  if (unsigned code = sendData("STAT\r\n")) return code;
  setState(State::StatSent);
  return 0;
}

unsigned PopClient::onStatSent() {
  long count = 0, size = 0;
  pop::parseTwoNumbers(reply_, &count, &size);
  newCount_ = count;
  totalSize_ = size;
  bool go = notifyPop(7, count, size);
  if (count == 0 || !go) {
    stopReason_ = StopReason::Declined;
    setState(State::QuitNext);
    return 0;
  }
  // Without UIDL every message is new: numbers 1 to count, made when taken (a hostile count
  // costs nothing).
  if (uidlUnsupported_) numberedCount_ = static_cast<size_t>(count);
  listIndex_ = 0;
  setState(State::RetrNext);
  return 0;
}

unsigned PopClient::onDeleReceived() {
  if (deleteIndex_ < receivedList_.size()) {
    return sendNumbered("DELE ", receivedList_[deleteIndex_++]);
  }
  latestList_.clear();
  setState(mode_ == kModeClear ? State::QuitNext : State::RetrNext);
  return 0;
}

bool PopClient::messageAt(size_t index, std::string* number) const {
  if (uidlUnsupported_) {
    if (index >= numberedCount_) return false;
    *number = std::to_string(index + 1);
    return true;
  }
  if (index >= messageList_.size()) return false;
  *number = messageList_[index];
  return true;
}

// The next message to fetch: skipped messages count beside the delivered ones, so that a
// message left out for lack of memory is not asked for again.
unsigned PopClient::onRetrNext() {
  std::string number;
  if (!messageAt(static_cast<size_t>(handledCount_ + skippedCount_), &number)) {
    setState(State::LastUidl);
    return 0;
  }
  currentNumber_ = number;
  setCurrentUid(number);
  if (!notifyPop(10, 1, 0)) {
    stopReason_ = StopReason::Declined;
    setState(State::QuitNext);
    return 0;
  }
  lastListedNumber_ = number;
  if (earlyRetr_ == number) {
    messageSize_ = earlySize_;
    headerOnly_ = earlyHeaderOnly_;
    skipped_ = false;
    earlyListed_.clear();
    earlyRetr_.clear();
    expectReply_ = true;
    setState(State::RetrSent);
    return 0;
  }
  setState(State::ListBeforeRetr);
  if (earlyListed_ == number && !earlyReply_.empty()) {
    earlyListed_.clear();
    reply_ = std::move(earlyReply_);
    earlyReply_.clear();
    return onListBeforeRetr();
  }
  if (earlyListed_ == number) {
    expectReply_ = true;
  } else if (unsigned code = sendNumbered("LIST ", number)) {
    return code;
  }
  earlyListed_.clear();
  return 0;
}

unsigned PopClient::onListBeforeRetr() {
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_LIST_RETR_ERR);
  long number = 0;
  pop::parseTwoNumbers(reply_, &number, &messageSize_);
  skipped_ = false;
  if (skipsMessage(messageSize_, &headerOnly_)) {
    NKDbgPrintfW(L"PopClient::onListBeforeRetr skips message %hs (%ld bytes): low memory\r\n",
                 currentNumber_.c_str(), messageSize_);
    skipped_ = true;
    ++skippedCount_;
    setState(State::RetrDone);
    return 0;
  }
  if (unsigned code = sendRetrieve(currentNumber_, headerOnly_)) return code;
  setState(State::RetrSent);
  return 0;
}

// TOP n 0 for the header alone, TOP n lines in partial mode, else RETR n.
unsigned PopClient::sendRetrieve(const std::string& number, bool headerOnly) {
  if (mode_ == kModePartial || headerOnly) {
    return sendNumbered("TOP ", number, headerOnly ? " 0" : (" " + std::to_string(partialLines_)).c_str());
  }
  return sendNumbered("RETR ", number);
}

unsigned PopClient::onRetrSent() {
  if (!link_->retr || !link_->retr->data().starts_with("+")) {
    NKDbgPrintfW(L"[1015] RETR_COMMAND Err\r\n");
    return sendQuitAfterError(POP_RETR_ERR);
  }
  setState(State::RetrReading);
  return onRetrReading();
}

unsigned PopClient::onRetrReading() {
  oxm::transport::CappedBuffer& buffer = *link_->retr;
  if (!buffer.endsWith("\r\n.\r\n")) {
    continueRead_ = expectReply_ = true;
    notifyPop(8, conversationBytes_ + static_cast<long>(buffer.data().size()) - 2, 0);
    return 0;
  }
  if (cancelRequested_) {
    link_->retr.reset();
    NKDbgPrintfW(L"*** delete responseBuff (3)\r\n");
    setState(State::RetrDone);
    return 0;
  }
  NKDbgPrintfW(L"(POP received all Data) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  if (buffer.overflow()) {
    link_->retr.reset();
    if (headerOnly_) {
      // The header alone outgrew the buffer sized from the server's own LIST size: the
      // message cannot be had; leave it on the server and go on.
      NKDbgPrintfW(L"PopClient::onRetrReading skips message %hs: header over its LIST size\r\n",
                   currentNumber_.c_str());
      skipped_ = true;
      ++skippedCount_;
      setState(State::RetrDone);
      return 0;
    }
    headerOnly_ = true;
    NKDbgPrintfW(L" *** TOP Command resend!!! \r\n");
    if (sendNumbered("TOP ", currentNumber_, " 0") != 0) return POP_SEND_ERR;
    setState(State::RetrSent);
    return 0;
  }
  std::string text;
  bool ok = pop::extractMessage(buffer.data(), &text);
  link_->retr.reset();
  if (!ok) return POP_RETR_ERR;
  notifyPop(8, conversationBytes_ + static_cast<long>(text.size()), 0);
  bool whole = messageSize_ <= static_cast<long>(text.size()) + 2;
  oxm::transport::dotUnstuff(text);
  int kind = headerOnly_ ? 2 : (mode_ == kModePartial && !whole) ? 1 : 0;
  conversationBytes_ += headerOnly_ ? static_cast<long>(text.size()) : messageSize_;
  mailText_ = std::move(text);
  const unsigned early = sendNextEarly();
  bool go = notifyPop(kind, 0, 0);
  mailText_.clear();
  mailText_.shrink_to_fit();
  // A read ahead that failed ends the conversation, but only once this message is handed on.
  if (!go) {
    stopReason_ = StopReason::Declined;
    expectReply_ = false;
    setState(State::QuitNext);
    return early;
  }
  ++handledCount_;
  latestList_.push_back(currentUid_);
  setState(State::RetrDone);
  return early;
}

// What RETR-next will send for the next message, sent before this one is handed on to be
// stored: its LIST, and once the LIST's reply is read, its RETR (or TOP), so that the server
// reads the next message out while this one is stored. Not when DELE must come first, nor
// when the conversation is about to end. Without UIDL only the LIST goes ahead (the UID made up
// for a message takes the size of the one before). A LIST that refuses or skips the message
// is left for LIST-before-RETR to answer, a failed send for RETR-next to meet again; a failed
// read is returned, to end the conversation after this message.
unsigned PopClient::sendNextEarly() {
  std::string next;
  if (deleteFromServer_ || cancelRequested_ || (notify_ && !notify_->expectsNext()) ||
      !messageAt(static_cast<size_t>(handledCount_ + 1 + skippedCount_), &next)) {
    return 0;
  }
  if (sendNumbered("LIST ", next) == 0) earlyListed_ = next;
  expectReply_ = false;
  if (earlyListed_.empty() || uidlUnsupported_) return 0;
  earlyReply_.clear();
  if (unsigned code = readEarlyReply(false)) return code;
  long number = 0, size = 0;
  bool headerOnly = false;
  if (!pop::isPositive(earlyReply_)) return 0;
  pop::parseTwoNumbers(earlyReply_, &number, &size);
  if (skipsMessage(size, &headerOnly) || sendRetrieve(next, headerOnly) != 0) return 0;
  earlyReply_.clear();
  earlyRetr_ = next;
  earlySize_ = size;
  earlyHeaderOnly_ = headerOnly;
  expectReply_ = false;
  return 0;
}

// Reads the reply to the LIST sent ahead (into earlyReply_), or the whole message of the RETR
// sent ahead, which is dropped (its first bytes are logged).
unsigned PopClient::readEarlyReply(bool message) {
  auto readWhole = [&](auto& sink, auto& end) {
    ReadStatus status;
    do {
      status = link_->reader.read(sink, end);
    } while (status == ReadStatus::Ok && !link_->reader.complete());
    return status;
  };
  ReadStatus status;
  if (message) {
    oxm::transport::CappedBuffer dropped(kBufferSlack);
    status = readWhole(dropped, link_->dotEnd);
    link_->log.logReply(dropped.data().data(), dropped.data().size());
  } else {
    oxm::transport::StringSink sink(earlyReply_, kLineReplyCap);
    status = readWhole(sink, link_->lineEnd);
    link_->log.logReply(earlyReply_.data(), earlyReply_.size());
  }
  return statusCode(status);
}

unsigned PopClient::onRetrDone() {
  if (deleteFromServer_ && !cancelRequested_ && !skipped_) {
    if (unsigned code = sendNumbered("DELE ", lastListedNumber_)) return code;
    setState(State::DeleReply);
    return 0;
  }
  setState(State::RetrNext);
  return 0;
}

unsigned PopClient::onDeleNext() {
  if (unsigned code = sendNumbered("DELE ", lastListedNumber_)) return code;
  setState(State::DeleReply);
  return 0;
}

unsigned PopClient::onDeleReply() {
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_DELE_ERR);
  eraseFirst(latestList_, currentUid_);
  setState(State::RetrNext);
  return 0;
}

// UIDL n of the last message listed, whose UID the retriever keeps as the last one. Nothing
// listed in this conversation: nothing to ask.
unsigned PopClient::onLastUidl() {
  lastRecvUid_.clear();
  if (!deleteFromServer_ && !uidlUnsupported_ && !lastListedNumber_.empty()) {
    if (unsigned code = sendNumbered("UIDL ", lastListedNumber_)) return code;
    setState(State::LastUidlReply);
    return 0;
  }
  setState(State::QuitNext);
  return 0;
}

unsigned PopClient::onLastUidlReply() {
  if (!reply_.starts_with("+")) return sendQuitAfterError(POP_UIDL_LAST_ERR);
  std::string_view line = reply_;
  line = line.substr(0, line.find("\r\n"));
  line.remove_prefix(std::min<size_t>(line.size(), 4));  // "+OK "
  lastRecvUid_ = std::string(pop::lineUid(line));
  setState(State::QuitNext);
  return 0;
}

unsigned PopClient::onDeleSelected() {
  if (!deleteSelectedStarted_) {
    deleteSelectedStarted_ = true;
    latestList_.insert(latestList_.end(), messageUidList_.begin(), messageUidList_.end());
  } else {
    if (!reply_.starts_with("+")) return sendQuitAfterError(POP_DELE_SELECTED_ERR);
    eraseFirst(latestList_, currentUid_);
  }
  if (static_cast<size_t>(handledCount_) >= messageList_.size()) {
    setState(State::QuitNext);
    return 0;
  }
  const std::string& number = messageList_[handledCount_];
  setCurrentUid(number);
  if (unsigned code = sendNumbered("DELE ", number)) return code;
  ++handledCount_;
  return 0;
}

unsigned PopClient::onQuitNext() {
  // A reply to a command sent ahead is on the way: read it, so that it is not taken for QUIT's.
  const bool message = !earlyRetr_.empty();
  if (message || (!earlyListed_.empty() && earlyReply_.empty())) {
    if (unsigned code = readEarlyReply(message)) return code;
  }
  earlyListed_.clear();
  earlyReply_.clear();
  earlyRetr_.clear();
  if (unsigned code = sendData("QUIT\r\n")) return code;
  setState(State::QuitSent);
  return 0;
}

unsigned PopClient::onQuitSent() {
  if (!reply_.starts_with("+")) return POP_QUIT_ERR;
  closeSocket();
  running_ = false;
  uidlLines_.clear();
  uidlLineByNumber_.clear();
  int kind = 4;
  long a = handledCount_;
  if (stopReason_ == StopReason::Declined) {
    kind = 5;
  } else if (stopReason_ == StopReason::Cancelled) {
    kind = 6;
    a = 0;
  } else if (mode_ == kModeDeleteSelected) {
    kind = 9;
  }
  mode_ = kModeNormal;
  setState(State::Finished);
  notifyPop(kind, a, 0);
  return 0;
}

unsigned PopClient::onListAll() {
  if (unsigned code = sendData("LIST\r\n")) return code;
  setState(State::ListAllReply);
  return 0;
}

unsigned PopClient::onListAllReply() {
  if (!pop::endsMultiLine(reply_)) {
    continueRead_ = expectReply_ = true;
    return 0;
  }
  std::unordered_set<std::string_view> wanted(messageList_.begin(), messageList_.end());
  pop::forEachListLine(reply_, [&](std::string_view number, long size) {
    if (wanted.count(number)) totalSize_ = std::min<long>(totalSize_ + size, INT32_MAX);
  });
  if (!notifyPop(7, newCount_, totalSize_)) {
    stopReason_ = StopReason::Declined;
    setState(State::QuitNext);
    return 0;
  }
  setState(afterCounting());
  return 0;
}

void PopClient::uidlCheck() {
  listIndex_ = 0;
  receivedList_.clear();
  if (mode_ == kModeSelect || mode_ == kModeDeleteSelected) {
    uidlCheckSelect();
  } else {
    uidlCheckNormal();
  }
}

// Everything up to the line holding the last UID was received before; what follows is new.
void PopClient::uidlCheckNormal() {
  size_t walked = 0;
  for (const std::string& line : uidlLines_) {
    ++walked;
    messageList_.emplace_back(pop::lineNumber(line));
    messageUidList_.emplace_back(pop::lineUid(line));
    ++newCount_;
    if (!lastUidForCheck_.empty() && !lastUidFound_ && line.find(lastUidForCheck_) != std::string::npos) {
      lastUidFound_ = true;
      newCount_ = 0;
      receivedList_.insert(receivedList_.end(), messageList_.begin(), messageList_.end());
      latestList_.insert(latestList_.end(), messageUidList_.begin(), messageUidList_.end());
      messageList_.clear();
      messageUidList_.clear();
      listIndex_ = walked;
    }
  }
  noneKnown_ = true;
  if (!lastUidFound_) uidlCheckNormalRecheck();
}

// No last UID to go by: every line holding a known UID was received before.
void PopClient::uidlCheckNormalRecheck() {
  messageList_.clear();
  messageUidList_.clear();
  newCount_ = 0;
  pop::UidSet known(knownUids_);
  for (const std::string& line : uidlLines_) {
    if (known.heldBy(line)) {
      receivedList_.emplace_back(pop::lineNumber(line));
      latestList_.emplace_back(pop::lineUid(line));
      noneKnown_ = false;
    } else {
      messageList_.emplace_back(pop::lineNumber(line));
      messageUidList_.emplace_back(pop::lineUid(line));
      ++newCount_;
    }
  }
}

// Modes 2 and 3: the lines holding a UID of the list are the ones to fetch or delete. The walk
// ends after the line holding the last UID; an empty last UID is held by every line, so the
// walk then ends after the first line.
void PopClient::uidlCheckSelect() {
  pop::UidSet wanted(downloadList_);
  for (const std::string& line : uidlLines_) {
    if (wanted.heldBy(line)) {
      messageList_.emplace_back(pop::lineNumber(line));
      messageUidList_.emplace_back(pop::lineUid(line));
      ++newCount_;
    } else {
      receivedList_.emplace_back(pop::lineNumber(line));
      latestList_.emplace_back(pop::lineUid(line));
    }
    if (line.find(lastUidForCheck_) != std::string::npos) break;
  }
}

bool PopClient::setCurrentUid(const std::string& number) {
  if (uidlUnsupported_) {
    SYSTEMTIME t{};
    oxm::GetLocalTime(&t);
    char uid[64];
    std::snprintf(uid, sizeof uid, "%04d%02d%02d%02d%02d%02d%04d%08ld", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds, messageSize_);
    currentUid_ = uid;
    return true;
  }
  auto at = uidlLineByNumber_.find(number);
  if (at == uidlLineByNumber_.end()) {
    currentUid_.clear();
    return false;
  }
  currentUid_ = std::string(pop::lineUid(uidlLines_[at->second]));
  return true;
}

// Before each RETR/TOP: whether the message is left on the server (under the memory floor, one
// over 32 KB); else *headerOnly when memory is short for it or it passes 3 MB (modes 0 and 2).
bool PopClient::skipsMessage(long messageSize, bool* headerOnly) const {
  *headerOnly = false;
  uint64_t avail = availPhys();
  if (avail < kMemoryFloor) return messageSize > kSkipThreshold;
  uint64_t size = static_cast<uint64_t>(std::max<long>(messageSize, 0));
  if (avail < size * 2 / 1024) {
    *headerOnly = true;
  } else if ((mode_ == kModeNormal || mode_ == kModeSelect) && messageSize > kWholeMessageLimit) {
    *headerOnly = true;
  }
  return false;
}
