#include "transport/retriever.h"

#include <new>

#include "accounts/account_info.h"
#include "accounts/classifier.h"
#include "accounts/old_messages.h"
#include "accounts/paths.h"
#include "codec/email.h"
#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/storage_interface.h"
#include "transport/account_record.h"
#include "transport/periodic.h"

namespace {

constexpr unsigned kOversizeKind = 2;
const char kOversizeHeader[] = "X-Oversize-Oxmail:\r\n";

}  // namespace

OxRetriever::OxRetriever() {
  if (!registerNotifyPop(this)) {
    oxm::NKDbgPrintfW(L"Fail to register to PopClient at constructor of OxRetriever.\r\n");
  }
}

OxRetriever::~OxRetriever() { registerNotifyPop(nullptr); }

bool OxRetriever::registerNotify(Notify* notify) {
  return caller_.attach(notify);
}

// ---- the caller's side ----

bool OxRetriever::forward(unsigned kind, long a, long b) { return caller_.forward(kind, a, b); }

bool OxRetriever::report(unsigned code, long b) {
  if (firstError_ == 0) firstError_ = code;
  return caller_.report(code, b);
}

bool OxRetriever::stop(unsigned code, long b) {
  retrievingNow_ = 0;
  setResultIndicator(PHONE_RECV_ERROR);
  report(code, b);
  return false;
}

void OxRetriever::setResultIndicator(unsigned value) {
  oxm::transport::setResultIndicator(value, diskFull_, wAccountMode_, periodic_, caller_.get(), this);
}

// ---- the three retrievals ----

bool OxRetriever::fillMailAccount(OxAccountInfoInterface* account, const std::string& password, void* connection,
                                  int* mode) {
  std::wstring widePassword;
  if (oxm::multiToWide(password, &widePassword) != OXMDL_ERR_NONE) widePassword.clear();
  OxAccountInfoInterface::Attributes a;
  MailAccount m;
  if (!oxm::transport::readRetrievalRecord(account, &a, &m)) return false;
  if (!widePassword.empty()) m.popPassword = widePassword;
  autoRetrievalEnabled_ = a.bAutoMailRetrievingEnabled ? 1 : 0;
  if (*mode == kModeNormal && a.bPartialRetrievingEnabled) *mode = kModePartial;
  setAccount(&m, connection);
  return true;
}

void OxRetriever::release(OxRASController* ras, const wchar_t* debugFormat) {
  forward(11, 3, 0);
  long status = 0;
  const bool released = ras->ReleaseConnection(&status);
  if (debugFormat) oxm::NKDbgPrintfW(debugFormat, status);
  if (!released) report(OXMDL_ERR_RTV_DISCONNECT, 0);
}

bool OxRetriever::converse(OxAccountInfoInterface* account, OxRASController* ras, const std::string& password,
                           int mode, const std::list<std::string>* downloads) {
  if (!account) {
    report(OXMDL_ERR_RTV_NO_ACCOUNT, 0);
    return false;
  }
  if (!ras || !ras->RegisterNotifyRas(&rasAdapter_)) {
    oxm::NKDbgPrintfW(L"Fail to register to RAS constructor of OxRetriever.\r\n");
    return false;
  }
  account_ = account;
  accountName_.clear();
  account->GetAccountName(&accountName_);
  retrievingNow_ = 1;
  forward(11, 1, 0);
  long status = 0;
  void* connection = ras->EstablishConnection(&status, account);
  if (!connection) {
    setResultIndicator(PHONE_RECV_NO_CONNECTION);
    report(OXMDL_ERR_RTV_CONNECT, status);
    ras->RegisterNotifyRas(nullptr);
    account_ = nullptr;
    return false;
  }
  int clientMode = mode;
  if (!fillMailAccount(account, password, connection, &clientMode)) {
    const unsigned code = GetOxMiddleError();
    long ignored = 0;
    ras->ReleaseConnection(&ignored);
    oxm::NKDbgPrintfW(L"=== Release Connection1c : Status = %ld\r\n", ignored);
    ras->RegisterNotifyRas(nullptr);
    account_ = nullptr;
    SetOxMiddleError(code);
    return false;
  }
  if (mode != kModeSelect && mode != kModeClear) retrievalKind_ = clientMode;
  setPopMode(clientMode);
  if (downloads) {
    std::list<std::string> copy = *downloads;
    setDownloadList(copy);
  }
  forward(11, 2, 0);

  classifier_.reset(new (std::nothrow) OxClassifier());
  storage_.reset(account->OpenStorage());
  if (!classifier_ || !storage_) {
    report(classifier_ ? GetOxMiddleError() : OXMDL_ERR_MEM_SHORTAGE, 0);
    release(ras, nullptr);
    storage_.reset();
    ras->RegisterNotifyRas(nullptr);
    account_ = nullptr;
    return false;
  }
  if ((clientMode == kModeNormal || clientMode == kModePartial) && recoverInFlight()) {
    // The last UID moved past the messages a run that died had stored: the client takes it anew.
    fillMailAccount(account, password, connection, &clientMode);
  }
  batch_.reset(new (std::nothrow) oxm::StoreBatch(storage_.get()));
  newConnection();
  if (!commitReceived()) report(GetOxMiddleError(), 0);
  inFlight_.reset();
  uidListOut_.clear();
  getUidlList(uidListOut_);
  if (mode != kModeClear && !account->SaveUIDL(uidListOut_)) report(GetOxMiddleError(), 0);
  batch_.reset();
  classifier_.reset();
  storage_.reset();
  return true;
}

