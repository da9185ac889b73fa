#include <cstdio>
#include <cstdlib>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/commands.h"

namespace oxmail {

std::string describe(unsigned int code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  const char* name = GetOxMiddleErrorName(code);
  const char* text = GetOxMiddleErrorText(code);
  if (!name) return std::string("unknown code ") + hex;
  return std::string(text) + " (" + name + ", " + hex + ")";
}

int runError(const char* arg) {
  char* end = nullptr;
  unsigned long code = std::strtoul(arg, &end, 16);
  if (!*arg || *end || code > 0xFFFFFFFFul) {
    std::fprintf(stderr, "oxmail: '%s' is not a hexadecimal code\n", arg);
    return 2;
  }
  if (!GetOxMiddleErrorName(static_cast<unsigned int>(code))) {
    std::fprintf(stderr, "oxmail: 0x%08lX is not a code of the library\n", code);
    return 1;
  }
  std::printf("%s\n", describe(static_cast<unsigned int>(code)).c_str());
  return 0;
}

}  // namespace oxmail
