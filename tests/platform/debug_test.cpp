#include "platform/debug.h"

#include <string>
#include <thread>
#include <vector>

#include "tests/support/testroot.h"

namespace oxm {
namespace {

TEST(DebugTest, CapturesFormattedLinesAsTheDeviceFormatsThem) {
  debugCaptureStart();
  NKDbgPrintfW(L" Retry MoveFile():(%d) /// Reason: file busy\r\n", 32);
  EXPECT_EQ(debugCaptured(), L" Retry MoveFile():(32) /// Reason: file busy\r\n");

  // %s is wide text as on the device; %hs and %S narrow; %I64u 64 bits; %% a percent sign.
  NKDbgPrintfW(L"----%s::%s() Error %hs %S %I64u 100%%\r\n", L"OxMessage", L"Read", "wfopen()",
               "OXMDL_ERR_STG_DISK_FULL", 0x100000000ull);
  EXPECT_EQ(debugCaptured(),
            L" Retry MoveFile():(32) /// Reason: file busy\r\n"
            L"----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL 4294967296 100%\r\n");

  // Text longer than the first buffer, and wide text beyond ASCII.
  debugCaptureStart();
  std::wstring longText(5000, L'\u65E5');
  NKDbgPrintfW(L"[%ls][%-3c]\r\n", longText.c_str(), L'x');
  EXPECT_EQ(debugCaptured(), L"[" + longText + L"][x  ]\r\n");

  debugCaptureStop();
  NKDbgPrintfW(L"not captured\r\n");
  EXPECT_EQ(debugCaptured(), L"");
}

TEST(DebugTest, CaptureIsThreadSafe) {
  debugCaptureStart();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) NKDbgPrintfW(L"t%d:%03d\r\n", t, i);
    });
  for (std::thread& th : threads) th.join();
  std::wstring all = debugCaptured();
  debugCaptureStop();
  EXPECT_EQ(all.size(), 4u * 500u * 8u);  // every "tN:NNN\r\n" whole
  for (int t = 0; t < 4; ++t)
    for (int i : {0, 250, 499}) {
      wchar_t line[16];
      swprintf(line, 16, L"t%d:%03d\r\n", t, i);
      EXPECT_NE(all.find(line), std::wstring::npos) << t << " " << i;
    }
}

}  // namespace
}  // namespace oxm
