// Text conversion and the diagnostic line.
#include "frame/diag.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

TEST(TextConvTest, SystemCodePageAndUtf16BothWays) {
  std::string mb = "stale";
  std::wstring w = L"stale";
  ASSERT_EQ(wideToMulti(L"", &mb) | multiToWide("", &w), OXMDL_ERR_NONE);
  EXPECT_TRUE(mb.empty() && w.empty());
  ASSERT_EQ(wideToMulti(L"A\u65e5\u00e9", &mb) | multiToWide("\x93\xfa\x5c", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(mb, "A\x93\xfa?") << "no CP932 form: the default character";
  EXPECT_EQ(w, L"\u65e5\\");
  // A pair for a character above U+FFFF; a lone surrogate passes through both ways.
  EXPECT_EQ(toUtf16(L"a\U0001F600"), (std::u16string{u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(fromUtf16({u'a', 0xD83D, 0xDE00, 0xD800, u'x'}),
            (std::wstring{L'a', wchar_t(0x1F600), wchar_t(0xD800), L'x'}));
  EXPECT_EQ(toUtf16(std::wstring{wchar_t(0xD800)}), std::u16string{0xD800});
}

TEST(DiagTest, ErrorLineNamesTheCode) {
  debugCaptureStart();
  debugError(L"OxMessage::Read()", L"wfopen()", OXMDL_ERR_STG_DISK_FULL);
  debugError(L"OxStorage::Open()", L"x()", 0x02FFFFFF);
  EXPECT_EQ(debugCaptured(),
            L"----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL\r\n"
            L"----OxStorage::Open() Error x() 0x02FFFFFF\r\n");
  debugCaptureStop();
}

}  // namespace
}  // namespace oxm
