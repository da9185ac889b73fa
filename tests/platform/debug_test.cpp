#include "platform/debug.h"

#include <string>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

// The device's formats: %s and %c wide, %hs and %S narrow, %I64u 64 bits; a line longer than the first buffer.
TEST(DebugTest, CapturesLinesFormattedAsOnTheDevice) {
  debugCaptureStart();
  const std::wstring longText(5000, L'\u65E5');
  NKDbgPrintfW(L"----%s::%s() Error %hs %S %I64u 100%% (%d)[%-3c]\r\n", L"OxMessage", L"Read", "wfopen()",
               "OXMDL_ERR_STG_DISK_FULL", 0x100000000ull, 32, L'x');
  NKDbgPrintfW(L"[%ls]\r\n", longText.c_str());
  EXPECT_EQ(debugCaptured(),
            L"----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL 4294967296 100% (32)[x  ]\r\n[" + longText +
                L"]\r\n");
  debugCaptureStop();
  NKDbgPrintfW(L"not captured\r\n");
  EXPECT_EQ(debugCaptured(), L"");
}

}  // namespace
}  // namespace oxm
