// PopClient speaks POP3 (RFC 1939 with APOP, UIDL and TOP) to one account's server. It decides
// which messages on the server are new by comparing the server's UIDL list with what the
// account remembers, fetches them whole, in part or header only, may delete them, and reports
// every event to one registered NotifyPop object. It knows nothing of folders: the retriever
// (which derives from it) stores what it is handed.
//
// One conversation runs on the thread that calls newConnection. The blocking connect and each
// reply read run on a short-lived worker thread while the calling thread waits in one-second
// steps, watching cancel, abort and the data connection. cancel() and abort() may be called from
// any thread; every other member belongs to the conversation's thread.
//
// Errors travel as notification kind 3 with a POP_* code (or OXMDL_ERR_RAS_DISCONNECTED). With
// no notify object registered the code goes to the library's last error instead, set on the
// calling thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "transport/mail_account.h"
#include "transport/pop_state.h"

namespace oxm::transport {
enum class ReadStatus;
}

class PopClient {
 public:
  // The listener of a conversation. Kinds (a, b):
  //   0 message received whole, 1 received in part (partial mode, shorter than its LIST size),
  //   2 header only (TOP n 0 forced by size or memory): getMail gives the text; false stops.
  //   3 error, the conversation is over (code, 0).
  //   4 ended normally (messages handled, 0); 5 ended because a notification declined or there
  //   was nothing to do (handled, 0); 6 ended by cancel; 9 delete-selected mode ended (handled).
  //   7 mailbox size known (message count, total bytes): false stops.
  //   8 progress while reading (bytes received in this conversation, 0): the result is ignored.
  //   10 before each message is fetched (1, 0): false stops.
  class NotifyPop {
   public:
    virtual bool notify(int kind, long a, long b) = 0;
    // Whether, once the message in hand is taken, the next one will be wanted (kind 10 true).
    // While it says so, the client sends the next message's LIST before handing the message
    // over, so that the server answers while the message is stored. The wire is the same
    // unless a notification declines after all: then that LIST's reply is read before QUIT.
    virtual bool expectsNext() const { return true; }
    virtual ~NotifyPop() = default;
  };

  enum Mode : int {
    kModeNormal = 0,          // fetch all new messages whole
    kModePartial = 1,         // fetch new messages with TOP n partialLines
    kModeSelect = 2,          // fetch only the messages whose UIDs are in the download list
    kModeDeleteSelected = 3,  // delete the messages whose UIDs are in the delete list
    kModeClear = 4,           // delete every message received in earlier conversations
  };

  PopClient();
  virtual ~PopClient();
  PopClient(const PopClient&) = delete;
  PopClient& operator=(const PopClient&) = delete;

  // With none registered, registers `notify` (true). With one registered, null unregisters
  // (true) and any other object is refused (false).
  bool registerNotifyPop(NotifyPop* notify);
  // Copies the record (texts converted to the system code page; a text that cannot be
  // converted becomes empty), keeps the Connection Manager handle that is polled while waiting
  // (null: not polled), takes the UID list and the last UID (empty: none) as what is known,
  // clears the download list and switches on the secure socket for port 995. The registry value
  // "UseUidlListAlways" = 1 makes the UID list alone decide what is new.
  void setAccount(MailAccount* account, void* connection);
  // Mode for the next conversation (reset to 0 when a conversation ends with QUIT).
  void setPopMode(int mode);
  // The UIDs of mode 2 (download) or mode 3 (delete); each replaces the list with a copy.
  void setDownloadList(std::list<std::string>& uids);
  void setDeleteList(std::list<std::string>& uids);
  // Runs one whole conversation and returns when it is over. Without a server name, or in modes
  // 2 and 3 with an empty list, it returns at once without any notification; a conversation
  // already running on this object returns at once too.
  void newConnection();
  // From any thread: the conversation finishes the command in hand and ends with QUIT. During
  // login it sends QUIT at once and reports kind 3 (POP_CANCEL_ERR) only; later kind 3 then 6.
  void cancel();
  // From any thread: ends the conversation at once, closing the socket; no QUIT is sent. A
  // read in progress reports POP_TIMEOUT_ERR; otherwise the conversation ends silently.
  void abort();
  // Sends QUIT and reads its reply unless QUIT was sent already, the conversation is over or an
  // error closed the connection. For use after newConnection, not inside a notification.
  void quit();
  // The message just delivered and its UID; valid only inside the notification of kinds 0-2.
  void getMail(std::string* text, std::string* uid);
  // The UID of the last message on the server that was processed (UIDL n at the end).
  std::string getLastRecvUid();
  // Appends the UIDs known to be on the server at the end of the conversation.
  void getUidlList(std::list<std::wstring>& uids);

