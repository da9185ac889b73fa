// A program built against the installed library only: the umbrella header must compile on its
// own, the error functions must link and keep a value, the installed error table must hold the
// values the library was built with.
#include <oxmiddle/oxmiddle.h>

#include <cstdio>

int main() {
  static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit words");
  static_assert(OXMDL_ERR_NONE == 0x02000000u && OXMDL_ERR_INI_NOFILE == 0x0200009Cu,
                "installed error table differs");
  SetOxMiddleError(0x02000207);
  if (GetOxMiddleError() != 0x02000207) {
    std::fprintf(stderr, "GetOxMiddleError gave 0x%08X, expected 0x02000207\n", GetOxMiddleError());
    return 1;
  }
  SetOxMiddleError(OXMDL_ERR_NONE);
  if (GetOxMiddleError() != OXMDL_ERR_NONE) {
    std::fprintf(stderr, "GetOxMiddleError gave 0x%08X after a reset\n", GetOxMiddleError());
    return 1;
  }
  std::puts("consumer: ok");
  return 0;
}
