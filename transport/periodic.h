// Retrieval without the user: the receive timer (a user notification that starts the timer
// program "\Windows\OxRecvTimer.exe -t" after some minutes), OxAutoRetriever (retrieves the W
// account at once) and the phone-status calls, which hand indicator values to the phone's
// status library "TmPhoneStatus.dll".
#pragma once

#include <memory>

class OxRASController;
class OxRetriever;

// Phone-status items the retrievers drive.
enum : unsigned {
  PHONE_ITEM_RECV_EMAIL = 10,      // 1: new messages arrived
  PHONE_ITEM_RECV_EMAIL_PDX = 13,  // result of a retrieval, below
};
// Values of PHONE_ITEM_RECV_EMAIL_PDX.
enum : unsigned {
  PHONE_RECV_FINISHED = 0,
  PHONE_RECV_ERROR = 1,
  PHONE_RECV_STORAGE_FULL = 2,
  PHONE_RECV_NOTHING_NEW = 3,
  PHONE_RECV_NO_CONNECTION = 4,
};

// The timer program and its argument, as the notification names them.
inline constexpr const wchar_t* kRecvTimerApplication = L"\\Windows\\OxRecvTimer.exe";
inline constexpr const wchar_t* kRecvTimerArguments = L"-t";

// Removes every receive-timer notification (recognised by its application path); when `enable`,
// sets one that fires `minutes` from the current local time. Returns 0, or 0x02002401 when the
// platform refuses the new notification (the old ones are gone then). Entries of other programs
// stay.
int SetRecvTimer(bool enable, int minutes);

// The status library is loaded on first use and stays loaded until FreePhoneStatusDLL. The handle
// is one process-wide value without a lock, as on the device: load it before threads race.
void LoadPhoneStatusDLL();
void FreePhoneStatusDLL();
// Without the library or its entry point: 0 from both SetPhoneStatus forms and from
// GetPhoneStatus(item, text), 0xFFFFFFFF from GetPhoneStatus(item). Nothing fails otherwise.
int SetPhoneStatus(unsigned item, unsigned value);
unsigned GetPhoneStatus(unsigned item);
int SetPhoneStatus(unsigned item, wchar_t* text);
unsigned GetPhoneStatus(unsigned item, wchar_t* text);

// Retrieves the W account (named in the system information) with the W-account indicators.
class OxAutoRetriever {
 public:
  OxAutoRetriever();
  ~OxAutoRetriever();
  OxAutoRetriever(const OxAutoRetriever&) = delete;
  OxAutoRetriever& operator=(const OxAutoRetriever&) = delete;

  // Reads the W account's name (a read failure keeps its code; an empty name:
  // OXMDL_ERR_AUTO_NO_WACCOUNT), opens that account (failure: false, the account code) and runs
  // RetrieveMessages on it with an empty password in W-account mode. The result is
  // RetrieveMessages'.
  bool StartWaiting(OxRASController* controller);
  // Cancels a retrieval under way (from another thread); always true.
  bool StopWaiting();

  OxRetriever& retriever() { return *retriever_; }

 private:
  std::unique_ptr<OxRetriever> retriever_;
};
