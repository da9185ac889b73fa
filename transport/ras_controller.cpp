#include "transport/ras_controller.h"

#include <cstring>

#include "accounts/account_info.h"
#include "accounts/device_setup.h"
#include "platform/connmgr.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/worker.h"
#include "transport/companion.h"

namespace {

using namespace oxm;

constexpr DWORD kEstablishTimeoutMs = 30000;
constexpr unsigned kWifiWaitSteps = 300;
constexpr DWORD kConnectionPriority = 0x200;

// The Connection Manager's failing status as the controller reports it.
long mappedStatus(DWORD status) {
  switch (status) {
    case 0: return -1;
    case CONNMGR_STATUS_CONNECTIONFAILED: return -2;
    case CONNMGR_STATUS_CONNECTIONDISABLED: return -3;
    case CONNMGR_STATUS_NOPATHTODESTINATION: return -4;
    default: return -5;
  }
}

// Bits of the platform's "Wifi" value.
constexpr DWORD kWifiOn = 0x1;
constexpr DWORD kWifiPowered = 0x2;
constexpr DWORD kWifiConnecting = 0x8;
constexpr DWORD kWifiConnected = 0x10;

// The Wi-Fi state from the platform's "Wifi" value: 0 none, 1 off, 2 not powered,
// 3 connecting, 4 connected, 5 anything else.
int wifiState() {
  HKEY key = nullptr;
  DWORD value = 0;
  bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\State\\Hardware", &key) == ERROR_SUCCESS;
  if (found) {
    found = RegQueryDword(key, L"Wifi", &value) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  NKDbgPrintfW(L"[WIFI]wifi status :[0x%08x]\r\n", value);
  if (!found) return 0;
  if (!(value & kWifiOn)) return 1;
  if (!(value & kWifiPowered)) return 2;
  if (value & kWifiConnecting) return 3;
  if (value & kWifiConnected) return 4;
  return 5;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

OxRASController::OxRASController() { NKDbgPrintfW(L"OxRASController::Create!!\r\n"); }

OxRASController::OxRASController(OxAccountInfoInterface* account) : account_(account) {}

OxRASController::~OxRASController() {
  long status = 0;
  ReleaseConnection(&status);
}

bool OxRASController::RegisterNotifyRas(NotifyRas* listener) {
  listener_ = listener;
  return true;
}

void OxRASController::notify(long phase) {
  if (listener_) listener_->notify(0, phase, 0);
}

void* OxRASController::EstablishConnection(long* status, OxAccountInfoInterface* account) {
  *status = 0;
  OxAccountInfoInterface::Attributes attrs;
  attrs.mask = OxAccountInfoInterface::Mask::strSenderAddress | OxAccountInfoInterface::Mask::guidNetworkSetting;
  if (!account || !account->GetAccountInfoAttributes(&attrs)) {
    // The account's network cannot be told: no connection rather than a guess.
    *status = -5;
    return nullptr;
  }
  feedAccount_ = attrs.strSenderAddress == kFeedSenderAddress ? 1 : 0;
  if (!connection_) {
    Connect(status, attrs.guidNetworkSetting);
  } else if (!sameGuid(networkGuid_, attrs.guidNetworkSetting)) {
    notify(2);
    if (ConnMgrReleaseConnection(connection_, 0) == S_OK) {
      connection_ = nullptr;
      notify(1);
      Connect(status, attrs.guidNetworkSetting);
      notify(3);
    } else {
      connection_ = nullptr;
    }
  }
  return connection_;
}

bool OxRASController::EstablishConnection(long* status) {
  *status = 0;
  if (!connection_) {
    OxAccountInfoInterface::Attributes attrs;
    attrs.mask = OxAccountInfoInterface::Mask::guidNetworkSetting;
    if (!account_ || !account_->GetAccountInfoAttributes(&attrs)) {
      *status = -5;
      return false;
    }
    Connect(status, attrs.guidNetworkSetting);
  }
  return connection_ != nullptr;
}

bool OxRASController::Connect(long* status, const GUID& guid) {
  if (!feedAccount_) setSecondRingForEmailApp(0);
  CONNMGR_CONNECTIONINFO info = {};
  info.cbSize = 64;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  info.dwFlags = 0;
  info.dwPriority = kConnectionPriority;
  info.bExclusive = 0;
  info.bDisabled = 0;
  info.guidDestNet = guid;
  HCONNECTION handle = nullptr;
  DWORD connStatus = 0;
  HRESULT ret = ConnMgrEstablishConnectionSync(&info, &handle, kEstablishTimeoutMs, &connStatus);
  if (ret != S_OK && wifiState() == 3) {
    // Wi-Fi is still coming up: wait for it once a second, then try once more.
    StepSleeper sleeper;
    for (unsigned i = 0; i < kWifiWaitSteps; ++i) {
      sleeper.sleep(1, nullptr);
      int state = wifiState();
      if (state == 3) continue;
      if (state == 4) ret = ConnMgrEstablishConnectionSync(&info, &handle, kEstablishTimeoutMs, &connStatus);
      break;
    }
  }
  bool connected = false;
  if (ret != S_OK) {
    NKDbgPrintfW(L"ConnMgrEstablishConnectionSync failed(ret=%08x, dwStatus=%08x)\r\n",
                 static_cast<unsigned>(ret), connStatus);
    *status = mappedStatus(connStatus);
  } else {
    NKDbgPrintfW(L"ConnMgrEstablishConnectionSync succeeded(dwStatus=%08x)\r\n", connStatus);
    DWORD now = 0;
    if (ConnMgrConnectionStatus(handle, &now) != S_OK) {
      *status = -7;
      ConnMgrReleaseConnection(handle, 0);
    } else if (now != CONNMGR_STATUS_CONNECTED) {
      *status = mappedStatus(now);
      ConnMgrReleaseConnection(handle, 0);
    } else {
      connection_ = handle;
      networkGuid_ = guid;
      connected = true;
    }
  }
  if (!connected && !feedAccount_) setSecondRingForEmailApp(1);
  return connected;
}

bool OxRASController::ReleaseConnection(long* status) {
  *status = 0;
  NKDbgPrintfW(L"OxRASController::ReleaseConnection()\r\n");
  if (!connection_) return true;
  DWORD now = 0;
  ConnMgrConnectionStatus(connection_, &now);
  bool released = ConnMgrReleaseConnection(connection_, 0) == S_OK;
  connection_ = nullptr;
  if (!feedAccount_) setSecondRingForEmailApp(1);
  return released;
}
