// Encoding whole messages: exact header lines, skeletons, charsets, tags, line breaking, failures.
#include "platform/codepage.h"
#include "tests/codec/codec_fixture.h"
#include "tests/codec/encode_cases.h"

namespace oxm {
namespace {

using namespace test;

const std::string kTop = "From: \"Taro\" <taro@example.jp>\r\nTo: hanako@example.jp\r\n"
                         "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n";
const std::string kMime = "Mime-Version: 1.0\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n";

class EncodeTest : public CodecTest {
 protected:
  std::string encode(const std::wstring& subject, const std::wstring& body) {
    EncodeCase c = composed("", subject, body);
    return encode(c);
  }
  // Puts the case's files under the device root and encodes its record.
  std::string encode(EncodeCase& c, RawEmail_S* raw = nullptr) {
    for (const auto& [path, bytes] : c.files) put(path, bytes);
    std::string out;
    RawEmail_S scratch;
    EXPECT_TRUE(codec_.Encode(&c.mail, &out, raw ? raw : &scratch)) << std::hex << GetOxMiddleError();
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
    return out;
  }
};

// ISO-2022-JP runs of `n` hiragana A (JIS 0x2422).
std::string jisA(int n) {
  std::string s = "\x1b$B";
  for (int i = 0; i < n; ++i) s += "$\"";
  return s + "\x1b(B";
}

TEST_F(EncodeTest, PlainPictogramAndMultipartMessages) {
  EncodeCase c = plainAsciiCase();
  RawEmail_S raw;
  raw.recipients.push_back("earlier@example.jp");
  EXPECT_EQ(encode(c, &raw), kTop + "Subject: Lunch\r\n" + kMime +
                                 "Content-Type: text/plain; charset=us-ascii\r\n\r\nSee you at noon.\r\n\r\n");
  EXPECT_EQ(raw.envelopeFrom, "taro@example.jp");
  EXPECT_EQ(raw.recipients, (std::list<std::string>{"earlier@example.jp", "hanako@example.jp"}));
  EXPECT_EQ(std::to_wstring(c.mail.date.wHour) + c.mail.timeZone, L"12+0900") << "the record gets the date written";
  c = pictogramCase();
  EXPECT_EQ(from(encode(c), "Content-Type"),
            "Content-Type: text/x-pmaildx; charset=\"iso-2022-jp\"\r\n\r\nI <#HEART> you <<3\r\n");
  c.mail.body = L"\u65e5\uE63E";
  EXPECT_EQ(from(encode(c), "Content-Type"),
            "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n\r\n\x1b$BF|\x1b(B\xF8\x9F\r\n")
      << "a carrier pictogram is no tag: its two bytes raw";
  c = htmlAttachmentCase();
  EXPECT_EQ(encode(c), kTop + "Subject: Photo\r\n" + kMime +
                           "Content-Type: multipart/related;\r\n boundary=\"next_bound_r2123\"\r\n\r\n"
                           "This is a multipart message in Mime 1.0 format\r\n\r\n"
                           "--next_bound_r2123\r\n"
                           "Content-Type: multipart/alternative;\r\n boundary=\"next_bound_a3234\"\r\n\r\n"
                           "--next_bound_a3234\r\n"
                           "Content-Type: text/plain; charset=iso-2022-jp\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                           "See the photo.\r\n"
                           "--next_bound_a3234\r\n"
                           "Content-Type: text/html; charset=\"iso-2022-jp\"\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                           "<p>See the <b>photo</b>.</p>\r\n"
                           "--next_bound_a3234--\r\n\r\n"
                           "--next_bound_r2123\r\n"
                           "Content-Type: image/jpeg;\r\n name=\"photo.jpg\"\r\nContent-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment;\r\n filename=\"photo.jpg\"\r\n\r\n"
                           "/9j/4EpGSUY=\r\n"
                           "--next_bound_r2123--\r\n");
}

TEST_F(EncodeTest, HeaderFieldsAndEncodedWords) {
  EncodeCase c = threeToCase();
  c.mail.cc = {L"", L"cc@example.jp"};  // entries without an address are no recipients
  c.mail.bcc = {L"bcc@example.jp", L" "};
  c.mail.replyTo = L"list@example.jp";
  RawEmail_S raw;
  std::string out = encode(c, &raw);
  EXPECT_EQ(out.substr(0, out.find("Mime-Version")),
            "From: \"Taro\" <taro@example.jp>\r\nTo: a@example.jp,\r\n b@example.jp,\r\n c@example.jp\r\n"
            "Cc: cc@example.jp\r\nBcc: bcc@example.jp\r\nDate: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
            "Subject: Meeting\r\nReply-To: list@example.jp\r\n");
  EXPECT_EQ(raw.recipients, (std::list<std::string>{"a@example.jp", "b@example.jp", "c@example.jp",
                                                    "cc@example.jp", "bcc@example.jp"}));
  c = replyCase();
  out = from(encode(c), "Subject");
  EXPECT_EQ(out.substr(0, out.find("X-Mailer")), "Subject: Re: Lunch\r\nIn-Reply-To: <orig@example.jp>\r\n"
                                                 "References: <orig@example.jp>\r\nMime-Version: 1.0\r\n");
  c = replyWithReferencesCase();
  // The answered message's own In-Reply-To comes first, else its References.
  EXPECT_NE(encode(c).find("\r\nIn-Reply-To: <orig@example.jp>\r\nReferences: <parent@example.jp> <orig@example.jp>\r\n"),
            std::string::npos);
  c.mail.inReplyTo.clear();
  EXPECT_NE(encode(c).find("\r\nReferences: <root@example.jp> <orig@example.jp>\r\n"), std::string::npos);
  // A name with quotes of its own stays as it is; no name: the bare address; the picture mail mark.
  c = plainAsciiCase();
  c.mail.fromName = L"\"Doe\" Jr";
  c.mail.pictureMail = true;
  out = encode(c);
  EXPECT_TRUE(out.starts_with("From: \"Doe\" Jr <taro@example.jp>\r\n"));
  EXPECT_NE(out.find("\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM) [PictureMail]\r\n"), std::string::npos);
  c.mail.fromName.clear();
  EXPECT_TRUE(encode(c).starts_with("From: taro@example.jp\r\n"));
  // 30 kanji: 12 per word (8 give 22 bytes of ISO-2022-JP, 12 give 30), then 12, then 6.
  c.mail.subject = std::wstring(30, L'\u65e5');
  out = from(encode(c), "Subject: ");
  EXPECT_EQ(out.substr(0, out.find("\r\nMime")),
            "Subject: =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8RnxGfEZ8RnxGfEZ8GyhC?=\r\n"
            " =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8RnxGfEZ8RnxGfEZ8GyhC?=\r\n"
            " =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8GyhC?=");
  c.mail.subject = L"one\r\nBcc: x@example.jp";
  EXPECT_NE(encode(c).find("\r\nSubject: one  Bcc: x@example.jp\r\n"), std::string::npos) << "a line break";
}

TEST_F(EncodeTest, LongLinesAreBrokenAt300Characters) {
  const std::string heart = "<#HEART>";
  const struct { const char* what; std::wstring body; std::string sent; } cases[] = {
      {"301 characters: the break comes after 300", std::wstring(301, L'\u3042'), jisA(300) + "\r\n" + jisA(1) + "\r\n"},
      {"a \"<\" among the 13 characters before the break takes the break before it",
       std::wstring(295, L'a') + L"<tag>bcd", std::string(295, 'a') + "\r\n<tag>bcd\r\n"},
      // Tags lengthen a line: broken again, a kana counting one, no tag split, JIS closed and reopened.
      {"tags between ASCII and kana", std::wstring(280, L'x') + L"\uE000\uE000\uE000" + std::wstring(10, L'\u3042'),
       std::string(280, 'x') + heart + heart + "\r\n" + heart + jisA(10) + "\r\n"},
      {"a tag after 300 characters, then 305 kana", std::wstring(300, L'x') + L"\uE000" + std::wstring(305, L'\u3042'),
       std::string(300, 'x') + "\r\n" + heart + jisA(292) + "\r\n" + jisA(7) + "\r\n" + jisA(6) + "\r\n"},
  };
  EncodeCase c = plainAsciiCase();
  for (const auto& k : cases) {
    c.mail.body = k.body;
    EXPECT_EQ(bodyOf(encode(c)), k.sent) << k.what;
  }
  c.mail.feedMessage = true;
  c.mail.body = std::wstring(400, L'y');
  EXPECT_EQ(bodyOf(encode(c)), std::string(400, 'y') + "\r\n") << "feed messages are not broken";
}

TEST_F(EncodeTest, FailuresLeaveNothingBehind) {
  EncodeCase c = htmlAttachmentCase();
  c.mail.enclosures.push_back(attachment(L"att", L"missing.pdf"));
  std::string out = "untouched";
  RawEmail_S raw;
  raw.envelopeFrom = "kept";
  const SYSTEMTIME before = c.mail.date;
  put("att/photo.jpg", "x");
  EXPECT_EQ(failure(codec_.Encode(&c.mail, &out, &raw)), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(out + "|" + raw.envelopeFrom + "|" + std::to_string(raw.recipients.size()), "untouched|kept|0");
  EXPECT_EQ(c.mail.date.wYear, before.wYear) << "the record's date is set only on success";
  c.mail.enclosures.back() = attachment(L"", L"att");  // a directory: there, but not readable
  EXPECT_EQ(failure(codec_.Encode(&c.mail, &out)), OXMDL_ERR_MIME_FILE_READ);
  EXPECT_EQ(out, "untouched");
  c = plainAsciiCase();  // memory shortage in the last step empties the output
  c.mail.body = std::wstring(60000, L'a');
  setHeapProbeLimit(51200);
  out = "old";
  EXPECT_EQ(failure(codec_.Encode(&c.mail, &out)), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(out, "");
}

TEST_F(EncodeTest, OutgoingTextIsIso2022jpWhenItFitsElseUtf8) {
  setActiveCodePage(65001);
  const std::wstring subject = L"\u65E5\u672C\u8A9E\u306E\u4EF6\u540D", body = L"\u672C\u6587\uE000\u3067\u3059\r\nline <2>";
  const std::string asBefore = encode(subject, body);
  setActiveCodePage(932);
  EXPECT_EQ(asBefore, encode(subject, body)) << "byte for byte the 932 message";
  setActiveCodePage(65001);
  std::string m = encode(L"hei\u00DFe \U0001F385", L"Gr\u00FC\u00DFe aus Berlin und bis bald");
  // Mostly ASCII: quoted-printable; else Base64, and words of 45 bytes of whole characters.
  EXPECT_EQ(from(m, "Content-Type: text/plain"),
            "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
            "Gr=C3=BC=C3=9Fe aus Berlin und bis bald\r\n");
  m = encode(std::wstring(12, L'\U0001F385'), L"\u7D75\u6587\u5B57\U0001F385");
  EXPECT_NE(m.find("\r\nSubject: =?UTF-8?b?8J+OhfCfjoXwn46F8J+OhfCfjoXwn46F8J+OhfCfjoXwn46F8J+OhfCfjoU=?=\r\n"
                   " =?UTF-8?b?8J+OhQ==?=\r\n"),
            std::string::npos);
  EXPECT_EQ(from(m, "Content-Type: text/plain"),
            "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            "57W15paH5a2X8J+OhQ==\r\n");
  m = encode(L"p", L"\uE000 <b \U0001F385");  // an own pictogram and no Shift_JIS form: UTF-8 with tags
  EXPECT_NE(m.find("Content-Type: text/x-pmaildx; charset=\"UTF-8\"\r\n"), std::string::npos);
  EXPECT_EQ(decode(m).body, L"\uE000 <b \U0001F385");
  m = encode(L"s", std::wstring(L"caf\u00E9 ") + wchar_t(0xD800) + L" ok, merci beaucoup");
  EXPECT_NE(m.find("\r\n\r\ncaf=C3=A9 ? ok, merci beaucoup\r\n"), std::string::npos) << "a lone surrogate";
}

}  // namespace
}  // namespace oxm
