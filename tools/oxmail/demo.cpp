// `oxmail demo`: what the library can do so far, in a fresh temporary device root.
#include <cstdio>
#include <list>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"

namespace oxmail {

namespace {

const wchar_t* const kOxMailKey = L"Software\\Tamarin\\OxMail";
const wchar_t* const kDataPath = L"\\Application Data\\OxMail\\";
const std::wstring kSettings = std::wstring(kDataPath) + L"Demo\\AccountInfo.ini";

void heading(const char* text) { std::printf("\n== %s\n", text); }

bool failed(const char* what) {
  std::fprintf(stderr, "oxmail: %s failed: %s\n", what, describe(GetOxMiddleError()).c_str());
  return false;
}

// The file's bytes a line at a time (lines end in CR LF, 0d 00 0a 00), the first bytes of each.
void dumpLines(const std::string& bytes) {
  size_t start = 0;
  int line = 1;
  while (start < bytes.size()) {
    size_t end = bytes.find(std::string("\r\0\n\0", 4), start);
    size_t stop = end == std::string::npos ? bytes.size() : end + 4;
    std::printf("   %2d |", line++);
    for (size_t i = start; i < stop && i < start + 20; ++i) {
      std::printf(" %02x", static_cast<unsigned char>(bytes[i]));
    }
    std::printf("%s\n", stop - start > 20 ? " ..." : "");
    start = stop;
  }
}

bool registryPart() {
  heading("Registry values (HKEY_CURRENT_USER)");
  if (!SetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"DataPath", kDataPath) ||
      !SetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"SystemInfoPath", L"\\Application Data\\OxMail\\System\\") ||
      !SetRegistryDword(HKEY_CURRENT_USER, L"Software\\Tamarin\\Launcher", L"defaultLaunchMailer", 1)) {
    return failed("writing the registry");
  }
  std::wstring dataPath;
  const wchar_t* lower = L"software\\tamarin\\oxmail";
  if (!GetRegistryValue(HKEY_CURRENT_USER, lower, L"datapath", &dataPath)) return failed("reading DataPath");
  std::printf("   DataPath read back (names are case-insensitive): %ls\n", dataPath.c_str());
  std::wstring none;
  if (!GetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"PluginPath", &none)) {
    std::printf("   PluginPath is not set: %s\n", describe(GetOxMiddleError()).c_str());
  }
  std::string reg;
  if (OxReadDeviceFile(L"Registry\\HKEY_CURRENT_USER.reg", &reg)) {
    std::printf("   Registry/HKEY_CURRENT_USER.reg:\n");
    size_t start = 0;
    while (start < reg.size()) {
      size_t end = reg.find('\n', start);
      if (end == std::string::npos) end = reg.size();
      std::printf("   | %s\n", reg.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  return true;
}

bool profilePart() {
  heading("A settings file");
  if (!OxCreateDeviceDirectory(std::wstring(kDataPath) + L"Demo")) return failed("creating the account directory");
  OxProfileManipulator profile(kSettings);
  if (!profile.CreateNewProfile()) return failed("creating the settings file");
  std::list<ProfileItem> items = {
      {L"strAccountName", L"\u4ed5\u4e8b", 0, false, PROFILE_ITEM_TEXT},
      {L"strMailAddress", L"taro@example.jp", 0, false, PROFILE_ITEM_TEXT},
      {L"strPopServer", L"pop.example.jp", 0, false, PROFILE_ITEM_TEXT},
      {L"uiPopPort", L"", 110, false, PROFILE_ITEM_ULONG},
      {L"bLeaveOnServer", L"", 0, true, PROFILE_ITEM_BOOL},
  };
  if (!profile.WriteProfileItems(items)) return failed("the batch write");
  if (!profile.WritePrivateProfileString(L"strSignatureName", L"Work = formal")) return failed("a single write");
  std::printf("   %ls: five keys in one batch write, then one single write\n", kSettings.c_str());

  std::list<ProfileItem> back = {
      {L"strAccountName", L"", 0, false, PROFILE_ITEM_TEXT},
      {L"strMailAddress", L"", 0, false, PROFILE_ITEM_TEXT},
      {L"uiPopPort", L"", 0, false, PROFILE_ITEM_ULONG},
      {L"bLeaveOnServer", L"", 0, false, PROFILE_ITEM_BOOL},
      {L"uiSmtpPort", L"", 25, false, PROFILE_ITEM_ULONG},
  };
  if (!profile.ReadProfileItems(back)) return failed("the batch read");
  for (const ProfileItem& item : back) {
    switch (item.type) {
      case PROFILE_ITEM_ULONG: std::printf("   %-18ls %lu\n", item.strKey.c_str(), item.ulValue); break;
      case PROFILE_ITEM_BOOL: std::printf("   %-18ls %s\n", item.strKey.c_str(), item.bValue ? "true" : "false"); break;
      default: std::printf("   %-18ls %ls\n", item.strKey.c_str(), item.strValue.c_str()); break;
    }
  }
  std::wstring signature;
  if (!profile.GetPrivateProfileString(L"strSignatureName", L"", &signature)) return failed("a single read");
  std::printf("   %-18ls %ls   (a value may hold \"=\")\n", L"strSignatureName", signature.c_str());
  std::printf("   uiSmtpPort is not in the file: the default 25 was kept\n");

  std::string bytes;
  if (OxReadDeviceFile(kSettings, &bytes)) {
    std::printf("   on disk: UTF-16LE, a byte-order-mark line, then every line scrambled with the\n"
                "   file's line key (line 2 carries the key, itself scrambled with key 1):\n");
    dumpLines(bytes);
  }

  heading("Bad input is refused and changes nothing");
  if (!profile.WritePrivateProfileString(L"strBad=Key", L"x")) {
    std::printf("   key \"strBad=Key\": %s\n", describe(GetOxMiddleError()).c_str());
  }
  OxProfileManipulator missing(std::wstring(kDataPath) + L"Missing.ini");
  if (!missing.WritePrivateProfileString(L"strName", L"x")) {
    std::printf("   write to a missing file: %s\n", describe(GetOxMiddleError()).c_str());
  }
  std::string after;
  if (OxReadDeviceFile(kSettings, &after)) {
    std::printf("   the settings file is %s\n", after == bytes ? "byte for byte as it was" : "CHANGED");
  }
  return true;
}

}  // namespace

int runDemo(const Words& args) {
  if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
  const std::string root = OxMakeTemporaryDirectory("oxmail-demo");
  if (root.empty() || !OxSetDeviceRoot(root)) {
    std::fprintf(stderr, "oxmail: cannot make a temporary device root\n");
    return 1;
  }
  std::printf("oxmail demo: a fresh device root at %s\n", root.c_str());
  if (!registryPart() || !profilePart()) return 1;
  std::printf("\nThe device root is kept at %s; look around, then remove it.\n", root.c_str());
  return 0;
}

}  // namespace oxmail
