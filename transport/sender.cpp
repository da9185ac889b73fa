#include "transport/sender.h"

#include <new>

#include "accounts/account_info.h"
#include "accounts/classifier.h"
#include "accounts/new_message.h"
#include "accounts/old_messages.h"
#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/message_maker.h"
#include "store/storage_interface.h"
#include "transport/account_record.h"
#include "transport/dotstuff.h"
#include "transport/listener.h"
#include "transport/ras_controller.h"

namespace {

using AccountMask = OxAccountInfoInterface::Mask;
// The account keys the sender reads.
constexpr uint64_t kSenderMask =
    oxm::transport::kServerRecordMask | AccountMask::strPopPasswd | AccountMask::bUseSameUserPass |
    AccountMask::strSmtpUserName | AccountMask::strSmtpPasswd | AccountMask::bPopBeforeSmtpEnabled |
    AccountMask::bSmtpAuthEnabled | AccountMask::bRemoveOldMessageEnabled | AccountMask::ulSousinTrayID |
    AccountMask::ulSousinZumiTrayID | AccountMask::bSmtpSvrAuthEnabled;

// The mark of an accepted outbox message: this prefix and the Message-Id it went out with. The
// message file keeps at most 100 bytes of it, so marks are compared as stored.
constexpr char kAcceptedMark[] = "oxm-accepted ";
constexpr size_t kMarkLimit = 100;

std::string stored(const std::string& mark) { return mark.substr(0, kMarkLimit); }

}  // namespace

bool Sender::SmtpListener::notify(int kind, long a, long) {
  owner_->OnReceiveMessage(kind, a);
  return true;
}

Sender::Sender() { smtp_.registerNotifySmtp(&listener_); }

Sender::~Sender() = default;

bool Sender::RegisterNotify(Notify* notify) { return oxm::transport::registerListener(notify_, notify); }

bool Sender::notify(int kind, long a, long b) {
  if (kind == 2) errorCode_ = static_cast<unsigned>(a);
  if (!notify_) {
    if (kind == 0 || kind == 2) SetOxMiddleError(static_cast<unsigned>(a));
    return true;
  }
  return notify_->notify(kind, a, b);
}

void Sender::Clearparameter() {
  batch_.reset();
  storage_.reset();
  classifier_.reset();
  waitingIds_.clear();
  passedOver_.clear();
  currentId_ = 0;
  currentSize_ = 0;
  accepted_.reset();
  mail_ = RawEmail_S();
  text_.clear();
  remaining_ = 0;
  connectionOpen_ = stop_ = skipMessage_ = limited_ = false;
  fromWaitingFolder_ = smtpStarted_ = failed_ = answered_ = outboxDone_ = false;
  cancelRequested_ = false;
  errorCode_ = 0;
}

// ---- Preparing a run ----

// A folder's message list. A run that died in the middle of a store operation can leave a
// folder's list and header cache disagreeing: the store's recovery mends it, once, and the list
// is read again.
bool Sender::listMessages(unsigned long folderId, std::vector<unsigned long>* ids) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    ids->clear();
    {
      std::unique_ptr<OxFolderInterface> folder(storage_ ? storage_->OpenFolder(folderId) : nullptr);
      if (folder && folder->GetMessageIds(ids)) return true;
    }
    const unsigned code = GetOxMiddleError();
    if (attempt > 0 || !storage_ || !storage_->CheckWantRecoverEntry(code)) break;
    oxm::NKDbgPrintfW(L"Sender: folder %lu needs recovery (%08x)\r\n", folderId, code);
    if (!storage_->RecoverMessageEntry(folderId)) break;
  }
  return false;
}

