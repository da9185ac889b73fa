#include "platform/event.h"
#include "platform/registry.h"
#include "transport/ras_controller.h"

int ExecDialing(int kind, const std::wstring& number) {
  using namespace oxm;
  static const wchar_t* const kPrefixes[] = {L"", L"184", L"186", L"B", L"B184", L"B186"};
  std::wstring dial = L"tel:";
  if (kind >= 0 && kind <= 5) dial += kPrefixes[kind] + number;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", &key) != ERROR_SUCCESS)
    return -1;
  bool written = RegSetString(key, L"tmcprog_cmd", L"-url") == ERROR_SUCCESS &&
                 RegSetString(key, L"tmcprog_opt", dial) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!written) return -1;
  HANDLE event = CreateEventW(false, false, L"tmcprog_telto");
  if (!event) return -1;
  SetEvent(event);
  CloseHandle(event);
  return 0;
}
