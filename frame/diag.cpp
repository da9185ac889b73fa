#include "frame/diag.h"

#include "frame/oxerror.h"
#include "platform/debug.h"

namespace oxm {

void debugError(const wchar_t* where, const wchar_t* call, unsigned code) {
  const char* name = GetOxMiddleErrorName(code);
  if (name) {
    NKDbgPrintfW(L"----%ls Error %ls %hs\r\n", where, call, name);
  } else {
    NKDbgPrintfW(L"----%ls Error %ls 0x%08X\r\n", where, call, code);
  }
}

}  // namespace oxm