unsigned Sender::SetMailAccountinfo(OxAccountInfoInterface* account, const std::wstring& password) {
  OxAccountInfoInterface::Attributes a;
  a.mask = kSenderMask;
  if (!account || !account->GetAccountInfoAttributes(&a)) return SENDER_ACCOUNTINFO_ERROR;
  MailAccount m = oxm::transport::serverRecord(a);
  if (a.bSmtpSvrAuthEnabled && a.bSmtpAuthEnabled) {
    m.smtpAuthMethod = SMTP_AUTH_FROM_EHLO;
    m.smtpUserName = a.bUseSameUserPass ? a.strPopUserName : a.strSmtpUserName;
    m.smtpPassword = !password.empty() ? password : (a.bUseSameUserPass ? a.strPopPasswd : a.strSmtpPasswd);
    if (forcedAuthMethod_ == SMTP_AUTH_CRAM_MD5 || forcedAuthMethod_ == SMTP_AUTH_LOGIN) m.smtpAuthMethod = forcedAuthMethod_;
  } else if (a.bSmtpSvrAuthEnabled && a.bPopBeforeSmtpEnabled) {
    m.smtpAuthMethod = SMTP_AUTH_POP_BEFORE_SMTP;
    m.popBeforeSmtp = 1;
    m.popPassword = !password.empty() ? password : a.strPopPasswd;
  }
  mailAccount_ = m;
  waitingFolder_ = a.ulSousinTrayID;
  sentFolder_ = a.ulSousinZumiTrayID;
  removeOld_ = a.bRemoveOldMessageEnabled;
  account_ = account;
  findAccepted();

  batch_.reset();
  storage_.reset(account->OpenStorage());
  if (!storage_) return SENDER_ACCOUNTINFO_ERROR;
  batch_.reset(new (std::nothrow) oxm::StoreBatch(storage_.get()));
  std::vector<unsigned long> sentIds;
  if (!listMessages(waitingFolder_, &waitingIds_) || !listMessages(sentFolder_, &sentIds)) return SENDER_ACCOUNTINFO_ERROR;
  removeUnwritten(sentIds);
  remaining_ = static_cast<long>(waitingIds_.size()) + 1;
  return OXMDL_ERR_NONE;
}

// A run that died while filing can leave sent copies without text (made, never written, and
// perhaps brought back by the store's recovery): they are no messages and go.
void Sender::removeUnwritten(const std::vector<unsigned long>& sentIds) {
  for (unsigned long id : sentIds) {
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_TEXT;
    {
      std::unique_ptr<OxMessageInterface> message(storage_->OpenMessage(id));
      if (!message || !message->GetAttributes(&a)) continue;
    }
    if (a.textSize == 0 && (a.text.empty() || a.text.rfind(kAcceptedMark, 0) == 0)) {
      oxm::NKDbgPrintfW(L"Sender: removing sent message %lu, left without text\r\n", id);
      storage_->RemoveMessage(id);
    }
  }
}

bool Sender::CheckFreeSpace() {
  if (!storage_) {
    notify(2, OXMDL_ERR_MEM_SHORTAGE);
    return false;
  }
  oxm::AccountOldMessageCheck check(account_, storage_.get());
  unsigned long missing = 0;
  if (!check.Check(static_cast<unsigned long>(remaining_ - 1), &missing)) {
    notify(2, SENDER_FREESPACE_ERROR, static_cast<long>(missing));
    return false;
  }
  return true;
}

bool Sender::CheckSavesentmaildata() {
  std::unique_ptr<OxFolderInterface> sent(storage_ ? storage_->OpenFolder(sentFolder_) : nullptr);
  if (!sent) {
    notify(2, OXMDL_ERR_MEM_SHORTAGE);
    return false;
  }
  const unsigned long room = sent->GetRemainMessageCount();
  if (room == 0) {
    notify(2, SENDER_SENTFOLDER_FULL_ERROR);
    return false;
  }
  if (static_cast<unsigned long>(remaining_ - 1) > room) {
    remaining_ = static_cast<long>(room) + 1;
    limited_ = true;
  }
  return true;
}

bool Sender::EstablishConnection() {
  notify(4, 1);
  long status = 0;
  connection_ = controller_ ? controller_->EstablishConnection(&status, account_) : nullptr;
  if (!connection_) {
    notify(2, SENDER_CONNECT_ERROR, status);
    return false;
  }
  notify(4, 2);
  return true;
}

bool Sender::DisconnectRas() {
  long status = 0;
  const bool released = !controller_ || controller_->ReleaseConnection(&status);
  connection_ = nullptr;
  if (controller_ == ownController_.get()) {
    controller_ = nullptr;
    ownController_.reset();
  }
  return released;
}

// ---- The message in hand ----

