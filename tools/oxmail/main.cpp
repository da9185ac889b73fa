// oxmail: the command-line program over liboxmiddle.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/commands.h"

namespace {

void usage(FILE* out) {
  std::fputs(
      "usage: oxmail [--root DIR] COMMAND ...\n"
      "\n"
      "commands:\n"
      "  demo           show what the library does, in a fresh temporary device root\n"
      "  error CODE     the name and meaning of a library error code (hex, e.g. 0x02000207)\n"
      "\n"
      "options:\n"
      "  --root DIR     the device root (default: $OXMIDDLE_ROOT, else\n"
      "                 $XDG_DATA_HOME/oxmiddle, else ~/.local/share/oxmiddle)\n"
      "  -h, --help     this text\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      usage(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--root") && i + 1 < argc) {
      if (!OxSetDeviceRoot(argv[++i])) {
        std::fprintf(stderr, "oxmail: cannot use %s as the device root\n", argv[i]);
        return 2;
      }
      continue;
    }
    std::fprintf(stderr, "oxmail: unknown option %s (see oxmail --help)\n", argv[i]);
    return 2;
  }
  if (i >= argc) {
    usage(stderr);
    return 2;
  }
  const std::string command = argv[i];
  if (command == "demo") return oxmail::runDemo();
  if (command == "error" && i + 1 < argc) return oxmail::runError(argv[i + 1]);
  std::fprintf(stderr, "oxmail: unknown command '%s' (see oxmail --help)\n", command.c_str());
  return 2;
}