void OxRetriever::resetCounters() {
  completeCount_ = 0;
  cancelled_ = 0;
  diskFull_ = 0;
  receivedCount_ = 0;
  receiveLimit_ = 0;
  roomCount_ = 0;
  errorSeen_ = 0;
  notStopped_ = 1;
  retrievalKind_ = 0;
  uidMap_.clear();
  pendingLastUid_.clear();
  account_ = nullptr;
}

bool OxRetriever::RetrieveMessages(OxAccountInfoInterface* account, OxRASController* ras, std::string password) {
  oxm::NKDbgPrintfW(L"=== Retrieve Messages, Start ===\r\n");
  firstError_ = 0;
  retrievalKind_ = 0;
  const bool ran = converse(account, ras, password, kModeNormal, nullptr);
  if (ran && retrievingNow_ == 0 &&
      (completeCount_ > 0 || !notStopped_ || cancelled_ || diskFull_ || errorSeen_)) {
    release(ras, L"Release Connection3 : Status = %ld\r\n");
  }
  if (ras) ras->RegisterNotifyRas(nullptr);
  resetCounters();
  return ran && (firstError_ == 0 || firstError_ == OXMDL_ERR_RTV_NOTHING_NEW);
}

bool OxRetriever::RetrieveSelectedMessages(const std::list<unsigned long>& messageIds, OxAccountInfoInterface* account,
                                           OxRASController* ras, std::string password) {
  oxm::NKDbgPrintfW(L"=== Retrieve Messages(S), Start ===\r\n");
  firstError_ = 0;
  if (!account) {
    report(OXMDL_ERR_RTV_NO_ACCOUNT, 0);
    return false;
  }
  std::list<std::string> downloads;
  if (!oxm::transport::mapSelectedMessages(messageIds, account, &uidMap_, &downloads)) {
    const unsigned code = GetOxMiddleError();
    uidMap_.clear();
    SetOxMiddleError(code);
    return false;
  }
  retrievalKind_ = 2;
  const bool ran = converse(account, ras, password, kModeSelect, &downloads);
  if (ran && retrievingNow_ == 0) release(ras, L"Release Connection3s : Status = %ld\r\n");
  const bool result = ran && retrievingNow_ != 0;
  if (ras) ras->RegisterNotifyRas(nullptr);
  resetCounters();
  return result;
}

bool OxRetriever::ClearMessagesOnPopServer(OxAccountInfoInterface* account, OxRASController* ras,
                                           std::string password) {
  clearing_ = 1;
  firstError_ = 0;
  const bool ran = converse(account, ras, password, kModeClear, nullptr);
  if (ran && !account->SaveUIDL({})) report(GetOxMiddleError(), 0);
  if (ran && retrievingNow_ == 0) release(ras, L"Release Connection3c : Status = %ld\r\n");
  const bool result = ran && retrievingNow_ != 0;
  clearing_ = 0;
  if (ras) ras->RegisterNotifyRas(nullptr);
  resetCounters();
  return result;
}

