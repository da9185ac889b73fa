// OxRetriever retrieves one POP3 account's mail into the account's storage. It is a PopClient and
// its own listener: it brings the data connection up through an OxRASController, fills the
// MailAccount record from the account's settings, runs the conversation, files each message
// through the classifier (or replaces the local message it completes), keeps LastUID.ini (at most
// once a second, once the messages it names are on the disk) and UID.list at the end, drives the
// phone's indicators and forwards progress to one caller-registered Notify.
//
// Notifications to the caller, notify(kind, a, b):
//   0 a new message was saved whole, 1 saved in part, 2 a header-only message was saved;
//   3 error (code, context); 4 retrieval finished (messages); 7 to fetch (count, bytes);
//   8 progress (bytes so far); 9 delete-selected finished (count); 10 before each message (1);
//   11 data-connection phase (1 connecting, 2 connected, 3 disconnecting; b 0).
// Without a registered Notify, an error code goes to the library's last error instead. All of it
// runs on the calling thread; CancelRetrieveMessages may come from another thread.
//
// A message that was stored just before the process died, before LastUID.ini recorded it, is not
// stored twice: each UID is noted in "RecvUID.dat" of the account directory before its save, the
// note is emptied once LastUID.ini names the messages, and the next retrieval looks the UIDs
// noted after the last UID up in the storage and moves the last UID past those it finds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "transport/pop_client.h"
#include "transport/ras_controller.h"
#include "transport/retrieval_common.h"

class OxAccountInfoInterface;
class OxClassifier;
class OxStorageInterface;
namespace oxm {
class File;
class StoreBatch;
}

class OxRetriever : public PopClient, private PopClient::NotifyPop {
 public:
  class Notify {
   public:
    virtual bool notify(unsigned int kind, long a, long b) = 0;
    // Whether the mail program is in the foreground; asked during periodic retrieval.
    virtual bool isActive(bool* active, OxRetriever* retriever) = 0;
    virtual ~Notify() = default;
  };

  OxRetriever();
  ~OxRetriever() override;

  // As registerNotifyPop: a second non-null object is refused with OXMDL_ERR_RTV_NOTIFY_BUSY.
  bool registerNotify(Notify* notify);

  // Retrieves the new messages (in part when the account says so). No account:
  // OXMDL_ERR_RTV_NO_ACCOUNT; no data connection: OXMDL_ERR_RTV_CONNECT (both as kind 3, or the
  // last error); the account's settings or UID files cannot be read: false with their code. A
  // non-empty `password` (system code page) replaces the stored one. True when the conversation
  // ran and reported no error other than OXMDL_ERR_RTV_NOTHING_NEW.
  bool RetrieveMessages(OxAccountInfoInterface* account, OxRASController* ras, std::string password);
  // Fetches the listed local messages (received in part or header only) whole again and replaces
  // them in place; LastUID.ini does not move. A message that cannot be read: false with its code;
  // two with the same UID: OXMDL_ERR_RTV_UID_DUPLICATE. True when the retrieval went through.
  bool RetrieveSelectedMessages(const std::list<unsigned long>& messageIds, OxAccountInfoInterface* account,
                                OxRASController* ras, std::string password);
  // Deletes from the server every message received before and empties UID.list.
  bool ClearMessagesOnPopServer(OxAccountInfoInterface* account, OxRASController* ras, std::string password);
  // One download of the URL *a to the device path *b (binary when `flag`) by a feed client, over
  // a connection of its own for the account: the client's result (OXMDL_ERR_NONE or its code),
  // or OXMDL_ERR_RSS_HTTP_RECEIVE (0x02002311) without an account, a connection or either text.
  int HttpReceive(OxAccountInfoInterface* account, std::wstring* a, std::wstring* b, bool flag);

