#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <initializer_list>

bool OxIsTerminal(int fd) { return ::isatty(fd) == 1; }

int OxTerminalColumns() {
  struct winsize ws;
  for (int fd : {2, 1}) {
    if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  }
  return 80;
}
