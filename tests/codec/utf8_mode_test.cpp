// The device code page 65001: bad bytes of received mail cost one character each, Japanese mail
// reads exactly as under 932, and outgoing text is ISO-2022-JP as before when it fits, else UTF-8.
// (That real-world mail loses no character under 65001 is checked against Python in tests/corpus.)
#include "platform/codepage.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;

class Utf8ModeTest : public CodecTest {
 protected:
  void SetUp() override {
    CodecTest::SetUp();
    setActiveCodePage(65001);
  }
  static std::string encode(const std::wstring& subject, const std::wstring& body, const std::wstring& html = L"") {
    Email mail;
    mail.from = L"taro@example.jp";
    mail.to = {L"hanako@example.jp"};
    mail.subject = subject;
    mail.body = body;
    mail.htmlBody = html;
    std::string out;
    EXPECT_TRUE(EmlCompose().Encode(&mail, &out)) << std::hex << GetOxMiddleError();
    return out;
  }
};

TEST_F(Utf8ModeTest, BadBytesCostOneCharacterEach) {
  const struct {
    std::string raw;
    const wchar_t *subject, *body;
  } cases[] = {
      {"Subject: =?UTF-8?B?8J+OhOKdow==?=\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
       "hei\xC3\x9F" "e qu\xC3\xA4lte \xC2\xA2 \xE2\x9C\x94 \xE7\xB5\xB5\xE6\x96\x87\xE5\xAD\x97\xF0\x9F\x8E\x85\n",
       L"\U0001F384\u2763", L"hei\u00DFe qu\u00E4lte \u00A2 \u2714 \u7D75\u6587\u5B57\U0001F385"},
      // Invalid UTF-8 in a UTF-8 part: a bad byte, an overlong "/", an encoded surrogate, a cut
      // sequence; the rest of the text stays.
      {"Subject: =?utf-8?b?4oGr4w==?=\nContent-Type: text/plain; charset=UTF-8\n\n"
       "a\xFF" "b\xC0\xAF" "c\xED\xA0\x80" "d\xE2\x9C\nnext line\n",
       L"\u206B\uFFFD", L"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd\uFFFD\r\nnext line"},
      // A charset the platform reads, with a byte it does not define.
      {"Subject: s\nContent-Type: text/plain; charset=windows-1252\n\nA\x81" "B\x80\n", L"s", L"A\uFFFDB\u20AC"},
  };
  for (const auto& c : cases) {
    const Email e = decode(c.raw);
    EXPECT_EQ(e.subject, c.subject) << c.raw;
    EXPECT_EQ(e.body, c.body) << c.raw;
  }
  // The same UTF-8 text under 932: what has no Shift_JIS form is lost, as on the original device.
  setActiveCodePage(932);
  EXPECT_EQ(decode(cases[0].raw).body, L"hei?e qu?lte ? ? \u7D75\u6587\u5B57?");
}

// Japanese mail, carrier pictograms and the device's own pictogram tags read the same in both
// code pages: the pictograms keep their private-use characters.
TEST_F(Utf8ModeTest, JapaneseMailReadsAsUnder932) {
  const std::string messages[] = {
      "Subject: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
      "\x1b$BF|K\\\x1b(I1\x1b(B\n",
      "Subject: \x93\xfa\x96\x7b\xF8\x9F\nContent-Type: text/plain; charset=Shift_JIS\n\n\x93\xfa\xF8\x9F\xB1\n",
      "Subject: p\nContent-Type: text/x-pmaildx; charset=iso-2022-jp\n\nI <<3 <#HEART><#TS-CRY>\n",
      "Subject: p\n\n\x93\xfa\x96\x7b\n",
      "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\nContent-Type: text/plain; "
      "name=\"=?Shift_JIS?B?k/qWew==?=.txt\"\n\ny\n--b--\n",
  };
  for (const std::string& raw : messages) {
    setActiveCodePage(932);
    const Email sjis = decode(raw);
    setActiveCodePage(65001);
    const Email utf8 = decode(raw);
    EXPECT_EQ(utf8.subject, sjis.subject) << raw;
    EXPECT_EQ(utf8.body, sjis.body) << raw;
    EXPECT_EQ(names(utf8.enclosures), names(sjis.enclosures)) << raw;
  }
  EXPECT_EQ(decode(messages[2]).body, L"I <3 \uE000\uE0CC");
  EXPECT_EQ(decode(messages[1]).body, L"\u65E5\uE63E\uFF71") << "a carrier pictogram and a half-width katakana";
  EXPECT_EQ(names(decode(messages[4]).enclosures), std::vector<std::wstring>{L"\u65e5\u672c.txt"});
}

TEST_F(Utf8ModeTest, OutgoingTextIsIso2022jpWhenItFitsElseUtf8) {
  const std::wstring subject = L"\u65E5\u672C\u8A9E\u306E\u4EF6\u540D", body = L"\u672C\u6587\uE000\u3067\u3059\r\nline <2>";
  const std::string asBefore = encode(subject, body);
  setActiveCodePage(932);
  EXPECT_EQ(asBefore, encode(subject, body)) << "byte for byte the 932 message";
  EXPECT_NE(asBefore.find("Content-Type: text/x-pmaildx; charset=\"iso-2022-jp\"\r\n"), std::string::npos);
  setActiveCodePage(65001);

  std::string m = encode(L"hei\u00DFe \U0001F385", L"Gr\u00FC\u00DFe aus Berlin und bis bald");
  EXPECT_NE(m.find("\r\nSubject: =?UTF-8?b?aGVpw59lIPCfjoU=?=\r\n"), std::string::npos) << m;
  EXPECT_EQ(from(m, "Content-Type: text/plain"),
            "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
            "Gr=C3=BC=C3=9Fe aus Berlin und bis bald\r\n")
      << "mostly ASCII: quoted-printable";
  std::wstring santas;
  for (int i = 0; i < 12; ++i) santas += L"\U0001F385";
  m = encode(santas, L"\u7D75\u6587\u5B57\U0001F385");
  EXPECT_NE(m.find("\r\nSubject: =?UTF-8?b?8J+OhfCfjoXwn46F8J+OhfCfjoXwn46F8J+OhfCfjoXwn46F8J+OhfCfjoU=?=\r\n"
                   " =?UTF-8?b?8J+OhQ==?=\r\n"),
            std::string::npos)
      << "45 bytes a word, whole characters: " << m;
  EXPECT_EQ(from(m, "Content-Type: text/plain"),
            "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            "57W15paH5a2X8J+OhQ==\r\n")
      << "mostly multi-byte: Base64";
  // An own pictogram beside a character without a Shift_JIS form: tags in a UTF-8 pmaildx body.
  m = encode(L"p", L"\uE000 <b \U0001F385");
  EXPECT_NE(m.find("Content-Type: text/x-pmaildx; charset=\"UTF-8\"\r\n"), std::string::npos) << m;
  EXPECT_EQ(decode(m).body, L"\uE000 <b \U0001F385");
  // A lone surrogate in the record is one default character; nothing else is lost.
  m = encode(L"s", std::wstring(L"caf\u00E9 ") + wchar_t(0xD800) + L" ok, merci beaucoup");
  EXPECT_NE(m.find("\r\n\r\ncaf=C3=A9 ? ok, merci beaucoup\r\n"), std::string::npos) << m;
  // HTML in UTF-8 too.
  m = encode(L"s", L"x", L"<p>\u00E7a va \U0001F384</p>");
  EXPECT_NE(m.find("Content-Type: text/html; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace oxm
