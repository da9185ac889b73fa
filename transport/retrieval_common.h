// What the mail retriever and the feed retriever share: the account record a retrieval fills,
// the map of local messages a selected retrieval replaces, the replacing itself, the storage-
// full class of codes, the phone's result indicator and the connection-event adapter.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "accounts/account_info.h"
#include "frame/oxerror.h"
#include "transport/account_record.h"
#include "transport/listener.h"
#include "transport/mail_account.h"
#include "transport/periodic.h"
#include "transport/ras_controller.h"

namespace oxm::transport {

// A local message to replace: its identifier and partial flag, by the UID (or feed identifier)
// kept in its text attribute.
struct MsgIdPartial {
  uint32_t messageId;
  uint8_t partial;
};
using MessageMap = std::map<std::string, MsgIdPartial>;

// The settings a retrieval reads: sender address, POP server, port, user, password, APOP,
// leaving, partial switch and lines, SMTP server, port, user and password, automatic
// retrieval, POP before SMTP with its latency, SMTP authentication, old-message removal.
inline constexpr uint64_t kRetrievalMask =
    kServerRecordMask | OxAccountInfoInterface::Mask::strPopPasswd |
    OxAccountInfoInterface::Mask::bMessageLeavingEnabled | OxAccountInfoInterface::Mask::bPartialRetrievingEnabled |
    OxAccountInfoInterface::Mask::uiPartialRetrievingLines | OxAccountInfoInterface::Mask::strSmtpUserName |
    OxAccountInfoInterface::Mask::strSmtpPasswd | OxAccountInfoInterface::Mask::bAutoMailRetrievingEnabled |
    OxAccountInfoInterface::Mask::bPopBeforeSmtpEnabled | OxAccountInfoInterface::Mask::bSmtpAuthEnabled |
    OxAccountInfoInterface::Mask::bRemoveOldMessageEnabled;

// Reads the account's retrieval settings into *a and fills *m from them, with the last UID and
// the UID list. False with the account's code when any of it cannot be read.
bool readRetrievalRecord(OxAccountInfoInterface* account, OxAccountInfoInterface::Attributes* a, MailAccount* m);

// For each message identifier in order: its text attribute (the UID) mapped to the identifier
// and appended to *downloads. A message that cannot be opened or read: false with its code;
// a UID met twice: OXMDL_ERR_RTV_UID_DUPLICATE. *map is cleared first.
bool mapSelectedMessages(const std::list<unsigned long>& messageIds, OxAccountInfoInterface* account,
                         MessageMap* map, std::list<std::string>* downloads);

// Replaces the text of the stored message in place and sets it unread, not partial, with the
// attachment flag of the decoded text. False with the last error; *writeCode gets the code of
// a failed write (0 otherwise), which the caller checks for the storage-full class.
bool replaceStoredMessage(OxAccountInfoInterface* account, uint32_t messageId, const std::string& text,
                          unsigned* writeCode);

// Codes of a full storage (0x02000201 - 0x020003FE).
inline bool storageFullClass(unsigned code) { return code >= 0x02000201 && code <= 0x020003FE; }

// The result indicator (PHONE_ITEM_RECV_EMAIL_PDX) applies to the carrier account always, and
// during periodic retrieval while the program is not on the screen (asked each time through
// the listener; without one it counts as on the screen). Error values are not set while the
// storage is full, so that "storage full" stays.
template <class Caller, class Owner>
void setResultIndicator(unsigned value, bool diskFull, bool always, bool periodic, Caller* caller, Owner* owner) {
  const bool errorValue = value == PHONE_RECV_ERROR || value == PHONE_RECV_NO_CONNECTION;
  if (errorValue && diskFull) return;
  bool applies = always;
  if (!applies && periodic) {
    bool active = true;
    if (caller && !caller->isActive(&active, owner)) active = true;
    applies = !active;
  }
  if (applies) SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, value);
}

// The caller's listener of a retriever, one at a time (a second: OXMDL_ERR_RTV_NOTIFY_BUSY).
// Errors go to it as notification `errorKind` (code, context), or to the library's last error
// when nobody listens.
template <class Notify>
class CallerLink {
 public:
  explicit CallerLink(unsigned errorKind) : errorKind_(errorKind) {}
  bool attach(Notify* notify) {
    if (registerListener(notify_, notify)) return true;
    SetOxMiddleError(OXMDL_ERR_RTV_NOTIFY_BUSY);
    return false;
  }
  bool forward(unsigned kind, long a, long b) { return notify_ ? notify_->notify(kind, a, b) : true; }
  bool report(unsigned code, long b) {
    if (!notify_) {
      SetOxMiddleError(code);
      return true;
    }
    return notify_->notify(errorKind_, static_cast<long>(code), b);
  }
  Notify* get() const { return notify_; }

 private:
  Notify* notify_ = nullptr;
  unsigned errorKind_;
};

// Forwards the controller's events to owner->OnRASReceiveMessage.
template <class Owner>
class RasAdapter : public OxRASController::NotifyRas {
 public:
  explicit RasAdapter(Owner* owner) : owner_(owner) {}
  bool notify(unsigned int kind, long a, long b) override { return owner_->OnRASReceiveMessage(kind, a, b); }

 private:
  Owner* owner_;
};

// The caller's connection phase for a controller event of kind 0 (a = 1 connecting, 2
// disconnecting, 3 connected): 1 connecting, 2 connected, 3 disconnecting; 0 for other events.
inline long connectionPhase(unsigned kind, long a) {
  if (kind != 0) return 0;
  return a == 1 ? 1 : a == 2 ? 3 : a == 3 ? 2 : 0;
}

}  // namespace oxm::transport
