#include "feeds/rss_retriever.h"

#include <new>

#include "accounts/account_info.h"
#include "accounts/classifier.h"
#include "accounts/device_setup.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "platform/debug.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"
#include "transport/periodic.h"

namespace {

constexpr unsigned kFolderIdLimit = 0xFFFF;  // above: the virtual folders

}  // namespace

OxRssRetriever::OxRssRetriever() { registerNotifyRss(this); }

OxRssRetriever::~OxRssRetriever() { registerNotifyRss(nullptr); }

bool OxRssRetriever::registerNotify(Notify* notify) {
  return caller_.attach(notify);
}

// ---- the caller's side ----

bool OxRssRetriever::forward(unsigned kind, long a, long b) { return caller_.forward(kind, a, b); }

bool OxRssRetriever::report(unsigned code, long b) {
  lastError_ = code;
  return caller_.report(code, b);
}

bool OxRssRetriever::stop(unsigned code, long b) {
  retrievingNow_ = 0;
  setResultIndicator(PHONE_RECV_ERROR);
  report(code, b);
  return false;
}

// The account's own carrier and automatic-retrieval switches count as the W-account and
// periodic modes.
void OxRssRetriever::setResultIndicator(unsigned value) {
  oxm::transport::setResultIndicator(value, diskFull_, wAccountMode_ || carrierAccount_, periodic_ || autoRetrieval_,
                                     caller_.get(), this);
}

bool OxRssRetriever::SetMyPhoneStatus(unsigned item, unsigned value) { return SetPhoneStatus(item, value) == 1; }

bool OxRssRetriever::SetPeriodicRetrAccountName() {
  if (accountName_.empty()) {
    SetOxMiddleError(OXMDL_ERR_ACC_NAME);
    return false;
  }
  return SetRegistryValue(HKEY_CURRENT_USER, oxm::kOxMailKey, L"PeriodicRetrAccount", accountName_);
}

// Every run releases its connection at the end, so a cancel needs no mark of its own here.
void OxRssRetriever::CancelRetrieveMessages() { cancel(); }

// ---- a run ----

bool OxRssRetriever::fillMailAccount(OxAccountInfoInterface* account, void* connection) {
  OxAccountInfoInterface::Attributes a;
  a.mask = OxAccountInfoInterface::Mask::bWaccount;
  MailAccount m;
  if (!oxm::transport::readRetrievalRecord(account, &a, &m)) return false;
  carrierAccount_ = a.bWaccount ? 1 : 0;
  autoRetrieval_ = a.bAutoMailRetrievingEnabled ? 1 : 0;
  setAccount(&m, connection);
  return true;
}

void OxRssRetriever::release(OxRASController* ras, const wchar_t* debugFormat) {
  forward(6, 3, 0);
  long status = 0;
  const bool released = ras->ReleaseConnection(&status);
  oxm::NKDbgPrintfW(debugFormat, status);
  if (!released) report(OXMDL_ERR_RTV_DISCONNECT, 0);
}

bool OxRssRetriever::run(OxAccountInfoInterface* account, OxRASController* ras, bool manual,
                         std::list<std::string>* downloads) {
  if (!ras || !ras->RegisterNotifyRas(&rasAdapter_)) {
    oxm::NKDbgPrintfW(L"Fail to register to RAS constructor of OxRssRetriever.\r\n");
    return false;
  }
  account_ = account;
  accountName_.clear();
  account->GetAccountName(&accountName_);
  retrievingNow_ = 1;
  forward(6, 1, 0);
  setRssMode(manual ? 1 : 0);
  long status = 0;
  void* connection = ras->EstablishConnection(&status, account);
  if (!connection) {
    oxm::NKDbgPrintfW(L"=== OxRssRetriever::RetrieveMessages - Fail to establish RAS. SetPhoneStatus(4)\r\n");
    setResultIndicator(PHONE_RECV_NO_CONNECTION);
    report(OXMDL_ERR_RTV_CONNECT, status);
    return false;
  }
  if (!fillMailAccount(account, connection)) {
    const unsigned code = GetOxMiddleError();
    long ignored = 0;
    ras->ReleaseConnection(&ignored);
    oxm::NKDbgPrintfW(L"=== Release Connection1c : Status = %ld\r\n", ignored);
    SetOxMiddleError(code);
    lastError_ = code;
    return false;
  }
  if (downloads) setDownloadList(*downloads);
  forward(6, 2, 0);
  classifier_.reset(new (std::nothrow) OxClassifier());
  if (!classifier_) {
    report(OXMDL_ERR_MEM_SHORTAGE, 0);
    release(ras, L"Release Connection : Status = %ld\r\n");
    return false;
  }
  if (downloads) {
    ReGet();
  } else {
    GetRDF();
  }
  uidListOut_.clear();
  getUidlList(uidListOut_);
  if (!account->SaveUIDL(uidListOut_)) report(GetOxMiddleError(), 0);
  classifier_.reset();
  oxm::NKDbgPrintfW(L"=== Retrieve Messages, Finish (status:[%d] ===\r\n", static_cast<int>(retrievingNow_));
  if (receivedCount_ > 0 && !downloads) {
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, 1);
    if (!errorSeen_) setResultIndicator(PHONE_RECV_FINISHED);
  }
  return true;
}

