// HTML made for feed messages, HTML mail templates on disk, and the HTML part of feed messages.
#include <filesystem>

#include "codec/emlcompose.h"
#include "codec/html_creater.h"
#include "codec/html_mail.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fault.h"
#include "platform/syserr.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;

TEST_F(CodecTest, HtmlMadeForFeedMessages) {
  Email m;
  m.body = L"<b>News</b> of the day";
  m.dateText = L"Fri, 02 Jan 2026";
  Enclosure picture;
  picture.name = L"item1.jpg";
  m.enclosures.push_back(picture);
  HtmlCreater creater;
  ASSERT_TRUE(creater.CreateHtml(m));
  EXPECT_EQ(m.htmlBody,
            L"<html>\r\n<body>\r\n\r\n<b>News</b> of the day\r\n<div align=\"right\">Fri, 02 Jan 2026</div>"
            L"<img src=\"Application Data/Rivulet/Tmp/item1.jpg\">\r\n\r\n</body>\r\n</html>\r\n");
  m.body = L"changed";
  EXPECT_TRUE(creater.CreateHtml(m));
  EXPECT_EQ(m.htmlBody.substr(0, 23), L"<html>\r\n<body>\r\n\r\n<b>Ne") << "an HTML body is kept";
  Email empty;
  EXPECT_FALSE(creater.CreateHtml(empty));
  EXPECT_TRUE(empty.htmlBody.empty());

  // The decoder makes it for every feed message, and for no other.
  Email feed = test::decode("X-Tmr-Rivulet: contents\nDate: Fri, 02 Jan 2026 09:00:00 +0900\n\nitem text\n");
  EXPECT_EQ(feed.htmlBody,
            L"<html>\r\n<body>\r\n\r\nitem text\r\n<div align=\"right\">Fri, 02 Jan 2026 09:00:00 +0900</div>"
            L"\r\n</body>\r\n</html>\r\n");
  EXPECT_TRUE(test::decode("Subject: s\n\nplain\n").htmlBody.empty());
}

class TemplateTest : public CodecTest {
 protected:
  void SetUp() override {
    CodecTest::SetUp();
    std::filesystem::create_directories(root_.host("files"));
    std::filesystem::create_directories(root_.host("tmpl"));
    test::writeHostFile(root_.host("files/pic.gif"), "GIF89a");
    test::writeHostFile(root_.host("files/doc.pdf"), "%PDF");
    mail_.htmlBody = L"<p>日本</p>\r\n<img src=\"cid:pic@x\">";
    Enclosure pic;
    pic.folder = L"files";
    pic.name = L"pic.gif";
    pic.contentId = L"pic@x";
    mail_.relatedFiles.push_back(pic);
    Enclosure doc;
    doc.folder = L"files";
    doc.name = L"doc.pdf";
    mail_.enclosures.push_back(doc);
  }
  Email mail_;
  const std::wstring path_ = L"tmpl\\a.tpl";
};

