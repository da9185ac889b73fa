#include "platform/debug.h"

#include <string>
#include <thread>
#include <vector>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

// The device's formats: %s and %c wide, %hs and %S narrow, %I64u 64 bits; lines from threads stay whole.
TEST(DebugTest, CapturesLinesFormattedAsOnTheDeviceFromAnyThread) {
  debugCaptureStart();
  const std::wstring longText(5000, L'\u65E5');  // longer than the first buffer
  NKDbgPrintfW(L"----%s::%s() Error %hs %S %I64u 100%% (%d)[%-3c]\r\n", L"OxMessage", L"Read", "wfopen()",
               "OXMDL_ERR_STG_DISK_FULL", 0x100000000ull, 32, L'x');
  NKDbgPrintfW(L"[%ls]\r\n", longText.c_str());
  EXPECT_EQ(debugCaptured(),
            L"----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL 4294967296 100% (32)[x  ]\r\n[" + longText +
                L"]\r\n");

  debugCaptureStart();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) NKDbgPrintfW(L"t%d:%03d\r\n", t, i);
    });
  for (std::thread& th : threads) th.join();
  const std::wstring all = debugCaptured();
  EXPECT_EQ(all.size(), 4u * 500u * 8u);  // every "tN:NNN\r\n" whole
  for (const wchar_t* line : {L"t0:000\r\n", L"t3:499\r\n"}) EXPECT_NE(all.find(line), std::wstring::npos) << line;

  debugCaptureStop();
  NKDbgPrintfW(L"not captured\r\n");
  EXPECT_EQ(debugCaptured(), L"");
}

}  // namespace
}  // namespace oxm
