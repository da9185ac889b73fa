#include <cstdio>
#include <cstdlib>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"

namespace oxmail {

std::string describe(unsigned int code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  const char* name = GetOxMiddleErrorName(code);
  const char* text = GetOxMiddleErrorText(code);
  if (!name) return std::string("unknown code ") + hex;
  return std::string(text) + " (" + name + ", " + hex + ")";
}

int runError(const Words& args) {
  if (args.size() != 1) throw UsageError(args.empty() ? "missing CODE" : "unexpected argument '" + args[1] + "'");
  const char* arg = args[0].c_str();
  char* end = nullptr;
  unsigned long code = std::strtoul(arg, &end, 16);
  if (!*arg || *end || code > 0xFFFFFFFFul) {
    throw UsageError(std::string("'") + arg + "' is not a hexadecimal code");
  }
  if (!GetOxMiddleErrorName(static_cast<unsigned int>(code))) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", code);
    throw Failure(std::string(hex) + " is not a code of the library");
  }
  std::printf("%s\n", describe(static_cast<unsigned int>(code)).c_str());
  return 0;
}

}  // namespace oxmail
