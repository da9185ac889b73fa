// Japanese charsets, pictogram tags, media types, and received mail under the code page 65001.
#include "codec/charset.h"
#include "codec/convert.h"
#include "codec/displayable.h"
#include "codec/japanese.h"
#include "codec/mimetype.h"
#include "codec/pictogram.h"
#include "platform/codepage.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;

const std::string kNihonSjis = "\x93\xfa\x96\x7b";  // 日本
const std::string kNihonJis = "\x1b$BF|K\\\x1b(B";  // 日本 in ISO-2022-JP
const std::string kNihonEuc = "\xc6\xfc\xcb\xdc";  // 日本 in EUC-JP

// The text after an in-place conversion.
template <typename F>
std::string applied(F convert, std::string text) {
  convert(&text);
  return text;
}
auto toSjisAs(const wchar_t* charset) {
  return [charset](std::string* t) { toSJIS(t, charset); };
}

TEST(JapaneseTest, DetectionAndConversions) {
  using E = JapaneseEncoding;
  const struct { std::string text; bool html; E found; const char* why; } cases[] = {
      {"plain ascii\r\n", false, E::Ascii, "ASCII"},
      {"x " + kNihonJis, false, E::Jis, "ESC $ before any other evidence"},
      {kNihonSjis, false, E::ShiftJis, "0x93 is a lead with a valid trail"},
      {"\xb1\xb2", false, E::EucJp, "two bytes A1..FE read as EUC first"},
      {"\xb1 ", false, E::ShiftJis, "a lone half-width katakana"},
      {"\x8e\xb6", false, E::ShiftJis, "0x8E + kana counts as Shift_JIS"},
      {"\xf8\x9f", false, E::ShiftJis, "a carrier pictogram is Shift_JIS evidence"},
      {"\xf8\x9f", true, E::Ascii, "except in the HTML variant"},
      {"\xb1 \x1b$B", false, E::ShiftJis, "once Shift_JIS is seen, an escape is skipped rather than taken as JIS"},
  };
  for (const auto& k : cases) EXPECT_EQ(detectEncoding(k.text, k.html), k.found) << k.why;
  const struct { std::string got, want; const char* why; } conversions[] = {
      {applied(jisToSjis, "\x1b(I\x36\x1b(Bx\x0e\x31\x0fy\x1b$@F|\x1b(J!\x1b$(D"), "\xb6x\xb1y\x93\xfa!\x1b$(D",
       "katakana by ESC ( I and by SO/SI; ESC $ @ is double-byte too; unknown escapes stay"},
      {applied(jisToSjis, "\x1b$B\xf8\x9f\nF|\x1b(B"), "\xf8\x9f\n\x93\xfa", "a pictogram and a control byte in JIS mode"},
      {applied(eucToSjis, "x" + kNihonEuc + "\x8e\xb6\x8f\xa2\xafy"), "x" + kNihonSjis + "\xb6\x81\xacy", "SS2, SS3"},
      {sjisToIso2022jp("\xb6\xde\xb3\xde\xca\xdf\xb1\xde"), "\x1b$B%,%t%Q%\"!+\x1b(B", "full-width kana, marks merged"},
      {sjisToIso2022jp("\xf9\x40\x93\xfa\xf8\x9fz"), "\xf9\x40\x1b$BF|\x1b(B\xf8\x9fz", "carrier pictograms raw, out of JIS"},
      {applied(toSjisAs(L"utf-8"), "\xe6\x97\xa5\xe6\x9c\xac\xf0\x9f\x98\x80"), kNihonSjis + "?", "UTF-8, one lost"},
      {applied(toSjisAs(L"us-ascii"), kNihonJis), kNihonSjis, "a wrong declaration falls back to detection"},
      {applied(toSjisAs(L""), std::string("ab\0cd", 5)), "ab", "cut at the first zero byte"},
      {applied([](std::string* t) { toSJISforHTML(t, L"iso-2022-jp"); }, kNihonEuc), kNihonSjis, "HTML: UTF-8 only"},
      {applied(replaceUndisplayable, "a\x81\x40\x85\x40\x81\x7f" "b"), "a\x81\x40\x81\xac\x81\xac" "b", "undefined pairs: the geta mark"},
      {applied(replaceUndisplayable, "\xf0\x40\xf9\x40\xf2\x40\xf3\x80\xf0\x3f"), "\xf0\x40\xf9\x40\x81\xac\x81\xac\x81\xac",
       "own and carrier pictograms stay; leads 0xF2/0xF3 always go; a bad trail goes"},
      {applied(replaceUndisplayable, std::string("\x85\x40\x85\0\x85\x40", 6)), std::string("\x81\xac\x85\0\x85\x40", 6),
       "a lead before a zero byte ends the scan"},
      {applied(replaceUndisplayable, "\x85"), "\x85", "a lead at the very end"},
  };
  for (const auto& k : conversions) EXPECT_EQ(k.got, k.want) << k.why;
  std::wstring w = L"kept";
  EXPECT_EQ(ConvertStoW("", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"kept") << "nothing to convert leaves the output";
  EXPECT_EQ(ConvertStoW(kNihonSjis + "\xf0\x40", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"\u65e5\u672c\ue000");
  std::string s = "kept";
  EXPECT_EQ(ConvertWtoS(std::wstring(1, L'\0'), &s), 0) << "the text ends at its first zero";
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(ConvertWtoS(L"\u65e5a", &s), 4) << "three bytes and the terminating zero";
  EXPECT_EQ(s, "\x93\xfa" "a");
  EXPECT_EQ(wideToSjisForSending(L"a\u00e9"), "a\x81\xac") << "no Shift_JIS form: the geta mark";
  // ConvertFromUTF16 takes the charset an HTML text names, else the one given, else detection.
  const struct { const wchar_t *text, *charset; std::string out; } fromWide[] = {
      {L"<meta content=\"text/html; CHARSET=Shift_JIS\">\u65e5", L"",
       "<meta content=\"text/html; CHARSET=Shift_JIS\">\x93\xfa"},
      {L"<meta charset=euc-jp>\u65e5\uff76", L"", "<meta charset=euc-jp>\xc6\xfc\x8e\xb6"},
      {L"\u65e5", L"", "\x93\xfa"},
      {L"\u65e5", L"ISO-2022-JP", "\x1b$BF|\x1b(B"},
  };
  for (const auto& k : fromWide) {
    std::string out;
    EXPECT_EQ(ConvertFromUTF16(&out, k.text, k.charset), OXMDL_ERR_NONE);
    EXPECT_EQ(out, k.out) << k.out;
  }
}

TEST(PictogramTest, TableTagsAndCodes) {
  size_t count = 0;
  const Pictogram* table = pictogramTable(&count);
  ASSERT_EQ(count, 163u);
  // Rows around 0xF07F, which is no Shift_JIS code, and around the missing 0xF0D8.
  const std::tuple<size_t, unsigned, std::string_view> rows[] = {
      {0, 0xF040, "<#HEART>"}, {62, 0xF07E, "<#SHIRT>"}, {63, 0xF080, "<#SUIKA>"},
      {150, 0xF0D7, "<#MOS>"}, {151, 0xF0D9, "<#LOTTE>"}, {162, 0xF150, "<#TS-CRY>"}};
  for (const auto& [row, code, tag] : rows) EXPECT_TRUE(table[row].code == code && table[row].tag == tag) << row;
  const struct { std::string in, out; const char* why; } cases[] = {
      {"a<#HEART>b", "a\xf0\x40" "b", "a tag"},
      {"a<#HEART b", "a<#HEART b", "no closing >"},
      {"1<<<<<#HEART>", "1<<\xf0\x40", "<< is one <, also before a tag"},
      {"<#NOPE>", "<#NOPE>", "not in the table"},
      {"<#HE\nART><#0>", "\xf0\x40\xf0\xbe", "control bytes in a tag are dropped"},
      {"<a>", "<a>", "no # in between"},
      {"<#" + std::string(30, 'A') + ">", "<#" + std::string(30, 'A') + ">", "the > lies beyond 25 bytes"},
      {std::string("<#HEART>\0<#HEART>", 17), "\xf0\x40", "stops at a zero byte"},
  };
  for (const auto& k : cases) EXPECT_EQ(decodePictogramTags(k.in), k.out) << k.why;
  std::string out = "untouched";
  unsigned code = 1;
  EXPECT_EQ(encodePictogramTags("a<b", &out, &code), 0);
  EXPECT_EQ(out, "untouched") << "without a pictogram nothing changes, not even <";
  EXPECT_EQ(encodePictogramTags("<\xf0\x40\xf1\x41\x93\xfa", &out, &code), 1);
  EXPECT_EQ(code, OXMDL_ERR_NONE);
  EXPECT_EQ(out, "<<<#HEART>\xf1\x41\x93\xfa") << "0xF141 is no table row: copied";
  EXPECT_EQ(encodePictogramTags("\x93\xfa\xf0\x40", &out, &code), 1);
  EXPECT_EQ(out, "\x93\xfa<#HEART>") << "the pictogram ends the text";
  EXPECT_EQ(wideToIso2022jpWithTags(L"\ue000\u65e5", &out, &code), 1);  // wide, Shift_JIS, tags, ISO-2022-JP
  EXPECT_EQ(out, "<#HEART>\x1b$BF|\x1b(B");
}

TEST_F(CodecTest, MimeTypeByExtension) {
  // gz's later row counts; types keep their case; no dot: the whole name; a type is lowered; "/..." is a path.
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"PHOTO.JPG", L"image/jpeg"}, {L"backup.tar.gz", L"application/x-gzip"}, {L"card.vcf", L"text/x-vCard"},
      {L"pdf", L"application/pdf"}, {L"README", L"application/octet-stream"}, {L"Image/JPEG", L"image/jpeg"},
      {L"/abs/path.png", L"image/png"}, {L"\u65e5\u672c.txt", L"text/plain"},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(codec_.MimeTypeId(name), type) << name;
}

// Under the code page 65001 bad bytes cost one character each; Japanese mail reads as under 932.
TEST_F(CodecTest, ReceivedMailUnderCodePage65001) {
  setActiveCodePage(65001);
  const struct { std::string raw; const wchar_t *subject, *body; } cases[] = {
      // A bad byte, an overlong "/", an encoded surrogate, a cut sequence; the rest stays.
      {"Subject: =?utf-8?b?4oGr4w==?=\nContent-Type: text/plain; charset=UTF-8\n\n"
       "a\xFF" "b\xC0\xAF" "c\xED\xA0\x80" "d\xE2\x9C\nnext line\n",
       L"\u206B\uFFFD", L"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd\uFFFD\r\nnext line"},
      // A charset the platform reads, with a byte it does not define.
      {"Subject: s\nContent-Type: text/plain; charset=windows-1252\n\nA\x81" "B\x80\n", L"s", L"A\uFFFDB\u20AC"},
      // A carrier pictogram and a half-width katakana; the device's own tags.
      {"Subject: \x93\xfa\xF8\x9F\nContent-Type: text/plain; charset=Shift_JIS\n\n\x93\xfa\xF8\x9F\xB1\n", L"\u65E5\uE63E",
       L"\u65E5\uE63E\uFF71"},
      {"Subject: p\nContent-Type: text/x-pmaildx; charset=iso-2022-jp\n\nI <<3 <#HEART><#TS-CRY>\n", L"p",
       L"I <3 \uE000\uE0CC"},
  };
  for (const auto& c : cases) {
    const Email e = decode(c.raw);
    EXPECT_EQ(e.subject + L"|" + e.body, c.subject + std::wstring(L"|") + c.body) << c.raw;
  }
}

}  // namespace
}  // namespace oxm
