// HTML made for feed messages, HTML mail templates on disk, and the HTML part of feed messages.
#include "codec/html_creater.h"
#include "codec/html_mail.h"
#include "platform/fault.h"
#include "platform/syserr.h"
#include "tests/codec/codec_fixture.h"
#include "tests/codec/encode_cases.h"

namespace oxm {
namespace {

using namespace test;

// A template of Japanese HTML, a related picture and an attached document.
class TemplateTest : public CodecTest {
 protected:
  void SetUp() override {
    CodecTest::SetUp();
    put("files/pic.gif", "GIF89a");
    put("files/doc.pdf", "%PDF");
    std::filesystem::create_directories(root_.host("tmpl"));
    mail_.htmlBody = L"<p>日本</p>\r\n<img src=\"cid:pic@x\">";
    mail_.relatedFiles.push_back(attachment(L"files", L"pic.gif"));
    mail_.relatedFiles.back().contentId = L"pic@x";
    mail_.enclosures.push_back(attachment(L"files", L"doc.pdf"));
  }
  std::string saved() const { return readHostFile(root_.host("tmpl/a.tpl")); }
  Email mail_;
  const std::wstring path_ = L"tmpl\\a.tpl";
};

TEST_F(TemplateTest, SavedLoadedBackAndFailures) {
  ASSERT_TRUE(codec_.SaveHtmlTemplate(&mail_, &path_)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(saved(), "K-HTML-MAIL-TEMPLATE\r\nMime-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"\r\n\r\n"
                     "--next_bound_m4345\r\nContent-Type: text/html; charset=\"shift_jis\"\r\n"
                     "Content-Transfer-Encoding: 8bit\r\n\r\n"
                     "<p>\x93\xfa\x96\x7b</p>\r\n<img src=\"cid:pic@x\">\r\n\r\n"
                     "--next_bound_m4345\r\nContent-Type: image/gif;\r\n name=\"pic.gif\"\r\n"
                     "Content-Transfer-Encoding: base64\r\nContent-Disposition: inline;\r\n filename=\"pic.gif\"\r\n"
                     "Content-ID: <pic@x>\r\n\r\nR0lGODlh\r\n\r\n"
                     "--next_bound_m4345\r\nContent-Type: application/pdf;\r\n name=\"doc.pdf\"\r\n"
                     "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n filename=\"doc.pdf\"\r\n"
                     "\r\nJVBERg==\r\n--next_bound_m4345--");
  Email loaded;
  loaded.subject = L"cleared on load";
  std::string raw;
  ASSERT_TRUE(codec_.LoadHtmlTemplate(&loaded, &path_, &raw)) << std::hex << GetOxMiddleError();
  ASSERT_EQ(names(loaded.relatedFiles), std::vector<std::wstring>{L"pic.gif"});
  ASSERT_EQ(names(loaded.enclosures), std::vector<std::wstring>{L"doc.pdf"});
  EXPECT_EQ(loaded.htmlBody + L"|" + loaded.subject + L"|" + loaded.relatedFiles.front().contentId,
            mail_.htmlBody + L"||pic@x");
  for (Enclosure e : {loaded.enclosures.front(), loaded.relatedFiles.front()}) {  // back out of the raw text
    e.folder = L"files";
    e.name = L"back-" + e.name;
    ASSERT_TRUE(codec_.GetEnclosure(raw, e));
  }
  EXPECT_EQ(readHostFile(root_.host("files/back-doc.pdf")) + readHostFile(root_.host("files/back-pic.gif")), "%PDFGIF89a");
  // Bad files load nothing; a save that fails keeps the template that was there.
  raw = "untouched";
  put("tmpl/other.tpl", "K-HTML-MAIL-TEMPLATES\r\nMime-Version: 1.0\r\n\r\n");
  const std::wstring other = L"tmpl/other.tpl", none = L"tmpl/none.tpl";
  EXPECT_EQ(failure(codec_.LoadHtmlTemplate(&loaded, &other, &raw)), 0xFFFFFFFFu) << "the first line is not the magic";
  EXPECT_EQ(raw, "untouched");
  EXPECT_EQ(failure(codec_.LoadHtmlTemplate(&loaded, &none, &raw)), OXMDL_ERR_HTML_NO_TEMPLATE);
  const std::string before = saved();
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  EXPECT_EQ(failure(codec_.SaveHtmlTemplate(&mail_, &path_)), OXMDL_ERR_FILE_DISK_FULL);
  EXPECT_EQ(saved(), before);
  EXPECT_FALSE(hostFileExists(root_.host("tmpl/a.tpl_tmp")));
}

TEST_F(TemplateTest, FeedHtmlAndItsPart) {
  Email m;
  m.body = L"<b>News</b> of the day";
  m.dateText = L"Fri, 02 Jan 2026";
  m.enclosures.push_back(attachment(L"", L"item1.jpg"));
  HtmlCreater creater;
  ASSERT_TRUE(creater.CreateHtml(m));
  EXPECT_EQ(m.htmlBody, L"<html>\r\n<body>\r\n\r\n<b>News</b> of the day\r\n<div align=\"right\">Fri, 02 Jan 2026</div>"
                        L"<img src=\"Application Data/Rivulet/Tmp/item1.jpg\">\r\n\r\n</body>\r\n</html>\r\n");
  m.body = L"changed";
  EXPECT_TRUE(creater.CreateHtml(m));
  EXPECT_EQ(m.htmlBody.substr(0, 23), L"<html>\r\n<body>\r\n\r\n<b>Ne") << "an HTML body is kept";
  Email empty;
  EXPECT_FALSE(creater.CreateHtml(empty) || !empty.htmlBody.empty());
  EXPECT_EQ(decode("X-Tmr-Rivulet: contents\nDate: Fri, 02 Jan 2026\n\nitem text\n").htmlBody,
            L"<html>\r\n<body>\r\n\r\nitem text\r\n<div align=\"right\">Fri, 02 Jan 2026</div>\r\n</body>\r\n</html>\r\n");
  EXPECT_TRUE(decode("Subject: s\n\nplain\n").htmlBody.empty()) << "only feed messages get it";
  Email feed;
  feed.feedMessage = true;
  feed.htmlBody = L"<p>x</p>";
  feed.relatedFiles = mail_.relatedFiles;
  std::string out = "head\n";
  ASSERT_TRUE(makeHtmlField(out, &feed));
  EXPECT_EQ(out, "head\nContent-Type: multipart/related;\n boundary=\"-----2123=next_bound=8273----\"\n"
                 "\n-------2123=next_bound=8273----\nContent-Type: text/html; charset=us-ascii\n\n<p>x</p>"
                 "\n\n-------2123=next_bound=8273----\n"
                 "Content-Type: image/gif;\n name=\"pic.gif\"\nContent-Transfer-Encoding: base64\n"
                 "Content-Disposition: inline;\n filename=\"pic.gif\"\nContent-ID: <pic@x>\n\nR0lGODlh");
  feed.relatedFiles.clear();  // Japanese HTML without pictures: ISO-2022-JP, no related level
  feed.htmlBody = L"日本";
  out.clear();
  ASSERT_TRUE(makeHtmlField(out, &feed));
  EXPECT_EQ(out, "Content-Type: text/html; charset=\"iso-2022-jp\"\n\n\x1b$BF|K\\\x1b(B");
}

}  // namespace
}  // namespace oxm
