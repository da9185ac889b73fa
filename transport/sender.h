// Sender sends mail for one account: every message waiting in the account's outbox
// (SendMultiMail), or one message handed over by the caller (SendOneMail). It fills the
// MailAccount record from the account's settings, brings up the data connection, drives one
// SmtpClient over one connection for all messages, files each accepted message in the sent
// folder (where the classifier may move it on), removes it from the outbox, and reports to one
// registered Sender::Notify.
//
// Notifications (kind, a, b):
//   0 the SMTP client failed (SMTP code, or SENDER_CANCEL_ERROR after a cancel; 0)
//   1 one message sent and filed (0, 0)
//   2 the sender failed (code, detail: the places still missing for the free-space check)
//   3 the SMTP conversation is being closed (0, 0)
//   4 status changed (1 connecting, 2 connected; 0)
//
// A message the server refuses with SMTP_ADDRESS_ERR (MAIL FROM or a RCPT TO refused, or an
// address holding a line break) stays in the outbox and the run goes on with the next one on a
// new SMTP conversation; every later run tries it again first, as the address or the server may
// have changed. Any other SMTP failure ends the run; what was not sent stays in the outbox.
//
// Crash safety: a message the server accepted is noted with its mark, the Message-Id it went
// out with, before it is filed (the outbox identifier and the mark in the account's
// "Accepted.dat"; runs of older versions marked the outbox message itself). A run that finds
// such a note or mark (an earlier run died between the server's acceptance and the removal from
// the outbox) does not send the message again: it files it unless the newest message of the
// sent folder is that copy, and removes it from the outbox. A process killed after the server's
// acceptance and before the note sends that message twice: SMTP gives no way to ask the server
// whether it has a message.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/email.h"
#include "transport/mail_account.h"
#include "transport/smtp_client.h"

class OxAccountInfoInterface;
class OxRASController;
class OxStorageInterface;
namespace oxm {
class File;
class StoreBatch;
}
class OxClassifier;

class Sender {
 public:
  class Notify {
   public:
    virtual bool notify(int kind, long a, long b) = 0;
    virtual ~Notify() = default;
  };

  Sender();
  virtual ~Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // As SmtpClient::registerNotifySmtp: one listener; null unregisters.
  bool RegisterNotify(Notify* notify);
  // Sends the outbox (the folder "ulSousinTrayID" names). 1 when the run went to its end (even
  // with messages passed over, unless none went through), 0 otherwise; the reasons arrive as
  // notifications. `password` (when not empty) replaces the stored SMTP or POP password.
  // `controller` brings up the data connection; the caller releases it.
  int SendMultiMail(OxAccountInfoInterface* account, OxRASController* controller, std::wstring password);
  // Encodes and sends one message record and files it in the sent folder. It runs only when the
  // sent folder can take it: the free-space check of the old-message removal (when the account
  // has it on) passes and the sent folder has room; otherwise SENDER_FREESPACE_ERROR (kind 2)
  // and nothing is sent. 1 when sent, 0 otherwise.
  int SendOneMail(OxAccountInfoInterface* account, Email* mail, std::wstring password);
  // Sends an already encoded message (envelope and text) and files it; returns 0.
  int SendOneMail(OxAccountInfoInterface* account, RawEmail_S* mail);
  // Ends the SMTP conversation after the message in hand and stops the run; returns 1.
  int Quit();
  // From any thread: stops the run, ending the SMTP wait in hand; returns 1.
  int Cancel();

  // oxmail's choice of mechanism beyond what the account's settings can say: SMTP_AUTH_CRAM_MD5
  // or SMTP_AUTH_LOGIN replace the method the settings give (when it is SMTP_AUTH_FROM_EHLO,
  // chosen from the server's EHLO reply); SMTP_AUTH_NONE keeps the settings' method.
  void SetSmtpAuthMethod(unsigned method) { forcedAuthMethod_ = method; }

 private:
  class SmtpListener : public SmtpClient::NotifySmtp {
   public:
    explicit SmtpListener(Sender* owner) : owner_(owner) {}
    bool notify(int kind, long a, long b) override;

   private:
    Sender* owner_;
  };

  bool notify(int kind, long a, long b = 0);
  void Clearparameter();
  unsigned SetMailAccountinfo(OxAccountInfoInterface* account, const std::wstring& password);
  bool CheckFreeSpace();
  bool CheckSavesentmaildata();
  bool EstablishConnection();
  bool DisconnectRas();
  unsigned Makemaildata();
  bool CheckMakemaildata();
  unsigned finishMarkedMessage(unsigned long id, const std::string& mark);
  void SendMail();
  void SendNG();
  void OnReceiveMessage(int kind, long a);
  unsigned Savesentmaildata(const std::string& mark);
  bool markAccepted(std::string* mark);
  void findAccepted();
  bool noteAccepted(unsigned long id, size_t size, const std::string& mark);
  void clearAccepted();
  bool acceptedMark(unsigned long id, size_t size, std::string* mark) const;
  bool removeFromOutbox(unsigned long id);
  bool listMessages(unsigned long folderId, std::vector<unsigned long>* ids);
  void removeUnwritten(const std::vector<unsigned long>& sentIds);

  Notify* notify_ = nullptr;
  SmtpListener listener_{this};
  SmtpClient smtp_;

  OxAccountInfoInterface* account_ = nullptr;
  OxRASController* controller_ = nullptr;
  std::unique_ptr<OxRASController> ownController_;  // SendOneMail's
  void* connection_ = nullptr;
  MailAccount mailAccount_;
  unsigned long waitingFolder_ = 0;
  unsigned long sentFolder_ = 0;
  bool removeOld_ = false;
  unsigned forcedAuthMethod_ = 0;

  std::unique_ptr<OxStorageInterface> storage_;
  std::unique_ptr<oxm::StoreBatch> batch_;  // the run's store work, on storage_
  std::unique_ptr<OxClassifier> classifier_;
  std::vector<unsigned long> waitingIds_;
  std::set<unsigned long> passedOver_;  // refused in this run: taken no more
  unsigned long currentId_ = 0;         // the outbox message in hand (outbox runs only)
  size_t currentSize_ = 0;              // the size of its stored text
  std::unique_ptr<oxm::File> accepted_;  // the account's Accepted.dat, open for the run
  size_t acceptedSize_ = 0;
  RawEmail_S mail_;
  std::string text_;

  long remaining_ = 0;
  bool connectionOpen_ = false, stop_ = false, skipMessage_ = false, limited_ = false;
  bool fromWaitingFolder_ = false, smtpStarted_ = false, failed_ = false, answered_ = false;
  bool outboxDone_ = false;  // the outbox ended with messages an earlier run had sent
  std::atomic<bool> cancelRequested_{false};
  unsigned errorCode_ = 0;
};