  // From any thread: the conversation ends after the command in hand.
  void CancelRetrieveMessages();
  // The W account's mode: the result indicator is always driven.
  void SetWAccountMode() { wAccountMode_ = 1; }
  void CancelWAccountMode() { wAccountMode_ = 0; }
  // Periodic mode: the result indicator is driven while the mail program is in the background.
  void StartPeriodicRetr() { periodic_ = 1; }
  void FinishPeriodicRetr() { periodic_ = 0; }
  // SetPhoneStatus(item, value) == 1.
  bool SetMyPhoneStatus(unsigned item, unsigned value);
  // Writes the name of the account of the latest retrieval as "PeriodicRetrAccount" under
  // HKEY_CURRENT_USER "Software\Tamarin\OxMail". False before any retrieval (OXMDL_ERR_ACC_NAME)
  // or when the value cannot be written (OXMDL_ERR_REG_VALUE).
  bool SetPeriodicRetrAccountName();

 private:
  friend class oxm::transport::RasAdapter<OxRetriever>;

  // PopClient::NotifyPop: the client's events.
  bool notify(int kind, long a, long b) override { return OnReceiveMessage(kind, a, b); }
  // The next message is wanted unless the one in hand fills the old-message receive limit.
  bool expectsNext() const override { return receiveLimit_ == 0 || receivedCount_ + 1 < receiveLimit_; }
  bool OnReceiveMessage(int kind, long a, long b);
  bool OnRASReceiveMessage(unsigned int kind, long a, long b);

  bool onMessage(int kind);
  bool onError(long code, long b);
  bool onFinished(long count);
  bool onMailboxSize(long count, long size);
  bool onLimitReached(bool indicator);

  // Steps shared by the three retrievals: connection, account record, classifier,
  // conversation, UID list. False when it stopped before the conversation.
  bool converse(OxAccountInfoInterface* account, OxRASController* ras, const std::string& password, int mode,
                const std::list<std::string>* downloads);
  bool fillMailAccount(OxAccountInfoInterface* account, const std::string& password, void* connection,
                       int* mode);
  void release(OxRASController* ras, const wchar_t* debugFormat);
  void resetCounters();

  bool SaveMessage(std::string& text, const std::string& uid, bool partial);
  bool ReplaceMessage(const std::string& text, const std::string& uid);
  bool storeOrReplace(std::string& text, const std::string& uid, bool partial);
  bool commitReceived();
  void storageFull(unsigned code);

  // Sends an error to the caller (kind 3), or to the last error when nobody listens.
  bool report(unsigned code, long b);
  bool forward(unsigned kind, long a, long b);
  bool stop(unsigned code, long b);
  void setResultIndicator(unsigned value);

  // The UIDs in flight (see above).
  bool recoverInFlight();  // true when it moved the last UID
  void noteInFlight(const std::string& uid);
  bool openNotes();
  void clearInFlight();

  oxm::transport::CallerLink<Notify> caller_{3};
  oxm::transport::RasAdapter<OxRetriever> rasAdapter_{this};
  OxAccountInfoInterface* account_ = nullptr;  // borrowed for the duration of a call
  std::wstring accountName_;                   // of the latest retrieval
  std::unique_ptr<OxClassifier> classifier_;
  std::unique_ptr<OxStorageInterface> storage_;  // held open for the conversation
  std::unique_ptr<oxm::StoreBatch> batch_;       // the conversation's store work, on storage_
  oxm::transport::MessageMap uidMap_;
  std::list<std::wstring> uidListOut_;
  std::wstring inFlightPath_;
  std::unique_ptr<oxm::File> inFlight_;  // RecvUID.dat, open while a conversation notes UIDs in it
  size_t inFlightSize_ = 0;
  // The last UID stored and not yet written to LastUID.ini, and when the stored messages were
  // last committed.
  std::string pendingLastUid_;
  std::chrono::steady_clock::time_point committed_{};

  uint8_t retrievingNow_ = 0;
  uint8_t wAccountMode_ = 0;
  uint8_t autoRetrievalEnabled_ = 0;
  int retrievalKind_ = 0;  // 0 normal, 1 partial, 2 selected
  uint8_t periodic_ = 0;
  uint32_t receivedCount_ = 0;
  uint32_t receiveLimit_ = 0;
  uint32_t roomCount_ = 0;
  uint8_t diskFull_ = 0;
  uint8_t clearing_ = 0;
  int32_t completeCount_ = 0;
  uint8_t notStopped_ = 1;
  std::atomic<uint8_t> cancelled_{0};
  uint8_t errorSeen_ = 0;
  unsigned firstError_ = 0;  // the first error reported in this call
};