TEST_F(TemplateTest, SavedAndLoadedBack) {
  EmlCompose codec;
  debugCaptureStart();
  ASSERT_TRUE(codec.SaveHtmlTemplate(&mail_, &path_)) << std::hex << GetOxMiddleError();
  EXPECT_NE(debugCaptured().find(L"SaveHtmlTemplate() start\r\n"), std::wstring::npos);
  EXPECT_NE(debugCaptured().find(L"EmlCompose::EncodeHtmlTemplate() end\r\n"), std::wstring::npos);
  debugCaptureStop();
  EXPECT_EQ(test::readHostFile(root_.host("tmpl/a.tpl")),
            "K-HTML-MAIL-TEMPLATE\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: multipart/mixed;\r\n"
            " boundary=\"next_bound_m4345\"\r\n"
            "\r\n"
            "--next_bound_m4345\r\n"
            "Content-Type: text/html; charset=\"shift_jis\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "\r\n"
            "<p>\x93\xfa\x96\x7b</p>\r\n<img src=\"cid:pic@x\">\r\n"
            "\r\n"
            "--next_bound_m4345\r\n"
            "Content-Type: image/gif;\r\n name=\"pic.gif\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: inline;\r\n filename=\"pic.gif\"\r\n"
            "Content-ID: <pic@x>\r\n"
            "\r\n"
            "R0lGODlh\r\n"
            "\r\n"
            "--next_bound_m4345\r\n"
            "Content-Type: application/pdf;\r\n name=\"doc.pdf\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment;\r\n filename=\"doc.pdf\"\r\n"
            "\r\n"
            "JVBERg==\r\n"
            "--next_bound_m4345--");
  EXPECT_FALSE(test::hostFileExists(root_.host("tmpl/a.tpl_tmp")));

  Email loaded;
  loaded.subject = L"cleared on load";
  std::string raw;
  ASSERT_TRUE(codec.LoadHtmlTemplate(&loaded, &path_, &raw)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(loaded.htmlBody, mail_.htmlBody);
  EXPECT_TRUE(loaded.subject.empty());
  ASSERT_EQ(loaded.relatedFiles.size(), 1u);
  EXPECT_EQ(loaded.relatedFiles.front().displayName, L"pic.gif");
  EXPECT_EQ(loaded.relatedFiles.front().contentId, L"pic@x");
  ASSERT_EQ(loaded.enclosures.size(), 1u);
  EXPECT_EQ(loaded.enclosures.front().displayName, L"doc.pdf");
  // The files come back out of the raw text.
  std::filesystem::create_directories(root_.host("out"));
  Enclosure doc = loaded.enclosures.front();
  doc.folder = L"out";
  ASSERT_TRUE(codec.GetEnclosure(raw, doc));
  EXPECT_EQ(test::readHostFile(root_.host("out/doc.pdf")), "%PDF");
  Enclosure pic = loaded.relatedFiles.front();
  pic.folder = L"out";
  ASSERT_TRUE(codec.GetEnclosure(raw, pic));
  EXPECT_EQ(test::readHostFile(root_.host("out/pic.gif")), "GIF89a");
}

TEST_F(TemplateTest, BadFilesAndFailedSaves) {
  EmlCompose codec;
  Email loaded;
  std::string raw = "untouched";
  test::writeHostFile(root_.host("tmpl/other.tpl"), "K-HTML-MAIL-TEMPLATES\r\nMime-Version: 1.0\r\n\r\n");
  const std::wstring other = L"tmpl/other.tpl";
  EXPECT_FALSE(codec.LoadHtmlTemplate(&loaded, &other, &raw));
  EXPECT_EQ(GetOxMiddleError(), 0xFFFFFFFFu) << "the first line is not the magic line";
  EXPECT_EQ(raw, "untouched");
  const std::wstring none = L"tmpl/none.tpl";
  EXPECT_FALSE(codec.LoadHtmlTemplate(&loaded, &none, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_HTML_NO_TEMPLATE);
  EXPECT_FALSE(codec.LoadHtmlTemplate(nullptr, &path_, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);

  // A save that fails keeps the template that was there.
  ASSERT_TRUE(codec.SaveHtmlTemplate(&mail_, &path_));
  const std::string saved = test::readHostFile(root_.host("tmpl/a.tpl"));
  Email broken = mail_;
  broken.enclosures.front().name = L"gone.pdf";
  EXPECT_FALSE(codec.SaveHtmlTemplate(&broken, &path_));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(test::readHostFile(root_.host("tmpl/a.tpl")), saved);
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  EXPECT_FALSE(codec.SaveHtmlTemplate(&mail_, &path_));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_DISK_FULL);
  EXPECT_EQ(test::readHostFile(root_.host("tmpl/a.tpl")), saved);
  EXPECT_FALSE(test::hostFileExists(root_.host("tmpl/a.tpl_tmp")));
  const std::wstring nowhere = L"no/such/dir/a.tpl";
  EXPECT_FALSE(codec.SaveHtmlTemplate(&mail_, &nowhere));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_OPEN);
}

TEST_F(TemplateTest, FeedHtmlPartWithItsPictures) {
  Email feed;
  feed.feedMessage = true;
  feed.htmlBody = L"<p>x</p>";
  feed.relatedFiles = mail_.relatedFiles;
  std::string out = "head\n";
  ASSERT_TRUE(makeHtmlField(out, &feed));
  EXPECT_EQ(out,
            "head\n"
            "Content-Type: multipart/related;\n boundary=\"-----2123=next_bound=8273----\"\n"
            "\n-------2123=next_bound=8273----\n"
            "Content-Type: text/html; charset=us-ascii\n\n<p>x</p>"
            "\n\n-------2123=next_bound=8273----\n"
            "Content-Type: image/gif;\n name=\"pic.gif\"\nContent-Transfer-Encoding: base64\n"
            "Content-Disposition: inline;\n filename=\"pic.gif\"\nContent-ID: <pic@x>\n\nR0lGODlh");
  // Japanese HTML without pictures: ISO-2022-JP, no related level.
  feed.relatedFiles.clear();
  feed.htmlBody = L"日本";
  out.clear();
  ASSERT_TRUE(makeHtmlField(out, &feed));
  EXPECT_EQ(out, "Content-Type: text/html; charset=\"iso-2022-jp\"\n\n\x1b$BF|K\\\x1b(B");
  feed.relatedFiles = mail_.relatedFiles;
  feed.relatedFiles.front().name = L"gone.gif";
  out = "kept";
  EXPECT_FALSE(makeHtmlField(out, &feed));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(out, "kept");
}

}  // namespace
}  // namespace oxm
