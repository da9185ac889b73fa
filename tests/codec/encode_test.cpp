// Encoding whole messages: exact header lines and their order, the multipart skeleton, the
// charsets and pictogram tags, replies, the envelope, and what a failure leaves behind.
#include <unistd.h>

#include <filesystem>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "tests/codec/codec_fixture.h"
#include "tests/codec/encode_cases.h"

namespace oxm {
namespace {

using test::CodecTest;
using test::EncodeCase;

class EncodeTest : public CodecTest {
 protected:
  // Puts the case's files under the device root and encodes its record.
  std::string encode(EncodeCase& c, RawEmail_S* raw = nullptr) {
    for (const auto& [path, bytes] : c.files) {
      std::filesystem::create_directories(std::filesystem::path(root_.host(path)).parent_path());
      test::writeHostFile(root_.host(path), bytes);
    }
    EmlCompose codec;
    std::string out;
    RawEmail_S scratch;
    EXPECT_TRUE(codec.Encode(&c.mail, &out, raw ? raw : &scratch)) << std::hex << GetOxMiddleError();
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
    return out;
  }
};

::testing::AssertionResult startsWith(const std::string& text, const std::string& prefix) {
  if (text.rfind(prefix, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the text begins " << ::testing::PrintToString(text.substr(0, prefix.size() + 16));
}

TEST_F(EncodeTest, PlainAsciiMessage) {
  EncodeCase c = test::plainAsciiCase();
  RawEmail_S raw;
  raw.recipients.push_back("earlier@example.jp");
  EXPECT_EQ(encode(c, &raw),
            "From: \"Taro\" <taro@example.jp>\r\n"
            "To: hanako@example.jp\r\n"
            "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
            "Subject: Lunch\r\n"
            "Mime-Version: 1.0\r\n"
            "X-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "\r\n"
            "See you at noon.\r\n"
            "\r\n");
  EXPECT_EQ(raw.envelopeFrom, "taro@example.jp");
  EXPECT_EQ(raw.recipients, (std::list<std::string>{"earlier@example.jp", "hanako@example.jp"}))
      << "appended, the display name dropped";
  EXPECT_EQ(c.mail.date.wYear, 2026);
  EXPECT_EQ(c.mail.date.wHour, 12) << "the record's date is the one written";
  EXPECT_EQ(c.mail.timeZone, L"+0900");
}

TEST_F(EncodeTest, JapaneseSubjectAndBody) {
  EncodeCase c = test::japaneseCase();
  EXPECT_EQ(encode(c),
            "From: \"Taro\" <taro@example.jp>\r\n"
            "To: hanako@example.jp\r\n"
            "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
            "Subject: =?iso-2022-jp?b?GyRCRnxLXDhsJE43b0w+GyhC?=\r\n"
            "Mime-Version: 1.0\r\n"
            "X-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
            "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
            "\r\n"
            "\x1b$B4A;z$r4^$`K\\J8$G$9!#\x1b(B\r\n"
            "\x1b$BFs9TL\\\x1b(B\r\n");
}

TEST_F(EncodeTest, OwnPictogramBecomesATagInPmaildx) {
  EncodeCase c = test::pictogramCase();
  const std::string out = encode(c);
  EXPECT_EQ(out.substr(out.find("Content-Type")),
            "Content-Type: text/x-pmaildx; charset=\"iso-2022-jp\"\r\n"
            "\r\n"
            "I <#HEART> you <<3\r\n")
      << "the pictogram as its tag, a plain \"<\" doubled";
  // A carrier pictogram (0xF89F, U+E63E) is no tag: plain text, its two bytes raw.
  c.mail.body = L"\u65e5\uE63E";
  const std::string carrier = encode(c);
  EXPECT_EQ(carrier.substr(carrier.find("Content-Type")),
            "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n\r\n\x1b$BF|\x1b(B\xF8\x9F\r\n");
}

TEST_F(EncodeTest, HtmlWithAttachmentIsRelatedAroundAlternative) {
  EncodeCase c = test::htmlAttachmentCase();
  EXPECT_EQ(encode(c),
            "From: \"Taro\" <taro@example.jp>\r\n"
            "To: hanako@example.jp\r\n"
            "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
            "Subject: Photo\r\n"
            "Mime-Version: 1.0\r\n"
            "X-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
            "Content-Type: multipart/related;\r\n"
            " boundary=\"next_bound_r2123\"\r\n"
            "\r\n"
            "This is a multipart message in Mime 1.0 format\r\n"
            "\r\n"
            "--next_bound_r2123\r\n"
            "Content-Type: multipart/alternative;\r\n"
            " boundary=\"next_bound_a3234\"\r\n"
            "\r\n"
            "--next_bound_a3234\r\n"
            "Content-Type: text/plain; charset=iso-2022-jp\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "See the photo.\r\n"
            "--next_bound_a3234\r\n"
            "Content-Type: text/html; charset=\"iso-2022-jp\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "<p>See the <b>photo</b>.</p>\r\n"
            "--next_bound_a3234--\r\n"
            "\r\n"
            "--next_bound_r2123\r\n"
            "Content-Type: image/jpeg;\r\n"
            " name=\"photo.jpg\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment;\r\n"
            " filename=\"photo.jpg\"\r\n"
            "\r\n"
            "/9j/4EpGSUY=\r\n"
            "--next_bound_r2123--\r\n");
  // Without the HTML body the same message is multipart/mixed.
  c.mail.htmlBody.clear();
  const std::string mixed = encode(c);
  EXPECT_NE(mixed.find("Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"\r\n\r\n"
                       "This is a multipart message in Mime 1.0 format\r\n\r\n--next_bound_m4345\r\n"
                       "Content-Type: text/plain; charset=us-ascii\r\n\r\nSee the photo.\r\n\r\n"
                       "--next_bound_m4345\r\nContent-Type: image/jpeg;"),
            std::string::npos)
      << mixed;
  EXPECT_EQ(mixed.substr(mixed.size() - 24), "\r\n--next_bound_m4345--\r\n");
}

TEST_F(EncodeTest, AddressListsAndReplyFields) {
  EncodeCase c = test::threeToCase();
  c.mail.cc = {L"cc@example.jp"};
  c.mail.bcc = {L"bcc@example.jp"};
  c.mail.replyTo = L"list@example.jp";
  RawEmail_S raw;
  std::string out = encode(c, &raw);
  EXPECT_EQ(out.substr(0, out.find("Mime-Version")),
            "From: \"Taro\" <taro@example.jp>\r\n"
            "To: a@example.jp,\r\n b@example.jp,\r\n c@example.jp\r\n"
            "Cc: cc@example.jp\r\n"
            "Bcc: bcc@example.jp\r\n"
            "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
            "Subject: Meeting\r\n"
            "Reply-To: list@example.jp\r\n");
  EXPECT_EQ(raw.recipients, (std::list<std::string>{"a@example.jp", "b@example.jp", "c@example.jp", "cc@example.jp",
                                                    "bcc@example.jp"}));

  c = test::replyCase();
  out = encode(c);
  EXPECT_EQ(out.substr(out.find("Subject"), out.find("X-Mailer") - out.find("Subject")),
            "Subject: Re: Lunch\r\n"
            "In-Reply-To: <orig@example.jp>\r\n"
            "References: <orig@example.jp>\r\n"
            "Mime-Version: 1.0\r\n");
  c = test::replyWithReferencesCase();
  out = encode(c);
  EXPECT_NE(out.find("\r\nIn-Reply-To: <orig@example.jp>\r\nReferences: <parent@example.jp> <orig@example.jp>\r\n"),
            std::string::npos)
      << "the answered message's own In-Reply-To comes first";
  c.mail.inReplyTo.clear();
  out = encode(c);
  EXPECT_NE(out.find("\r\nReferences: <root@example.jp> <orig@example.jp>\r\n"), std::string::npos);

  // Display names: quoted when plain ASCII, kept as they are with a quote of their own,
  // encoded words otherwise; a picture mail says so in X-Mailer.
  c = test::plainAsciiCase();
  c.mail.fromName = L"Doe, John";
  EXPECT_TRUE(startsWith(encode(c), "From: \"Doe, John\" <taro@example.jp>\r\nTo: "));
  c.mail.fromName = L"\"Doe\" Jr";
  EXPECT_TRUE(startsWith(encode(c), "From: \"Doe\" Jr <taro@example.jp>\r\n"));
  c.mail.fromName = L"お知らせ";
  EXPECT_TRUE(startsWith(encode(c), "From: =?iso-2022-jp?b?GyRCJCpDTiRpJDsbKEI=?= <taro@example.jp>\r\n"));
  c.mail.fromName.clear();
  c.mail.pictureMail = true;
  out = encode(c);
  EXPECT_TRUE(startsWith(out, "From: taro@example.jp\r\n"));
  EXPECT_NE(out.find("\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM) [PictureMail]\r\n"), std::string::npos);
}

TEST_F(EncodeTest, HeaderWordsAreChunkedByTheirJisLength) {
  EncodeCase c = test::plainAsciiCase();
  // 30 kanji: 12 per word (8 give 22 bytes of ISO-2022-JP, 12 give 30), then 12, then 6.
  c.mail.subject = std::wstring(30, L'\u65e5');
  std::string out = encode(c);
  const size_t s = out.find("Subject: ");
  EXPECT_EQ(out.substr(s, out.find("\r\nMime") - s),
            "Subject: =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8RnxGfEZ8RnxGfEZ8GyhC?=\r\n"
            " =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8RnxGfEZ8RnxGfEZ8GyhC?=\r\n"
            " =?iso-2022-jp?b?GyRCRnxGfEZ8RnxGfEZ8GyhC?=");
  // Mixed text: a word closes at the character that reaches 29 bytes.
  c.mail.subject = L"Re: お知らせです";
  out = encode(c);
  EXPECT_NE(out.find("\r\nSubject: =?iso-2022-jp?b?UmU6IBskQiQqQ04kaSQ7JEckORsoQg==?=\r\n"), std::string::npos);
  // A line break in a header text cannot end the field early.
  c.mail.subject = L"one\r\nBcc: x@example.jp";
  out = encode(c);
  EXPECT_NE(out.find("\r\nSubject: one  Bcc: x@example.jp\r\n"), std::string::npos);
}

TEST_F(EncodeTest, LongLinesAreBrokenAt300Characters) {
  EncodeCase c = test::plainAsciiCase();
  c.mail.body = std::wstring(301, L'\u3042');  // hiragana A, JIS 0x2422
  std::string out = encode(c);
  std::string jisLine = "\x1b$B";
  for (int i = 0; i < 300; ++i) jisLine += "$\"";
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), jisLine + "\x1b(B\r\n\x1b$B$\"\x1b(B\r\n")
      << "301 characters: the break comes after 300";
  // A "<" among the 13 characters before the break takes the break before it.
  c.mail.body = std::wstring(295, L'a') + L"<tag>bcd";
  out = encode(c);
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), std::string(295, 'a') + "\r\n<tag>bcd\r\n");
  // Pictogram tags lengthen a line after the first break: the ISO-2022-JP text is broken
  // again, counting a two-byte character as one, without splitting a tag, and a run of
  // two-byte characters is closed before the LF and opened again after it.
  c.mail.body = std::wstring(290, L'\u3042') + L"\uE000\uE000";
  out = encode(c);
  std::string expected = "\x1b$B";
  for (int i = 0; i < 290; ++i) expected += "$\"";
  expected += "\x1b(B<#HEART>\r\n<#HEART>\r\n";
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), expected);
  c.mail.body = std::wstring(280, L'x') + L"\uE000\uE000\uE000" + std::wstring(10, L'\u3042');
  out = encode(c);
  expected = std::string(280, 'x') + "<#HEART><#HEART>\r\n<#HEART>\x1b$B";
  for (int i = 0; i < 10; ++i) expected += "$\"";
  expected += "\x1b(B\r\n";
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), expected);
  c.mail.body = std::wstring(300, L'x') + L"\uE000" + std::wstring(305, L'\u3042');
  out = encode(c);
  expected = std::string(300, 'x') + "\r\n<#HEART>\x1b$B";
  for (int i = 0; i < 292; ++i) expected += "$\"";
  expected += "\x1b(B\r\n\x1b$B";
  for (int i = 0; i < 7; ++i) expected += "$\"";
  expected += "\x1b(B\r\n\x1b$B";
  for (int i = 0; i < 6; ++i) expected += "$\"";
  expected += "\x1b(B\r\n";
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), expected);
  // Feed messages are not broken.
  c.mail.feedMessage = true;
  c.mail.body = std::wstring(400, L'y');
  out = encode(c);
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), std::string(400, 'y') + "\r\n");
}

