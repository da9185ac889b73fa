#include "transport/companion.h"

#include "platform/dynlib.h"

namespace oxm {

void setSecondRingForEmailApp(int flag) {
  HMODULE lib = LoadLibraryW(L"OxMailDynCall.dll");
  if (!lib) return;
  // The entry takes the flag and its result says nothing the library acts on.
  using Entry = int (*)(int);
  auto entry = reinterpret_cast<Entry>(GetProcAddressW(lib, L"PhonelibSet2ndRingFrEmailApp"));
  if (entry) entry(flag);
  FreeLibrary(lib);
}

}  // namespace oxm
