// The phone-status calls over "TmPhoneStatus.dll".
#include "platform/debug.h"
#include "platform/dynlib.h"
#include "transport/periodic.h"

namespace {

using SetStatus = int (*)(unsigned, unsigned);
using GetStatus = unsigned (*)(unsigned);
using SetStatusStr = int (*)(unsigned, wchar_t*);
using GetStatusStr = unsigned (*)(unsigned, wchar_t*);

oxm::HMODULE phoneStatusModule = nullptr;

// The entry point, loading the library first when needed; null when either is missing.
template <class Fn>
Fn entry(const wchar_t* name) {
  LoadPhoneStatusDLL();
  if (!phoneStatusModule) return nullptr;
  return reinterpret_cast<Fn>(oxm::GetProcAddressW(phoneStatusModule, name));
}

}  // namespace

void LoadPhoneStatusDLL() {
  if (phoneStatusModule) return;
  oxm::NKDbgPrintfW(L"LoadLibrary(PHONESTATUS_DLL)\r\n");
  phoneStatusModule = oxm::LoadLibraryW(L"TmPhoneStatus.dll");
}

void FreePhoneStatusDLL() {
  if (!phoneStatusModule) return;
  oxm::NKDbgPrintfW(L"FreeLibrary(PHONESTATUS_DLL)\r\n");
  oxm::FreeLibrary(phoneStatusModule);
  phoneStatusModule = nullptr;
}

int SetPhoneStatus(unsigned item, unsigned value) {
  auto fn = entry<SetStatus>(L"SetPhoneStatus");
  return fn ? fn(item, value) : 0;
}

unsigned GetPhoneStatus(unsigned item) {
  auto fn = entry<GetStatus>(L"GetPhoneStatus");
  return fn ? fn(item) : 0xFFFFFFFFu;
}

int SetPhoneStatus(unsigned item, wchar_t* text) {
  auto fn = entry<SetStatusStr>(L"SetPhoneStatusStr");
  return fn ? fn(item, text) : 0;
}

unsigned GetPhoneStatus(unsigned item, wchar_t* text) {
  auto fn = entry<GetStatusStr>(L"GetPhoneStatusStr");
  return fn ? fn(item, text) : 0;
}