TEST_F(EncodeTest, QuotedPrintableHtml) {
  EncodeCase c = test::plainAsciiCase();
  c.mail.body = L"x";
  c.mail.htmlBody = L"a=b\t\u65e5\r\n.dot\r\n" + std::wstring(80, L'z');
  const std::string out = encode(c);
  const size_t at = out.find("quoted-printable\r\n\r\n") + 20;
  EXPECT_EQ(out.substr(at, out.find("\r\n--next_bound_a3234--") - at),
            "a=3Db\t=1B$BF|=1B(B\r\n"
            "=2Edot\r\n" +
                std::string(72, 'z') + "=\r\n" + std::string(8, 'z'));
}

TEST_F(EncodeTest, RelatedFilesAreInlineWithTheirContentId) {
  EncodeCase c = test::htmlAttachmentCase();
  c.mail.enclosures.clear();
  Enclosure picture = test::attachment(L"att", L"photo.jpg");
  picture.contentId = L"pic1@example.jp";
  c.mail.relatedFiles.push_back(picture);
  const std::string out = encode(c);
  EXPECT_NE(out.find("--next_bound_a3234--\r\n\r\n--next_bound_r2123\r\n"
                     "Content-Type: image/jpeg;\r\n name=\"photo.jpg\"\r\nContent-Transfer-Encoding: base64\r\n"
                     "Content-Disposition: inline;\r\n filename=\"photo.jpg\"\r\nContent-ID: <pic1@example.jp>\r\n\r\n"
                     "/9j/4EpGSUY=\r\n--next_bound_r2123--\r\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(c.mail.relatedFiles.front().inlineDisposition);
}

TEST_F(EncodeTest, MissingAndUnreadableFilesLeaveNothingBehind) {
  EncodeCase c = test::htmlAttachmentCase();
  c.mail.enclosures.push_back(test::attachment(L"att", L"missing.pdf"));
  EmlCompose codec;
  std::string out = "untouched";
  RawEmail_S raw;
  raw.envelopeFrom = "kept";
  const SYSTEMTIME before = c.mail.date;
  std::filesystem::create_directories(root_.host("att"));
  test::writeHostFile(root_.host("att/photo.jpg"), "x");
  EXPECT_FALSE(codec.Encode(&c.mail, &out, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(raw.envelopeFrom, "kept");
  EXPECT_TRUE(raw.recipients.empty());
  EXPECT_EQ(c.mail.date.wYear, before.wYear) << "the record's date is set only on success";
  // A path that exists but cannot be read (a directory).
  c.mail.enclosures.back() = test::attachment(L"", L"att");
  debugCaptureStart();
  EXPECT_FALSE(codec.Encode(&c.mail, &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_READ);
  EXPECT_NE(debugCaptured().find(L"encodeFile() open ERROR ["), std::wstring::npos);
  debugCaptureStop();
  EXPECT_EQ(out, "untouched");
  // A file that cannot be opened at all.
  std::filesystem::create_directories(root_.host("locked"));
  test::writeHostFile(root_.host("locked/a.bin"), "secret");
  std::filesystem::permissions(root_.host("locked/a.bin"), std::filesystem::perms::none);
  c.mail.enclosures.back() = test::attachment(L"locked", L"a.bin");
  if (::geteuid() != 0) {
    EXPECT_FALSE(codec.Encode(&c.mail, &out));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_READ);
  }
  // Null arguments.
  EXPECT_FALSE(codec.Encode(nullptr, &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_FALSE(codec.Encode(&c.mail, static_cast<std::string*>(nullptr)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
  RawEmail_S noData;
  EXPECT_FALSE(codec.Encode(&c.mail, &noData));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
}

TEST_F(EncodeTest, MemoryShortageInTheLastStepEmptiesTheOutput) {
  EncodeCase c = test::plainAsciiCase();
  c.mail.body = std::wstring(60000, L'a');
  setHeapProbeLimit(51200);
  EmlCompose codec;
  std::string out = "old";
  EXPECT_FALSE(codec.Encode(&c.mail, &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(out, "");
}

// Every composed case decodes back to what was composed; the attachments come back byte for
// byte. The display name comes back in double quotes, as the decoder keeps it.
TEST_F(EncodeTest, EveryCaseDecodesBack) {
  EmlCompose codec;
  for (EncodeCase c : test::allEncodeCases()) {
    SCOPED_TRACE(c.name);
    const Email sent = c.mail;
    const std::string raw = encode(c);
    const Email back = test::decode(raw);
    EXPECT_EQ(back.subject, sent.subject);
    EXPECT_EQ(back.from, sent.from);
    EXPECT_EQ(back.fromName, sent.fromName.empty() ? L"" : L"\"" + sent.fromName + L"\"");
    std::list<std::wstring> to;
    for (const std::wstring& entry : sent.to) {
      const size_t lt = entry.find(L'<');
      to.push_back(lt == std::wstring::npos ? entry : entry.substr(lt + 1, entry.find(L'>') - lt - 1));
    }
    EXPECT_EQ(back.to, to) << "bare addresses only";
    EXPECT_EQ(back.cc, sent.cc);
    EXPECT_EQ(back.body, sent.body);
    EXPECT_EQ(back.htmlBody, sent.htmlBody);
    EXPECT_EQ(back.inReplyTo, sent.messageId);
    ASSERT_EQ(back.enclosures.size(), sent.enclosures.size());
    std::filesystem::create_directories(root_.host("back"));
    size_t i = 0;
    for (Enclosure e : back.enclosures) {
      EXPECT_EQ(e.displayName, std::next(sent.enclosures.begin(), static_cast<long>(i))->name);
      e.folder = L"back";
      e.name = L"part" + std::to_wstring(i);
      std::filesystem::remove(root_.host("back/part" + std::to_string(i)));
      ASSERT_TRUE(codec.GetEnclosure(raw, e));
      EXPECT_EQ(test::readHostFile(root_.host("back/part" + std::to_string(i))), c.files[i].second);
      ++i;
    }
  }
}

}  // namespace
}  // namespace oxm
