// OxRssRetriever brings one feed account's news into the account's storage. It is an RssClient
// and its own listener, the feed twin of OxRetriever: it brings the data connection up through
// an OxRASController, fills the MailAccount record from the account's settings (the feed URL in
// smtpServerName), runs one feed run, files each delivered message through the classifier (or
// replaces the message a re-get completes), keeps LastUID.ini after every message and UID.list
// at the end, drives the phone's indicators and reports to one caller-registered Notify.
//
// When the document has parsed, and before any new message is stored, every sub-folder of the
// receive tray of the feed account "Server" (under "Software\Tamarin\Rivulet") is emptied.
//
// Notifications to the caller, notify(kind, a, b):
//   0 a feed message was stored whole, 1 stored without its picture or contents (partial flag);
//   2 error (code, context); 3 run finished (messages); 6 data-connection phase
//   (1 connecting, 2 connected, 3 disconnecting; b 0).
// Without a registered Notify an error code goes to the library's last error instead. All of it
// runs on the calling thread; CancelRetrieveMessages may come from another thread.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "feeds/rss_client.h"
#include "transport/ras_controller.h"
#include "transport/retrieval_common.h"

class OxAccountInfoInterface;
class OxClassifier;

class OxRssRetriever : public RssClient, private RssClient::NotifyRss {
 public:
  class Notify {
   public:
    virtual bool notify(unsigned int kind, long a, long b) = 0;
    // Whether the program is in the foreground; asked during periodic retrieval.
    virtual bool isActive(bool* active, OxRssRetriever* retriever) = 0;
    virtual ~Notify() = default;
  };

  OxRssRetriever();
  ~OxRssRetriever() override;

  // As OxRetriever::registerNotify: a second non-null object is refused with
  // OXMDL_ERR_RTV_NOTIFY_BUSY.
  bool registerNotify(Notify* notify);

  // One feed run; `manual` asks the server for "?mode=manual" instead of "?mode=push". No
  // account: OXMDL_ERR_RTV_NO_ACCOUNT; no data connection: OXMDL_ERR_RTV_CONNECT; no classifier:
  // OXMDL_ERR_MEM_SHORTAGE (each as kind 2, or the last error). The account's settings or UID
  // files cannot be read: false with their code. True when the run reported no error.
  bool RetrieveMessages(OxAccountInfoInterface* account, OxRASController* ras, bool manual);
  // Gets the pictures and contents of the listed local messages again and replaces them in
  // place; LastUID.ini does not move. A message that cannot be read: false with its code; two
  // with the same identifier: OXMDL_ERR_RTV_UID_DUPLICATE. True when every message was replaced.
  bool RetrieveSelectedMessages(const std::list<unsigned long>& messageIds, OxAccountInfoInterface* account,
                                OxRASController* ras, bool manual);
  // Runs as RetrieveMessages and stores the identifier list afterwards.
  bool ClearMessagesOnPopServer(OxAccountInfoInterface* account, OxRASController* ras, bool manual);
  // From any thread: the run stops at its next check.
  void CancelRetrieveMessages();

  void SetWAccountMode() { wAccountMode_ = 1; }
  void CancelWAccountMode() { wAccountMode_ = 0; }
  void StartPeriodicRetr() { periodic_ = 1; }
  void FinishPeriodicRetr() { periodic_ = 0; }
  // SetPhoneStatus(item, value) == 1.
  bool SetMyPhoneStatus(unsigned item, unsigned value);
  // Writes the name of the account of the latest run as "PeriodicRetrAccount" under
  // HKEY_CURRENT_USER "Software\Tamarin\OxMail". Before any run: false, OXMDL_ERR_ACC_NAME.
  bool SetPeriodicRetrAccountName();

  // The code of the last failure of the latest run (OXMDL_ERR_NONE when none).
  unsigned lastRunError() const { return lastError_; }

 private:
  friend class oxm::transport::RasAdapter<OxRssRetriever>;

  // RssClient::NotifyRss: the client's events.
  bool notify(int kind, long first, long second) override { return OnReceiveMessage(kind, first, second); }
  bool OnReceiveMessage(int kind, long a, long b);
  bool OnRASReceiveMessage(unsigned int kind, long a, long b);

  void clearServerFolders();
  bool onMessage(int kind, long a, long b);
  bool onReGetText();
  bool onError(long code, long b);

  // Connection, account record, classifier, the client's run (ReGet of `downloads` when given),
  // identifier list. False when it stopped before the run (the connection released then).
  bool run(OxAccountInfoInterface* account, OxRASController* ras, bool manual, std::list<std::string>* downloads);
  bool fillMailAccount(OxAccountInfoInterface* account, void* connection);
  // False, with OXMDL_ERR_RTV_NO_ACCOUNT reported, for a null account.
  bool haveAccount(OxAccountInfoInterface* account);
  // run, then the release (logged with `releaseFormat`) and the end; true when the run reported
  // no error (and a re-get replaced every message).
  bool runWhole(OxAccountInfoInterface* account, OxRASController* ras, bool manual, std::list<std::string>* downloads,
                const wchar_t* releaseFormat);
  void release(OxRASController* ras, const wchar_t* debugFormat);
  // Reports the end (kind 3) of a run that got to the client, and resets the run's state.
  void endRun(bool ran);
  bool SaveMessage(std::string& text, const std::string& uid, bool partial);

  bool report(unsigned code, long b);
  bool forward(unsigned kind, long a, long b);
  bool stop(unsigned code, long b);
  void setResultIndicator(unsigned value);

  oxm::transport::CallerLink<Notify> caller_{2};
  oxm::transport::RasAdapter<OxRssRetriever> rasAdapter_{this};
  OxAccountInfoInterface* account_ = nullptr;  // borrowed for the duration of a call
  std::wstring accountName_;
  std::unique_ptr<OxClassifier> classifier_;
  oxm::transport::MessageMap uidMap_;
  std::list<std::wstring> uidListOut_;

  uint8_t retrievingNow_ = 0;
  uint8_t wAccountMode_ = 0;
  uint8_t periodic_ = 0;
  uint8_t carrierAccount_ = 0;  // from the account's settings
  uint8_t autoRetrieval_ = 0;   // from the account's settings
  uint8_t selected_ = 0;        // a re-get: LastUID.ini stays
  uint32_t receivedCount_ = 0;
  uint8_t diskFull_ = 0;
  uint8_t errorSeen_ = 0;
  unsigned lastError_ = 0;
};
