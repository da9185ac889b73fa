// oxmail log on|off|show: the protocol log, which the library writes while its file exists.
#include <cstdio>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

// The file whose presence switches the library's protocol log on.
const wchar_t* const kLogFile = L"\\Application Data\\OxenMail\\OxMailLog.txt";

bool logExists() {
  std::string bytes;
  return OxReadDeviceFile(kLogFile, &bytes);
}

}  // namespace

int runLog(const Words& words) {
  Args args(words, {});
  args.atMost(1);
  const std::string sub = args.need(0, "on, off or show");
  requireInit();
  if (sub == "on") {
    // An existing log is kept: it grows until switched off.
    if (!logExists() && !OxWriteDeviceFile(kLogFile, std::string())) throw Failure("cannot create the protocol log");
    if (!settings().quiet) std::printf("protocol log on: %s/Application Data/OxenMail/OxMailLog.txt\n", OxGetDeviceRoot().c_str());
    return kExitOk;
  }
  if (sub == "off") {
    if (!OxDeleteDeviceFile(kLogFile)) throw Failure("cannot remove the protocol log");
    if (!settings().quiet) std::printf("protocol log off (removed)\n");
    return kExitOk;
  }
  if (sub == "show") {
    std::string bytes;
    if (!OxReadDeviceFile(kLogFile, &bytes)) throw Failure("the protocol log is off (oxmail log on)");
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return kExitOk;
  }
  throw UsageError("unknown subcommand '" + sub + "' (on, off or show)");
}

}  // namespace oxmail
