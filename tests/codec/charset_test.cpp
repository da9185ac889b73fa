// Japanese charsets: detection, the byte conversions, the display check and the wide forms.
#include "codec/charset.h"
#include "codec/convert.h"
#include "codec/displayable.h"
#include "codec/japanese.h"
#include "frame/oxerror.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

const std::string kNihonSjis = "\x93\xfa\x96\x7b";          // 日本
const std::string kNihonJis = "\x1b$BF|K\\\x1b(B";          // 日本 in ISO-2022-JP
const std::string kNihonEuc = "\xc6\xfc\xcb\xdc";          // 日本 in EUC-JP

TEST(JapaneseTest, DetectionOfUndeclaredText) {
  EXPECT_EQ(detectEncoding("plain ascii\r\n"), JapaneseEncoding::Ascii);
  EXPECT_EQ(detectEncoding("x " + kNihonJis), JapaneseEncoding::Jis) << "ESC $ before any other evidence";
  EXPECT_EQ(detectEncoding(kNihonEuc), JapaneseEncoding::EucJp);
  EXPECT_EQ(detectEncoding(kNihonSjis), JapaneseEncoding::ShiftJis) << "0x93 is a lead with a valid trail";
  EXPECT_EQ(detectEncoding("\xb1\xb2"), JapaneseEncoding::EucJp) << "two bytes A1..FE read as EUC first";
  EXPECT_EQ(detectEncoding("\xb1 "), JapaneseEncoding::ShiftJis) << "a lone half-width katakana";
  EXPECT_EQ(detectEncoding("\x8e\xb6"), JapaneseEncoding::ShiftJis) << "0x8E + kana counts as Shift_JIS";
  // A carrier pictogram is Shift_JIS evidence, except in the HTML variant.
  EXPECT_EQ(detectEncoding("\xf8\x9f"), JapaneseEncoding::ShiftJis);
  EXPECT_EQ(detectEncoding("\xf8\x9f", true), JapaneseEncoding::Ascii);
  // Once Shift_JIS is seen, an escape is skipped rather than taken as JIS.
  EXPECT_EQ(detectEncoding("\xb1 \x1b$B"), JapaneseEncoding::ShiftJis);
}

TEST(JapaneseTest, JisAndEucToShiftJis) {
  std::string t = "a" + kNihonJis + "b";
  jisToSjis(&t);
  EXPECT_EQ(t, "a" + kNihonSjis + "b");
  // Katakana mode by ESC ( I and by SO/SI; ESC $ @ is double-byte too; unknown escapes stay.
  t = "\x1b(I\x36\x1b(Bx\x0e\x31\x0fy\x1b$@F|\x1b(J!\x1b$(D";
  jisToSjis(&t);
  EXPECT_EQ(t, "\xb6x\xb1y\x93\xfa!\x1b$(D");
  // A carrier pictogram inside JIS mode is copied; a control byte there stands alone.
  t = "\x1b$B\xf8\x9f\nF|\x1b(B";
  jisToSjis(&t);
  EXPECT_EQ(t, "\xf8\x9f\n\x93\xfa");
  t = "x" + kNihonEuc + "\x8e\xb6" + "\x8f\xa2\xaf" + "y";
  eucToSjis(&t);
  EXPECT_EQ(t, "x" + kNihonSjis + "\xb6\x81\xac" "y") << "SS2 kana, SS3 as the geta mark";
  EXPECT_EQ(sjisToEuc(kNihonSjis + "\xb6" "a"), kNihonEuc + "\x8e\xb6" "a");
}

TEST(JapaneseTest, ShiftJisToIso2022jp) {
  EXPECT_EQ(sjisToIso2022jp("a" + kNihonSjis + "b"), "a\x1b$BF|K\\\x1b(Bb");
  EXPECT_EQ(sjisToIso2022jp(kNihonSjis), "\x1b$BF|K\\\x1b(B") << "ends back in ASCII";
  // Half-width katakana become full width; voiced and semi-voiced marks merge: ｶﾞ ｳﾞ ﾊﾟ ｱ ﾞ.
  EXPECT_EQ(sjisToIso2022jp("\xb6\xde\xb3\xde\xca\xdf\xb1\xde"), "\x1b$B%,%t%Q%\"!+\x1b(B");
  // A carrier pictogram leaves JIS mode and is written raw.
  EXPECT_EQ(sjisToIso2022jp(kNihonSjis.substr(0, 2) + "\xf8\x9f" + "z"), "\x1b$BF|\x1b(B\xf8\x9fz");
  EXPECT_EQ(sjisToIso2022jp("\xf9\x40"), "\xf9\x40");
}

