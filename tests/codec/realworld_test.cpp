// Shapes of real-world mail that must lose nothing: empty and phantom parts after boundary
// lines, boundaries that are the prefix of others, files with a Content-ID in HTML mail, and raw
// 8-bit header text, in both device code pages.
#include <string>
#include <vector>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;
using test::decode;

TEST_F(CodecTest, EmptyAndPhantomPartsKeepTheBody) {
  const struct {
    const char* what;
    std::string raw;
    const wchar_t* body;
    const wchar_t* html;
    size_t enclosures;
    size_t related;
  } cases[] = {
      {"last boundary not closed, then an empty line",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhello\n--b\n\n", L"hello", L"", 0,
       0},
      {"last boundary not closed, blanks after it, end of text",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nhello\n--b \t", L"hello", L"", 0, 0},
      {"an empty part between two text parts",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nfirst\n--b\n\n--b\n\nsecond\n--b--\n", L"first", L"", 1, 0},
      {"carrier decoration: the related level ends with a bare boundary line, and the outer boundary "
       "begins with the related boundary's text",
       "Content-Type: multipart/mixed; boundary=\"deco\"\n\n"
       "--deco\nContent-Type: multipart/related; boundary=\"dec\"\n\n"
       "--dec\nContent-Type: multipart/alternative; boundary=\"alt\"\n\n"
       "--alt\nContent-Type: text/plain; charset=us-ascii\n\nplain text\n"
       "--alt\nContent-Type: text/html; charset=us-ascii\n\n<p>html</p>\n--alt--\n"
       "--dec\nContent-Type: image/gif\nContent-ID: <pic1>\nContent-Transfer-Encoding: base64\n\nR0lG\n"
       "--dec\n"
       "--deco\nContent-Type: application/octet-stream; name=\"a.bin\"\nContent-Transfer-Encoding: base64\n\nAAEC\n"
       "--deco--\n",
       L"plain text", L"<p>html</p>", 1, 1},
      {"a boundary only as a whole line (blanks and a stray CR may follow it), not inside or in front of a longer line",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nline --b\n--bx\n--b--x\nend\n--b \r\r\n\nsecond\n--b--\n",
       L"line --b\r\n--bx\r\n--b--x\r\nend", L"", 1, 0},
  };
  for (const auto& c : cases) {
    const Email e = decode(c.raw);
    EXPECT_EQ(e.body, c.body) << c.what;
    EXPECT_EQ(e.htmlBody, c.html) << c.what;
    EXPECT_EQ(e.enclosures.size(), c.enclosures) << c.what;
    EXPECT_EQ(e.relatedFiles.size(), c.related) << c.what;
  }
  // The decoration's attachment starts after its boundary line and its own header.
  const Email e = decode(cases[3].raw);
  ASSERT_EQ(e.enclosures.size(), 1u);
  EXPECT_EQ(e.enclosures.front().displayName, L"a.bin");
  EXPECT_EQ(cases[3].raw.compare(e.enclosures.front().bodyOffset, 5, "AAEC\n"), 0);
}

// A web framework's mailer gives every attachment of an HTML mail a Content-ID: such a file
// stays a related file of the record, and GetEnclosure writes it like any enclosure.
TEST_F(CodecTest, ContentIdFilesOfHtmlMailCanBeWritten) {
  const std::string raw =
      "Subject: report\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
      "--m\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>see the file</p>\r\n"
      "--m\r\nContent-Type: application/zip; name=report.zip\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=report.zip\r\nContent-ID: <f1@example.jp>\r\n\r\n"
      "UEsDBHppcA==\r\n--m--\r\n";
  const Email e = decode(raw);
  EXPECT_EQ(e.htmlBody, L"<p>see the file</p>");
  EXPECT_TRUE(e.enclosures.empty());
  ASSERT_EQ(e.relatedFiles.size(), 1u);
  Enclosure zip = e.relatedFiles.front();
  EXPECT_EQ(zip.displayName, L"report.zip");
  EXPECT_EQ(zip.type + L"/" + zip.subtype, L"application/zip");
  EXPECT_EQ(zip.contentId, L"f1@example.jp");
  ASSERT_TRUE(CreateDirectoryW(L"\\out"));
  zip.folder = L"\\out";
  EmlCompose codec;
  ASSERT_TRUE(codec.GetEnclosure(raw, zip)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(test::readHostFile(root_.host("out/report.zip")), std::string("PK\x03\x04zip", 7));
}

// Header text without encoded words: valid UTF-8 with a multi-byte sequence is UTF-8, anything
// else keeps the Shift_JIS reading, in both code pages.
TEST_F(CodecTest, RawEightBitHeaderText) {
  const std::string utf8Kanri = "\xE7\xAE\xA1\xE7\x90\x86";  // 管理
  const std::string sjisKanri = "\x8A\xC7\x97\x9D";
  const std::string raw =
      "From: " + utf8Kanri + " <k@example.jp>\nSubject: " + utf8Kanri + "\xE3\x81\xAE\xE4\xBB\xB6 =?utf-8?b?566h55CG?= " +
      utf8Kanri + "\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nbody\n"
      "--b\nContent-Type: application/msword; name=\"" + utf8Kanri + ".doc\"\n\nx\n"
      "--b\nContent-Type: application/msword\nContent-Disposition: attachment; filename=" + sjisKanri + ".doc\n\ny\n--b--\n";
  for (const UINT page : {932u, 65001u}) {
    setActiveCodePage(page);
    const Email e = decode(raw);
    EXPECT_EQ(e.fromName, L"\"\u7ba1\u7406\"") << page;
    EXPECT_EQ(e.subject, L"\u7ba1\u7406\u306e\u4ef6 \u7ba1\u7406 \u7ba1\u7406") << page << ": raw text beside an encoded word";
    ASSERT_EQ(e.enclosures.size(), 2u);
    EXPECT_EQ(e.enclosures.front().displayName, L"\u7ba1\u7406.doc") << page;
    EXPECT_EQ(e.enclosures.back().displayName, L"\u7ba1\u7406.doc") << page << ": raw Shift_JIS as before";
    // Neither UTF-8 nor Shift_JIS: each bad byte is one replacement character.
    EXPECT_EQ(decode("Subject: ab\xFF\xFE" "cd\n\n").subject, L"ab\u30fb\u30fb" L"cd") << page;
  }
}

}  // namespace
}  // namespace oxm