void OxRssRetriever::endRun(bool ran) {
  if (ran) forward(3, static_cast<long>(receivedCount_), 0);
  if (lastError_ != 0) oxm::NKDbgPrintfW(L"  Error Occured Code:[%08x]\r\n", lastError_);
  receivedCount_ = 0;
  diskFull_ = 0;
  errorSeen_ = 0;
  selected_ = 0;
  retrievingNow_ = 0;
  uidMap_.clear();
  account_ = nullptr;
}

bool OxRssRetriever::haveAccount(OxAccountInfoInterface* account) {
  if (!account) report(OXMDL_ERR_RTV_NO_ACCOUNT, 0);
  return account != nullptr;
}

bool OxRssRetriever::runWhole(OxAccountInfoInterface* account, OxRASController* ras, bool manual,
                              std::list<std::string>* downloads, const wchar_t* releaseFormat) {
  const bool ran = run(account, ras, manual, downloads);
  if (ran) release(ras, releaseFormat);
  if (ras) ras->RegisterNotifyRas(nullptr);
  const bool result = ran && lastError_ == 0 && (!downloads || receivedCount_ == downloads->size());
  endRun(ran);
  return result;
}

bool OxRssRetriever::RetrieveMessages(OxAccountInfoInterface* account, OxRASController* ras, bool manual) {
  oxm::NKDbgPrintfW(L"********** Retrieve Messages, Start **********\r\n");
  lastError_ = 0;
  if (!haveAccount(account)) return false;
  return runWhole(account, ras, manual, nullptr, L"Release Connection3 : Status = %ld\r\n");
}

bool OxRssRetriever::RetrieveSelectedMessages(const std::list<unsigned long>& messageIds,
                                              OxAccountInfoInterface* account, OxRASController* ras, bool manual) {
  oxm::NKDbgPrintfW(L"=== Retrieve Messages(S), Start ===\r\n");
  lastError_ = 0;
  if (!haveAccount(account)) return false;
  std::list<std::string> downloads;
  if (!oxm::transport::mapSelectedMessages(messageIds, account, &uidMap_, &downloads)) {
    const unsigned code = GetOxMiddleError();
    uidMap_.clear();
    SetOxMiddleError(code);
    return false;
  }
  selected_ = 1;
  return runWhole(account, ras, manual, &downloads, L"Release Connection3s : Status = %ld\r\n");
}

bool OxRssRetriever::ClearMessagesOnPopServer(OxAccountInfoInterface* account, OxRASController* ras, bool manual) {
  lastError_ = 0;
  if (!haveAccount(account)) return false;
  return runWhole(account, ras, manual, nullptr, L"Release Connection3c : Status = %ld\r\n");
}

// ---- the client's events ----

bool OxRssRetriever::OnReceiveMessage(int kind, long a, long b) {
  if (!account_) return false;
  switch (kind) {
    case 0:
      clearServerFolders();
      return true;
    case 1:
    case 2:
      return onMessage(kind, a, b);
    case 3:
      return onReGetText();
    case 4:
      return onError(a, b);
    default:
      return true;
  }
}

bool OxRssRetriever::OnRASReceiveMessage(unsigned int kind, long a, long) {
  if (const long phase = oxm::transport::connectionPhase(kind, a)) forward(6, phase, 0);
  return true;
}