TEST(CharsetTest, ToSjisByCharsetName) {
  std::string t = kNihonJis;
  toSJIS(&t, L"ISO-2022-JP");
  EXPECT_EQ(t, kNihonSjis);
  t = kNihonEuc;
  toSJIS(&t, L"EUC-JP");
  EXPECT_EQ(t, kNihonSjis);
  t = "\xe6\x97\xa5\xe6\x9c\xac\xf0\x9f\x98\x80";  // 日本 and a character CP932 lacks
  toSJIS(&t, L"utf-8");
  EXPECT_EQ(t, kNihonSjis + "?");
  t = kNihonJis;
  toSJIS(&t, L"us-ascii");
  EXPECT_EQ(t, kNihonSjis) << "a wrong declaration falls back to detection";
  t = std::string("ab\0cd", 5);
  toSJIS(&t, L"");
  EXPECT_EQ(t, "ab") << "cut at the first zero byte";
  // The HTML variant takes only UTF-8 by name.
  t = kNihonEuc;
  toSJISforHTML(&t, L"iso-2022-jp");
  EXPECT_EQ(t, kNihonSjis);
}

TEST(CharsetTest, WideConversions) {
  std::wstring w = L"kept";
  EXPECT_EQ(ConvertStoW("", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"kept") << "nothing to convert leaves the output";
  EXPECT_EQ(ConvertStoW(kNihonSjis + "\xf0\x40", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"\u65e5\u672c\ue000");
  std::string s = "kept";
  EXPECT_EQ(ConvertWtoS(L"", &s), 0);
  EXPECT_EQ(ConvertWtoS(std::wstring(1, L'\0'), &s), 0);
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(ConvertWtoS(L"\u65e5a", &s), 4) << "three bytes and the terminating zero";
  EXPECT_EQ(s, "\x93\xfa" "a");
  EXPECT_EQ(wideToSjisForSending(L"a\u00e9"), "a\x81\xac") << "no Shift_JIS form: the geta mark";
  EXPECT_EQ(wideToIso2022jp(L"\u65e5\u672c"), kNihonJis);
}

TEST(CharsetTest, ConvertFromUtf16ChoosesTheCharset) {
  std::string out;
  const std::wstring html = L"<meta content=\"text/html; CHARSET=Shift_JIS\">\u65e5";
  EXPECT_EQ(ConvertFromUTF16(&out, html, L""), OXMDL_ERR_NONE);
  EXPECT_EQ(out, "<meta content=\"text/html; CHARSET=Shift_JIS\">\x93\xfa");
  ConvertFromUTF16(&out, L"<meta charset=euc-jp>\u65e5", L"");
  EXPECT_EQ(out, "<meta charset=euc-jp>\xc6\xfc");
  ConvertFromUTF16(&out, L"<meta charset=iso-2022-jp>\u65e5", L"");
  EXPECT_EQ(out, "<meta charset=iso-2022-jp>\x1b$BF|\x1b(B");
  // No mention: the text's own encoding, found by detection of its system code page form.
  ConvertFromUTF16(&out, L"\u65e5", L"");
  EXPECT_EQ(out, "\x93\xfa");
  ConvertFromUTF16(&out, L"\u65e5", L"EUC-JP");
  EXPECT_EQ(out, "\xc6\xfc");
  ConvertFromUTF16(&out, L"\u65e5", L"ISO-2022-JP");
  EXPECT_EQ(out, "\x1b$BF|\x1b(B");
}

TEST(DisplayableTest, UndefinedPairsBecomeTheGetaMark) {
  // 0x81 0x40 is defined; 0x85 0x40 is not; 0x81 0x7F never is.
  std::string t = "a\x81\x40\x85\x40\x81\x7f" "b";
  replaceUndisplayable(&t);
  EXPECT_EQ(t, "a\x81\x40\x81\xac\x81\xac" "b");
  // Own pictograms and carrier pictograms stay; leads 0xF2/0xF3 always go; a bad trail goes.
  t = "\xf0\x40\xf9\x40\xf2\x40\xf3\x80\xf0\x3f";
  replaceUndisplayable(&t);
  EXPECT_EQ(t, "\xf0\x40\xf9\x40\x81\xac\x81\xac\x81\xac");
  // A lead before a zero byte or at the very end ends the scan untouched.
  t = std::string("\x85\x40\x85\0\x85\x40", 6);
  replaceUndisplayable(&t);
  EXPECT_EQ(t, std::string("\x81\xac\x85\0\x85\x40", 6));
  t = "\x85";
  replaceUndisplayable(&t);
  EXPECT_EQ(t, "\x85");
}

}  // namespace
}  // namespace oxm
