// SmtpClient delivers messages to one account's SMTP server (RFC 5321 with AUTH LOGIN, AUTH
// CRAM-MD5 and STARTTLS, or TLS from the first byte on port 465). It may first log in to the
// account's POP3 server (POP before SMTP) and wait the configured time. It sends one message,
// then stays connected so that the next one (sendEmail) goes over the same connection, and
// reports each result to one registered NotifySmtp.
//
// A conversation runs on the thread that calls newConnection / sendEmail / quit. The blocking
// connect, each reply read and each 32 KB piece of the text run on a short-lived worker thread
// while the calling thread waits in one-second steps, watching cancel and the data connection.
// cancel() may be called from any thread.
//
// Results: kind 0 (0, 0) the message was accepted; kind 1 (code, 0) it was not, and the
// conversation is over (the socket closed) unless the code is SMTP_SEQUENCE_ERR of a sendEmail in
// the wrong state. Codes: SMTP_* and OXMDL_ERR_RAS_DISCONNECTED. With no listener registered the
// code goes to the library's last error instead.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "codec/email.h"
#include "transport/mail_account.h"
#include "transport/smtp_state.h"

class ProtocolLog;
namespace oxm {
class StepSleeper;
}  // namespace oxm

class SmtpClient {
 public:
  class NotifySmtp {
   public:
    virtual bool notify(int kind, long a, long b) = 0;
    virtual ~NotifySmtp() = default;
  };

  SmtpClient();
  virtual ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // With none registered, registers `notify` (true). With one registered, null unregisters
  // (true) and any other object is refused (false).
  bool registerNotifySmtp(NotifySmtp* notify);
  // Copies the record, its texts converted to the system code page (a text that is empty, or
  // one NUL, or cannot be converted, stays empty). A POP-before-SMTP wait above 300 s becomes
  // 60 s. Port 465 switches on TLS from the first byte, port 587 STARTTLS. `connection` is the
  // Connection Manager handle polled while waiting (null: not polled).
  void setAccount(MailAccount* account, void* connection);
  // The envelope and text of the next message. The text (null: empty) is borrowed, not
  // copied: it is dot-stuffed here, in place, and must live until the message is answered.
  void setMail(RawEmail_S* mail);
  // Connects (after the POP login and wait when the method is POP before SMTP) and sends the
  // message set by setMail; returns when it was accepted or failed. Does nothing while a
  // conversation is open; without an SMTP server name it only sets the state to Closed.
  void newConnection();
  // The next message (after another setMail) on the open connection; in any state but
  // Accepted it reports SMTP_SEQUENCE_ERR and changes nothing.
  void sendEmail();
  // After an accepted message: sends "QUIT ", reads its reply and closes the connection.
  void quit();
  // From any thread. While the state is Accepted, nothing; otherwise the wait, read or send in
  // hand ends and the conversation reports SMTP_CANCEL_ERR.
  void cancel();

  oxm::SmtpState state() const { return state_; }

 private:
  struct Link;  // socket and reply reader of one connection
  using State = oxm::SmtpState;

  // The one place that changes the state; logs old and new by name.
  void setState(State next);
  void notifySmtp(int kind, long a);

  void startSend();
  unsigned openLink(std::unique_ptr<Link>* link, const std::string& host, unsigned port, bool secure,
                    unsigned connectError);
  void closeLinks();
  unsigned popLogin();
  void sendExec();
  unsigned readReply(Link& link);
  unsigned sendCommand(Link& link, std::string_view command, bool secret = false);
  unsigned sendCommand(std::string_view command, bool secret = false);
  unsigned sendText();
  unsigned sendMailFrom();
  unsigned sendRecipient();
  void errorHandling(unsigned code);
  unsigned dispatch();

  // One handler per state, named after it; each returns the pending error (0 for none).
  unsigned onGreeting();
  unsigned onMailFromNext();
  unsigned onMailFromSent();
  unsigned onRcptSent();
  unsigned onDataNext();
  unsigned onDataSent();
  unsigned onClosed();
  unsigned onAccepted();
  unsigned onAccepted334();
  unsigned onEhloSent();
  unsigned onCramSent();
  unsigned onCramAnswered();
  unsigned onLoginSent();
  unsigned onUserSent();
  unsigned onPasswordSent();
  unsigned onAuthAbandoned();
  unsigned onPopLogin();
  unsigned onPopApop();
  unsigned onPopClosing();
  unsigned onTlsDone();
  unsigned onTlsEhloSent();
  unsigned onStartTlsSent();
  unsigned onTlsHandshake();
  // Shared steps of the handlers.
  unsigned greet();
  unsigned chooseAuth();
  unsigned authFinished();

  NotifySmtp* notify_ = nullptr;
  std::unique_ptr<ProtocolLog> log_;
  std::unique_ptr<oxm::StepSleeper> sleeper_;

  // The account, in the system code page.
  std::string mailAddress_, popUserName_, popPassword_, popServerName_, smtpServerName_;
  unsigned popServerPort_ = 0, smtpServerPort_ = 0;
  bool deleteFromServer_ = false, popBeforeSmtp_ = false, apopEnabled_ = false;
  unsigned smtpAuthMethod_ = 0;
  std::string smtpUserName_, smtpPassword_;
  unsigned waitSeconds_ = 0;
  enum class SecureMode { Plain, ImplicitTls, StartTls };
  SecureMode secureMode_ = SecureMode::Plain;
  void* connection_ = nullptr;

  // The message in hand.
  std::string envelopeFrom_;
  std::list<std::string> recipients_;
  std::list<std::string>::const_iterator nextRecipient_;
  std::string* text_ = nullptr;

  unsigned authCaps_ = 0;
  std::atomic<State> state_{State::Greeting};
  std::atomic<bool> cancelRequested_{false};
  bool continueRead_ = false;  // the reply in reply_ is not complete: read on into it
  bool started_ = false;       // a conversation is open
  bool popLoginDone_ = false;
  bool tlsTried_ = false;      // the STARTTLS exchange ran on this connection
  bool finished_ = false;      // the send loop's work is done (message accepted)
  bool popDone_ = false;       // the POP login is over
  int popStep_ = 0;            // replies read in the POP login so far
  std::string reply_;
  std::string last334_;        // the "334" reply that answered a message's text

  std::mutex linkLock_;        // cancel() reaches the links from another thread
  std::unique_ptr<Link> link_;     // the SMTP connection
  std::unique_ptr<Link> popLink_;  // the POP connection of POP before SMTP
  Link* current_ = nullptr;        // the link whose reply is in reply_
};