unsigned Sender::Makemaildata() {
  oxm::NKDbgPrintfW(L"----Sender::Makemaildata() TOP \r\n");
  while (true) {
    std::unique_ptr<OxFolderInterface> root(storage_ ? storage_->OpenRootFolder() : nullptr);
    if (!root || !listMessages(waitingFolder_, &waitingIds_)) return SENDER_STORAGEOPEN_ERROR;
    bool found = false;
    for (unsigned long id : waitingIds_) {
      if (!passedOver_.count(id)) {
        currentId_ = id;
        found = true;
        break;
      }
    }
    if (!found) return SENDER_STRAGEGETDATA_ERROR;
    std::string raw;
    OxMessageInterface::Attributes marks;
    marks.mask = OxMessageInterface::ATTR_TEXT;
    {
      std::unique_ptr<OxMessageInterface> message(storage_->OpenMessage(currentId_));
      if (!message || !message->Read(&raw)) return SENDER_STRAGEGETDATA_ERROR;
      message->GetAttributes(&marks);
    }
    if (raw.empty()) return SENDER_STRAGEGETDATA_ERROR;
    text_.clear();
    mail_ = RawEmail_S();
    mail_.data = &text_;
    EmlCompose codec;
    if (!codec.EmlToRawEmailS(&raw, &mail_) || text_.empty()) return SENDER_MAKEDATA_ERROR;
    currentSize_ = raw.size();
    if (marks.text.rfind(kAcceptedMark, 0) != 0 && !acceptedMark(currentId_, currentSize_, &marks.text)) {
      return OXMDL_ERR_NONE;
    }
    // Accepted by the server in a run that ended before the message left the outbox.
    const unsigned code = finishMarkedMessage(currentId_, marks.text);
    if (code != OXMDL_ERR_NONE) return code;
    if (--remaining_ <= 1) {
      outboxDone_ = true;  // no failure: the messages left were all sent before
      return SENDER_STRAGEGETDATA_ERROR;
    }
  }
}

// Files a message that an earlier run had sent and takes it out of the outbox. A copy of it in
// the sent folder carries its mark; only the newest copy can lack it (the run died before the
// copy's attributes): that one is matched by its Message-Id, or removed when it has no text.
unsigned Sender::finishMarkedMessage(unsigned long id, const std::string& mark) {
  bool filed = false;
  std::vector<unsigned long> ids;
  const bool listed = listMessages(sentFolder_, &ids);
  std::unique_ptr<OxFolderInterface> sent(storage_->OpenFolder(sentFolder_));
  if (sent && listed && !ids.empty()) {
    for (auto it = ids.rbegin(); it != ids.rend() && !filed; ++it) {
      OxMessageInterface::Attributes a;
      a.mask = OxMessageInterface::ATTR_TEXT;
      std::unique_ptr<OxMessageInterface> copy(storage_->OpenMessage(*it));
      filed = copy && copy->GetAttributes(&a) && a.text == stored(mark);
    }
    if (!filed) {
      std::string text;
      {
        std::unique_ptr<OxMessageInterface> newest(storage_->OpenMessage(ids.back()));
        if (newest) newest->Read(&text);
      }
      EmlCompose codec;
      std::string messageId;
      codec.GetHeaderField(text, "Message-Id", &messageId);
      if (text.empty()) {
        sent->RemoveMessage(ids.back());
        sent->FlushMessageHeader();
      } else {
        filed = stored(kAcceptedMark + messageId) == stored(mark);
      }
    }
  }
  sent.reset();
  if (!filed && Savesentmaildata(mark) != OXMDL_ERR_NONE) return SENDER_STRAGEGETDATA_ERROR;
  if (!removeFromOutbox(id)) return SENDER_STRAGEGETDATA_ERROR;
  notify(1, 0);
  return OXMDL_ERR_NONE;
}

bool Sender::CheckMakemaildata() {
  const unsigned code = Makemaildata();
  if (code == SENDER_MAKEDATA_ERROR) {
    notify(2, SENDER_MAKEDATA_ERROR);
    skipMessage_ = true;
    return false;
  }
  if (code == SENDER_STRAGEGETDATA_ERROR || code == SENDER_STORAGEOPEN_ERROR) {
    oxm::NKDbgPrintfW(code == SENDER_STRAGEGETDATA_ERROR
                          ? L"----Sender::CheckMakemaildata() ERROR::SENDER_STRAGEGETDATA_ERROR\r\n"
                          : L"----Sender::CheckMakemaildata() ERROR::SENDER_STORAGEOPEN_ERROR\r\n");
    if (remaining_ > 1) notify(2, OXMDL_ERR_MEM_SHORTAGE);
    return false;
  }
  skipMessage_ = false;
  return true;
}

// ---- Sending ----