void OxRetriever::CancelRetrieveMessages() {
  cancelled_ = 1;
  cancel();
}

bool OxRetriever::SetMyPhoneStatus(unsigned item, unsigned value) { return SetPhoneStatus(item, value) == 1; }

bool OxRetriever::SetPeriodicRetrAccountName() {
  if (accountName_.empty()) {
    SetOxMiddleError(OXMDL_ERR_ACC_NAME);
    return false;
  }
  if (!SetRegistryValue(HKEY_CURRENT_USER, oxm::kOxMailKey, L"PeriodicRetrAccount", accountName_)) return false;
  return true;
}

// ---- the client's events ----

bool OxRetriever::OnReceiveMessage(int kind, long a, long b) {
  // Every notification needs the account's storage; it is held open for the whole conversation
  // instead of being opened again for each one (three opens a message, each reading the
  // account's settings file for the storage's directory).
  if (!account_ || !storage_) return false;
  switch (kind) {
    case 0:
    case 1:
    case kOversizeKind:
      return onMessage(kind) ? forward(static_cast<unsigned>(kind), a, b) : false;
    case 3:
      return onError(a, b);
    case 4:
      return onFinished(a);
    case 5:
      retrievingNow_ = 0;
      return true;
    case 7:
      return onMailboxSize(a, b);
    case 8:
      if (receiveLimit_ > 0 && receivedCount_ >= receiveLimit_) return onLimitReached(false);
      return forward(8, a, b);
    case 9:
      return forward(9, a, b);
    case 10:
      if (a == 1 && receiveLimit_ > 0 && receivedCount_ >= receiveLimit_) return onLimitReached(true);
      return forward(10, a, b);
    default:
      return true;
  }
}

bool OxRetriever::onMessage(int kind) {
  std::string text, uid;
  getMail(&text, &uid);
  if (text.empty()) return stop(OXMDL_ERR_RTV_EMPTY_MESSAGE, 0);
  if (uid.empty()) return stop(OXMDL_ERR_RTV_NO_UID, 0);
  const bool known = uidMap_.count(uid) != 0;
  if (kind == 1 && known) {
    SetOxMiddleError(OXMDL_ERR_RTV_UID_PENDING);
    retrievingNow_ = 0;
    setResultIndicator(PHONE_RECV_ERROR);
    report(OXMDL_ERR_RTV_NO_UID, 0);
    ++receivedCount_;
    return true;
  }
  if (kind == kOversizeKind && text.size() >= 2) {
    // Before the blank line that ends the header block.
    text.insert(text.size() - 2, kOversizeHeader);
  }
  if (!storeOrReplace(text, uid, kind == 1)) return stop(GetOxMiddleError(), 0);
  if (kind != kOversizeKind) ++receivedCount_;
  return true;
}

bool OxRetriever::storeOrReplace(std::string& text, const std::string& uid, bool partial) {
  bool saved;
  if (uidMap_.count(uid)) {
    saved = ReplaceMessage(text, uid);
  } else {
    noteInFlight(uid);
    saved = SaveMessage(text, uid, partial);
  }
  if (!saved) return false;
  if (retrievalKind_ != 2) pendingLastUid_ = uid;
  // At most once a second; in delete-from-server mode each message, before its DELE.
  if (deletesFromServer() || std::chrono::steady_clock::now() - committed_ >= std::chrono::seconds(1)) {
    return commitReceived();
  }
  return true;
}

// The messages stored since the last commit reach the disk (their files and directory entries)
// before LastUID.ini names the last of them and before the server may delete one: a power cut
// can never leave the last UID naming a message that is not on the disk. Once LastUID.ini is
// written, RecvUID.dat's notes are emptied.
bool OxRetriever::commitReceived() {
  committed_ = std::chrono::steady_clock::now();
  if (batch_) {
    const unsigned code = batch_->commitMessages();
    if (code != OXMDL_ERR_NONE) {
      SetOxMiddleError(code);
      return false;
    }
  }
  if (pendingLastUid_.empty()) return true;
  if (account_->SaveLastUID(pendingLastUid_)) clearInFlight();
  pendingLastUid_.clear();
  return true;
}