// The feed account "Server" keeps the previous run's news in the sub-folders of its receive
// tray; they go before the new news arrive. Any step that fails ends the clean-up quietly.
void OxRssRetriever::clearServerFolders() {
  std::unique_ptr<OxAccountInfoInterface> server(
      OxAccountInfoInterface::OpenAccountInfo(oxm::kFeedAccountName, oxm::kRivuletKey));
  if (!server) return;
  std::unique_ptr<OxStorageInterface> storage(server->OpenStorage());
  OxAccountInfoInterface::Attributes a;
  a.mask = OxAccountInfoInterface::Mask::ulJusinTrayID;
  if (!storage || !server->GetAccountInfoAttributes(&a)) return;
  std::unique_ptr<OxFolderInterface> tray(storage->OpenFolder(a.ulJusinTrayID));
  std::vector<unsigned long> children;
  if (!tray || !tray->GetFolderIds(&children)) return;
  for (unsigned long child : children) {
    if (child > kFolderIdLimit) continue;
    std::unique_ptr<OxFolderInterface> folder(tray->OpenFolder(child));
    std::vector<unsigned long> messages;
    if (!folder || !folder->GetMessageIds(&messages)) return;
    if (!messages.empty() && !folder->RemoveMessage(messages)) return;
  }
}

bool OxRssRetriever::onMessage(int kind, long a, long b) {
  std::string text, uid;
  getData(&text, &uid);
  if (text.empty()) return stop(OXMDL_ERR_RTV_EMPTY_MESSAGE, 0);
  if (uid.empty()) return stop(OXMDL_ERR_RTV_NO_UID, 0);
  auto known = uidMap_.find(uid);
  bool saved;
  if (known != uidMap_.end()) {
    if (kind == 2) {
      SetOxMiddleError(OXMDL_ERR_RTV_UID_PENDING);
      report(OXMDL_ERR_RTV_NO_UID, b);
      return true;
    }
    diskFull_ = 0;
    unsigned writeCode = 0;
    saved = oxm::transport::replaceStoredMessage(account_, known->second.messageId, text, &writeCode);
    if (!saved && oxm::transport::storageFullClass(writeCode)) {
      setResultIndicator(PHONE_RECV_STORAGE_FULL);
      diskFull_ = 1;
      SetOxMiddleError(writeCode);
    }
  } else {
    saved = SaveMessage(text, uid, kind == 2);
  }
  if (!saved) return stop(GetOxMiddleError(), 0);
  if (!selected_) account_->SaveLastUID(uid);
  ++receivedCount_;
  return forward(kind == 1 ? 0 : 1, a, b);
}

bool OxRssRetriever::onReGetText() {
  std::string text, uid;
  getData(nullptr, &uid);
  auto known = uidMap_.find(uid);
  if (known == uidMap_.end()) {
    SetOxMiddleError(OXMDL_ERR_RTV_UID_UNKNOWN);
    return true;
  }
  std::unique_ptr<OxStorageInterface> storage(account_->OpenStorage());
  if (!storage) return false;
  std::unique_ptr<OxMessageInterface> message(storage->OpenMessage(known->second.messageId));
  if (message && message->Read(&text)) setRawMailData(text);
  return true;
}

bool OxRssRetriever::onError(long code, long b) {
  errorSeen_ = 1;
  retrievingNow_ = 0;
  const unsigned value = static_cast<unsigned>(code);
  if (value == 0) {
    oxm::NKDbgPrintfW(L"=== MSG_RssErrorOccured : POP_OK\r\n");
  } else {
    setResultIndicator(value == POP_FILE_FULL_ERR ? PHONE_RECV_STORAGE_FULL : PHONE_RECV_ERROR);
  }
  SetOxMiddleError(value);
  lastError_ = value;
  forward(2, code, b);
  return true;
}

bool OxRssRetriever::SaveMessage(std::string& text, const std::string& uid, bool partial) {
  diskFull_ = 0;
  const bool saved = classifier_->SaveToFolder(text, uid, partial, account_);
  retrievingNow_ = saved ? 1 : 0;
  if (saved) return true;
  const unsigned code = GetOxMiddleError();
  if (oxm::transport::storageFullClass(code)) {
    oxm::NKDbgPrintfW(L"OxRssRetriever::SaveMessages() --- Disk Full Err\r\n");
    setResultIndicator(PHONE_RECV_STORAGE_FULL);
    diskFull_ = 1;
  }
  oxm::NKDbgPrintfW(L"OxRssRetriever::SaveMessage() --- result is Fail.\r\n");
  SetOxMiddleError(code);
  return false;
}