// A message after an accepted one goes over the same conversation; the first one, and one
// after a refused message (whose conversation ended), starts a new one.
void Sender::SendMail() {
  answered_ = false;
  if (connectionOpen_ && smtp_.state() == oxm::SmtpState::Accepted) {
    smtp_.setMail(&mail_);
    smtp_.sendEmail();
  } else {
    smtp_.setAccount(&mailAccount_, connection_);
    smtp_.setMail(&mail_);
    smtpStarted_ = true;
    smtp_.newConnection();
  }
  // No SMTP server named: the client ends without a word.
  if (!answered_) OnReceiveMessage(1, SMTP_CONNECT_ERR);
}

void Sender::SendNG() {
  if (smtpStarted_) smtp_.quit();
  text_.clear();
  text_.shrink_to_fit();
}

void Sender::OnReceiveMessage(int kind, long a) {
  answered_ = true;
  if (kind == 0) {
    oxm::transport::dotUnstuff(text_);  // the client stuffed it in place for the wire
    std::string mark;
    const bool filed = (!fromWaitingFolder_ || markAccepted(&mark)) && Savesentmaildata(mark) == OXMDL_ERR_NONE &&
                       (!fromWaitingFolder_ || removeFromOutbox(currentId_));
    --remaining_;
    if (filed) {
      connectionOpen_ = true;
      notify(1, 0);
    } else {
      stop_ = true;
      failed_ = true;
      notify(2, OXMDL_ERR_MEM_SHORTAGE);
    }
    return;
  }
  const unsigned code = cancelRequested_ ? SENDER_CANCEL_ERROR : static_cast<unsigned>(a);
  notify(0, static_cast<long>(code));
  if (code == SMTP_ADDRESS_ERR) {
    skipMessage_ = true;
    if (fromWaitingFolder_) passedOver_.insert(currentId_);
  } else {
    stop_ = true;
  }
  --remaining_;
}

// The Message-Id the outbox message went out with is noted before any copy exists.
bool Sender::markAccepted(std::string* mark) {
  EmlCompose codec;
  std::string messageId;
  codec.GetHeaderField(text_, "Message-Id", &messageId);
  *mark = stored(kAcceptedMark + messageId);
  return noteAccepted(currentId_, currentSize_, *mark);
}

bool Sender::removeFromOutbox(unsigned long id) {
  std::unique_ptr<OxFolderInterface> waiting(storage_->OpenFolder(waitingFolder_));
  if (!waiting || !waiting->RemoveMessage(id) || !waiting->FlushMessageHeader()) return false;
  clearAccepted();
  return true;
}

// A new message of the sent folder with the text as sent, then the classifier's rules.
unsigned Sender::Savesentmaildata(const std::string& mark) {
  std::unique_ptr<OxFolderInterface> root(storage_ ? storage_->OpenRootFolder() : nullptr);
  std::unique_ptr<OxFolderInterface> sent(storage_ ? storage_->OpenFolder(sentFolder_) : nullptr);
  if (!root || !sent) return OXMDL_ERR_MEM_SHORTAGE;
  Email mail;
  EmlCompose codec;
  if (!codec.Decode(&mail, &text_)) {
    const unsigned code = GetOxMiddleError();
    return code ? code : OXMDL_ERR_MEM_SHORTAGE;
  }
  SYSTEMTIME now;
  oxm::GetLocalTime(&now);
  const unsigned int sentKind = 3;
  OxMessageInterface::Attributes a = oxm::newMessageAttributes(codec, mail, !mail.enclosures.empty(), sentKind, now);
  a.text = mark;
  // Made whole with its mark: a crash leaves the copy with it or no copy (finishMarkedMessage).
  unsigned long id = 0;
  if (!oxm::MessageMaker::create(*sent, a, text_, &id)) {
    const unsigned code = GetOxMiddleError();
    sent->FlushMessageHeader();
    return code ? code : OXMDL_ERR_MEM_SHORTAGE;
  }
  if (classifier_) classifier_->MoveToFolder(id, account_);
  return OXMDL_ERR_NONE;
}

// ---- The exported operations ----