bool OxRetriever::onError(long code, long b) {
  errorSeen_ = 1;
  retrievingNow_ = 0;
  if (code == 0) {
    oxm::NKDbgPrintfW(L"POP_OK\r\n");
  } else {
    setResultIndicator(static_cast<unsigned>(code) == POP_FILE_FULL_ERR ? PHONE_RECV_STORAGE_FULL : PHONE_RECV_ERROR);
  }
  roomCount_ = 0;
  report(static_cast<unsigned>(code), b);
  return true;
}

bool OxRetriever::onFinished(long count) {
  completeCount_ = static_cast<int32_t>(count);
  if (count > 0) {
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, 1);
    setResultIndicator(PHONE_RECV_FINISHED);
    roomCount_ = 0;
    return forward(4, count, 0);
  }
  if (!clearing_) retrievingNow_ = 0;
  setResultIndicator(PHONE_RECV_NOTHING_NEW);
  report(OXMDL_ERR_RTV_NOTHING_NEW, 0);
  return false;
}

bool OxRetriever::onMailboxSize(long count, long size) {
  if (count == 0) return onFinished(0);
  OxAccountInfoInterface::Attributes a;
  a.mask = OxAccountInfoInterface::Mask::bRemoveOldMessageEnabled;
  const bool checkOld = (retrievalKind_ == 0 || retrievalKind_ == 1) && account_->GetAccountInfoAttributes(&a) &&
                        a.bRemoveOldMessageEnabled;
  if (checkOld && storage_) {
    oxm::AccountOldMessageCheck check(account_, storage_.get());
    unsigned long missing = 0;
    if (!check.Check(static_cast<unsigned long>(count), &missing)) {
      roomCount_ = missing == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(missing);
      if (roomCount_ == 0xFFFFFFFFu) return stop(GetOxMiddleError(), -1);
      const long limit = count - static_cast<long>(roomCount_);
      if (limit <= 0) {
        notStopped_ = 0;
        setResultIndicator(PHONE_RECV_ERROR);
        report(OXMDL_ERR_RTV_RECEIVE_LIMIT, static_cast<long>(roomCount_));
        return false;
      }
      receiveLimit_ = static_cast<uint32_t>(limit);
    }
  }
  return forward(7, count, size);
}

bool OxRetriever::onLimitReached(bool indicator) {
  retrievingNow_ = 0;
  notStopped_ = 0;
  if (indicator) setResultIndicator(PHONE_RECV_ERROR);
  report(OXMDL_ERR_RTV_RECEIVE_LIMIT, static_cast<long>(roomCount_));
  return false;
}

bool OxRetriever::OnRASReceiveMessage(unsigned int kind, long a, long) {
  if (const long phase = oxm::transport::connectionPhase(kind, a)) forward(11, phase, 0);
  return true;
}

// ---- storing ----

void OxRetriever::storageFull(unsigned code) {
  if (!oxm::transport::storageFullClass(code)) return;
  oxm::NKDbgPrintfW(L"OxRetriever::SaveMessages() --- Disk Full Err\r\n");
  setResultIndicator(PHONE_RECV_STORAGE_FULL);
  diskFull_ = 1;
}

bool OxRetriever::SaveMessage(std::string& text, const std::string& uid, bool partial) {
  diskFull_ = 0;
  const bool saved = classifier_->SaveToFolder(text, uid, partial, account_);
  retrievingNow_ = saved ? 1 : 0;
  if (!saved) {
    const unsigned code = GetOxMiddleError();
    storageFull(code);
    SetOxMiddleError(code);
  }
  return saved;
}

bool OxRetriever::ReplaceMessage(const std::string& text, const std::string& uid) {
  diskFull_ = 0;
  auto it = uidMap_.find(uid);
  if (it == uidMap_.end()) {
    SetOxMiddleError(OXMDL_ERR_RTV_UID_UNKNOWN);
    return false;
  }
  unsigned writeCode = 0;
  if (oxm::transport::replaceStoredMessage(account_, it->second.messageId, text, &writeCode)) return true;
  if (writeCode != 0) {
    storageFull(writeCode);
    SetOxMiddleError(writeCode);
  }
  return false;
}