 protected:
  bool deletesFromServer() const { return deleteFromServer_; }

 private:
  struct Link;  // socket, reply reader, protocol log: the conversation's host resources
  using State = oxm::PopState;

  // The one place that changes the state; logs old and new by name.
  void setState(State next);
  bool notifyPop(int kind, long a, long b);

  unsigned connect();
  unsigned recvExec();
  unsigned recvData();
  unsigned checkResponse();
  unsigned sendData(std::string_view command, bool secret = false);
  unsigned sendQuitAfterError(unsigned code);
  void errorHandling(unsigned code);
  void closeSocket();
  unsigned incomingData();

  // One handler per state, named after it; each returns the pending error (0 for none).
  unsigned onGreeting();
  unsigned onUserSent();
  unsigned onPassSent();
  unsigned onUidlSent();
  unsigned onListNext();
  unsigned onListSize();
  unsigned onStatNext();
  unsigned onStatSent();
  unsigned onDeleReceived();
  unsigned onRetrNext();
  unsigned onListBeforeRetr();
  unsigned onRetrSent();
  unsigned onRetrReading();
  unsigned onRetrDone();
  unsigned onDeleNext();
  unsigned onDeleReply();
  unsigned onLastUidl();
  unsigned onLastUidlReply();
  unsigned onDeleSelected();
  unsigned onQuitNext();
  unsigned onQuitSent();
  unsigned onListAll();
  unsigned onListAllReply();

  void uidlCheck();
  void uidlCheckNormal();
  void uidlCheckNormalRecheck();
  void uidlCheckSelect();
  State afterCounting();
  bool messageAt(size_t index, std::string* number) const;
  void installWaitChecks();
  bool setCurrentUid(const std::string& number);
  bool skipsMessage(long size, bool* headerOnly) const;
  unsigned sendRetrieve(const std::string& number, bool headerOnly);
  unsigned sendNextEarly();
  unsigned readEarlyReply(bool message);
  unsigned statusCode(oxm::transport::ReadStatus status) const;
  unsigned sendNumbered(const char* verb, const std::string& number, const char* tail = "");
  void resetConversation();

  std::unique_ptr<Link> link_;
  NotifyPop* notify_ = nullptr;

  // The account, converted.
  std::string mailAddress_, userName_, password_, serverName_;
  uint32_t serverPort_ = 0;
  uint32_t partialLines_ = 0;
  bool deleteFromServer_ = false;
  bool apopEnabled_ = false;
  uint32_t reserved_ = 0;
  bool isSsl_ = false;
  void* connection_ = nullptr;

  // What is known and what is asked for.
  std::string lastUidForCheck_;
  std::vector<std::string> downloadList_;
  std::vector<std::string> knownUids_;       // the account's UID list

  // The conversation.
  std::vector<std::string> uidlLines_;
  std::unordered_map<std::string, size_t> uidlLineByNumber_;  // first line of each number
  std::vector<std::string> messageList_, messageUidList_;
  std::vector<std::string> receivedList_, latestList_;
  std::string currentUid_, lastRecvUid_;
  long newCount_ = 0, totalSize_ = 0, handledCount_ = 0, skippedCount_ = 0;
  size_t numberedCount_ = 0;  // without UIDL: messages 1..n from STAT
  size_t deleteIndex_ = 0, listIndex_ = 0;
  long conversationBytes_ = 0;
  long messageSize_ = 0;
  std::string currentNumber_, lastListedNumber_;
  // The next message's LIST, sent before this one was handed on; its reply when it was read
  // then but called for no RETR; the RETR (or TOP) sent after it, with what it was sent for.
  std::string earlyListed_, earlyReply_, earlyRetr_;
  long earlySize_ = 0;
  bool earlyHeaderOnly_ = false;
  bool running_ = false, expectReply_ = false, continueRead_ = false, replyRead_ = false;
  std::atomic<bool> cancelRequested_{false}, abortRequested_{false};
  bool uidlUnsupported_ = false, uidlFirstChunk_ = false, lastUidFound_ = false, noneKnown_ = false;
  bool headerOnly_ = false, skipped_ = false, deleteSelectedStarted_ = false;
  // Why the conversation ends: the work done, declined or nothing to do, or cancelled.
  enum class StopReason { Normal, Declined, Cancelled };
  StopReason stopReason_ = StopReason::Normal;
  State state_ = State::Finished;
  int mode_ = kModeNormal;
  std::string reply_;        // the reply to the current command
  std::string mailText_;     // the message handed to the notification
};
