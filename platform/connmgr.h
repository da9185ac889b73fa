// The Connection Manager, emulated: the host has no data connection to bring up, so a
// connection is a handle that reports "connected" (0x10) until a test says otherwise.
//
// Test hooks (process-wide): force the status every query reports, make the establish call
// fail with a given status, or let the connection drop (status 0x11, disconnected) after a
// number of status queries, so that the transport's "connection lost while waiting" path runs.
#pragma once

#include <optional>

#include "platform/wintypes.h"

namespace oxm {

typedef void* HCONNECTION;
typedef LONG HRESULT;

enum : HRESULT { S_OK = 0, E_FAIL = static_cast<HRESULT>(0x80004005u) };

enum : DWORD {
  CONNMGR_STATUS_UNKNOWN = 0x00,
  CONNMGR_STATUS_CONNECTED = 0x10,
  CONNMGR_STATUS_DISCONNECTED = 0x20,
  CONNMGR_STATUS_CONNECTIONFAILED = 0x21,
  CONNMGR_STATUS_CONNECTIONCANCELED = 0x22,
  CONNMGR_STATUS_CONNECTIONDISABLED = 0x23,
  CONNMGR_STATUS_NOPATHTODESTINATION = 0x24,
};

enum : DWORD { CONNMGR_PARAM_GUIDDESTNET = 0x1 };

// The connection request as the system takes it (size 64 on the device).
struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  void* hWnd;
  UINT uMsg;
  ULONG_PTR lParam;
  uint32_t ulMaxCost;
  uint32_t ulMinRcvBw;
  uint32_t ulMaxConnLatency;
};

// Establishes a connection and waits (at most timeoutMs) until it is up: S_OK with a handle
// and the status, or E_FAIL with the failing status and no handle.
HRESULT ConnMgrEstablishConnectionSync(const CONNMGR_CONNECTIONINFO* info, HCONNECTION* connection,
                                       DWORD timeoutMs, DWORD* status);
// E_FAIL for an unknown (already released) handle.
HRESULT ConnMgrConnectionStatus(HCONNECTION connection, DWORD* status);
HRESULT ConnMgrReleaseConnection(HCONNECTION connection, LONG cache);

namespace connmgr {

// Every query reports this status (nullopt: the connection's own).
void forceStatus(std::optional<DWORD> status);
// The next `times` establish calls fail with this status (times < 0: all of them).
void failEstablish(DWORD status, int times = 1);
// After `queries` more successful status queries every connection reports disconnected.
void dropAfterQueries(long queries);
// The next `times` status queries fail (E_FAIL) as for an unknown handle.
void failQueries(int times);
// Clears the hooks; open connections stay.
void reset();
// Connections established and not yet released, the guid of the latest establish call, and the
// counts of status queries and establish calls since the last reset.
int openConnections();
GUID lastDestination();
long statusQueries();
long establishCalls();

}  // namespace connmgr

}  // namespace oxm