int Sender::SendMultiMail(OxAccountInfoInterface* account, OxRASController* controller, std::wstring password) {
  Clearparameter();
  fromWaitingFolder_ = true;
  controller_ = controller;
  if (SetMailAccountinfo(account, password) != OXMDL_ERR_NONE) {
    notify(2, SENDER_ACCOUNTINFO_ERROR);
    Clearparameter();
    return 0;
  }
  if ((removeOld_ && !CheckFreeSpace()) || !CheckSavesentmaildata() || !EstablishConnection()) {
    Clearparameter();
    return 0;
  }
  classifier_ = std::make_unique<OxClassifier>();
  if (!CheckMakemaildata()) {
    const int result = outboxDone_ ? 1 : 0;
    SendNG();
    Clearparameter();
    return result;
  }
  if (cancelRequested_) {
    notify(2, SENDER_CANCEL_ERROR);
    SendNG();
    Clearparameter();
    return 0;
  }
  bool wentThrough = false, lastSkipped = false, endedEarly = false;
  while (true) {
    if (!skipMessage_) {
      SendMail();
      wentThrough = wentThrough || connectionOpen_;
      lastSkipped = skipMessage_;
    }
    if (remaining_ <= 1) break;
    if (stop_) {
      SendNG();
      endedEarly = true;
      break;
    }
    if (!CheckMakemaildata()) {
      if (outboxDone_) break;
      if (wentThrough) failed_ = true;
      SendNG();
      endedEarly = true;
      break;
    }
    if (cancelRequested_) {
      notify(2, SENDER_CANCEL_ERROR);
      SendNG();
      endedEarly = true;
      break;
    }
  }
  int result = 0;
  if (!endedEarly && !stop_) {
    notify(3, 0);
    smtp_.quit();
    if (limited_) {
      notify(2, SENDER_SENTFOLDER_FULL_ERROR);
    } else {
      result = lastSkipped && !wentThrough ? 0 : 1;
    }
  } else if (stop_ && !endedEarly) {
    SendNG();
  }
  Clearparameter();
  return result;
}

int Sender::SendOneMail(OxAccountInfoInterface* account, Email* mail, std::wstring password) {
  Clearparameter();
  if (!mail || SetMailAccountinfo(account, password) != OXMDL_ERR_NONE) {
    notify(2, SENDER_ACCOUNTINFO_ERROR);
    Clearparameter();
    return 0;
  }
  // Ready when the sent folder can take the message (the checks of SendMultiMail's steps 3, 4).
  remaining_ = 2;
  const bool ready = (!removeOld_ || CheckFreeSpace()) && CheckSavesentmaildata();
  if (!ready) {
    if (errorCode_ != SENDER_FREESPACE_ERROR) notify(2, SENDER_FREESPACE_ERROR);
    Clearparameter();
    return 0;
  }
  EmlCompose codec;
  mail_ = RawEmail_S();
  if (!codec.Encode(mail, &text_, &mail_)) {
    notify(2, SENDER_MAKEDATA_ERROR);
    Clearparameter();
    return 0;
  }
  mail_.data = &text_;
  ownController_ = std::make_unique<OxRASController>();
  controller_ = ownController_.get();
  if (!EstablishConnection()) {
    DisconnectRas();
    Clearparameter();
    return 0;
  }
  classifier_ = std::make_unique<OxClassifier>();
  SendMail();
  smtp_.quit();
  if (!DisconnectRas()) notify(2, SENDER_DISCONNECT_ERROR);
  const int result = stop_ || !connectionOpen_ ? 0 : 1;
  Clearparameter();
  return result;
}

int Sender::SendOneMail(OxAccountInfoInterface* account, RawEmail_S* mail) {
  Clearparameter();
  if (!mail || SetMailAccountinfo(account, L"") != OXMDL_ERR_NONE) {
    notify(2, SENDER_ACCOUNTINFO_ERROR);
    Clearparameter();
    return 0;
  }
  ownController_ = std::make_unique<OxRASController>();
  controller_ = ownController_.get();
  if (EstablishConnection()) {
    mail_.envelopeFrom = mail->envelopeFrom;
    mail_.recipients = mail->recipients;
    mail_.data = mail->data ? mail->data : &text_;
    classifier_ = std::make_unique<OxClassifier>();
    text_.swap(*mail_.data);  // filed from text_; handed back below
    mail_.data = &text_;
    SendMail();
    smtp_.quit();
    if (mail->data) text_.swap(*mail->data);
  }
  DisconnectRas();
  Clearparameter();
  return 0;
}

int Sender::Quit() {
  smtp_.quit();
  stop_ = true;
  return 1;
}

int Sender::Cancel() {
  cancelRequested_ = true;
  if (smtpStarted_) smtp_.cancel();
  return 1;
}
