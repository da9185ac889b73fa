// A phone-status library for the tests, named like the phone's: it keeps the values it is given
// and, when OXM_PHONE_STATUS_LOG names a file, appends "item value" lines to it so that a test
// can see what another process set.
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

unsigned values[32];
wchar_t texts[32][64];

void logLine(unsigned item, unsigned value) {
  const char* path = std::getenv("OXM_PHONE_STATUS_LOG");
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%u %u\n", item, value);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int SetPhoneStatus(unsigned item, unsigned value) {
  if (item >= 32) return 0;
  values[item] = value;
  logLine(item, value);
  return 1;
}

extern "C" unsigned GetPhoneStatus(unsigned item) { return item < 32 ? values[item] : 0xFFFFFFFFu; }

extern "C" int SetPhoneStatusStr(unsigned item, wchar_t* text) {
  if (item >= 32 || !text) return 0;
  std::wcsncpy(texts[item], text, 63);
  return 1;
}

extern "C" unsigned GetPhoneStatusStr(unsigned item, wchar_t* text) {
  if (item >= 32 || !text) return 0;
  std::wcscpy(text, texts[item]);
  return static_cast<unsigned>(std::wcslen(text));
}
