// Built against the installed library only: the umbrella header compiles on its own, the error
// functions link and keep a value, the installed error table holds the library's values.
#include <oxmiddle/oxmiddle.h>

#include <cstdio>

int main() {
  static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit words");
  static_assert(OXMDL_ERR_NONE == 0x02000000u && OXMDL_ERR_INI_NOFILE == 0x0200009Cu,
                "installed error table differs");
  for (const unsigned code : {0x02000207u, unsigned{OXMDL_ERR_NONE}}) {
    SetOxMiddleError(code);
    if (GetOxMiddleError() != code) {
      std::fprintf(stderr, "GetOxMiddleError gave 0x%08X, expected 0x%08X\n", GetOxMiddleError(), code);
      return 1;
    }
  }
  std::puts("consumer: ok");
  return 0;
}
