// The phone's data connection and the transport's helpers around it.
//
// OxRASController brings the data connection up for the network an account names and releases
// it, through the Connection Manager (emulated on the host, platform/connmgr.h), and reports
// the phases to one listener. certificateValidationCallback is the certificate hook of the
// secure sockets; ExecDialing hands a number to the phone's dialer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wintypes.h"

class OxAccountInfoInterface;

class OxRASController {
 public:
  // The listener: always kind 0, with a = 1 connecting, 2 disconnecting, 3 connected; b = 0.
  class NotifyRas {
   public:
    virtual bool notify(unsigned kind, long a, long b) = 0;

   protected:
    ~NotifyRas() = default;
  };

  OxRASController();
  // `account` is borrowed; EstablishConnection(status) uses it.
  explicit OxRASController(OxAccountInfoInterface* account);
  // Releases the connection.
  ~OxRASController();
  OxRASController(const OxRASController&) = delete;
  OxRASController& operator=(const OxRASController&) = delete;

  // Null unregisters; otherwise replaces the listener. Always true.
  bool RegisterNotifyRas(NotifyRas* listener);
  // The connection for the account's network: its handle, or null with *status set
  // (-1 no status, -2 failed, -3 disabled, -4 no path to the network, -5 other or the account
  // could not be read, -7 the status query failed).
  void* EstablishConnection(long* status, OxAccountInfoInterface* account);
  // The same for the account given at construction; true when connected.
  bool EstablishConnection(long* status);
  // *status = 0; true when there was nothing to release or the release succeeded.
  bool ReleaseConnection(long* status);

  // The open connection (the clients poll its status while they wait), null when none.
  void* connection() const { return connection_; }

 private:
  bool Connect(long* status, const GUID& guid);
  void notify(long phase);

  NotifyRas* listener_ = nullptr;
  OxAccountInfoInterface* account_ = nullptr;
  void* connection_ = nullptr;
  GUID networkGuid_ = {};
  uint8_t feedAccount_ = 0;
};

// The secure sockets' certificate hook (platform/net.h): 0 accepts. `hostName` is the server's
// name as a NUL-terminated narrow string. An issuer that could not be verified (flags bit 0) is
// put to the user, whose acceptance is remembered per host in the registry; otherwise the first
// certificate's subject common name must equal the host name (case aside) and the current time
// lie within its validity.
int certificateValidationCallback(unsigned long type, void* hostName, unsigned long chainLength,
                                  BLOB* chain, unsigned long flags);

// Dials through the phone's dialer: 0, or -1 when the dialer's registry key or event cannot be
// had. `kind` picks the prefix: 0 none, 1 "184", 2 "186", 3 "B", 4 "B184", 5 "B186".
int ExecDialing(int kind, const std::wstring& number);
