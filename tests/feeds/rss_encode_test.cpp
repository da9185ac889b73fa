// Feed items as message text (EmlCompose::RssEncode), and the today display reading them back.
#include <filesystem>
#include <functional>

#include "codec/emlcompose.h"
#include "feeds/rss_today.h"
#include "frame/oxerror.h"
#include "platform/codepage.h"
#include "platform/fault.h"
#include "platform/memory.h"
#include "tests/support/pictures.h"
#include "tests/support/testroot.h"

namespace oxm::test {
namespace {

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // enclosures name only what they set

const std::wstring kTmp = L"Application Data/Rivulet/Tmp/";
const Enclosure kRemoteContents{.boundary = L"1234", .disposition = L"message/rfc822", .filename = L"http://c/c.eml"};
const Enclosure kRemotePicture{.folder = L"http://c/p.jpg", .link = L"http://c/1", .type = L"120", .subtype = L"90"};

// An item as the feed client fills the record, with these enclosures.
Email item(std::list<Enclosure> enclosures = {}) {
  return {.from = L"News", .replyTo = L"http://c/1", .messageId = L"m1", .references = L"http://c/", .subject = L"One",
          .body = L"First line", .enclosures = std::move(enclosures), .dateText = L"Mon, 07 Dec 2026 10:00:00 +0900",
          .mlName = L"news"};
}
Enclosure fetched(const wchar_t* name) { return {.name = name, .folder = kTmp, .extracted = true}; }
Email withPicture() { return item({fetched(L"image.jpg"), fetched(L"image_small.jpg"), fetched(L"image_large.jpg")}); }

// item()'s header up to "x-ml-name" and after it, and its body.
const std::string kTop =
    "X-Tmr-Rivulet\r\nFrom: News\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\nSubject: One\r\nx-ml-name: news\r\n";
const std::string kRest = "Reply-To: http://c/1\r\nMessage-Id: m1\r\nIn-Reply-To: http://c/\r\nMime-Version: 1.0\r\n";
const std::string kPlain = "Content-Type: text/plain; charset=us-ascii\r\n\r\nFirst line";

class RssEncodeTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    setActiveCodePage(932);
    std::filesystem::create_directories(host(""));
    put("image.jpg", "abc");
    put("image_small.jpg", "SMALL");
    put("image_large.jpg", "LARGE");
  }
  std::string host(const std::string& name) const { return root_.host("Application Data/Rivulet/Tmp/" + name); }
  void put(const std::string& name, const std::string& bytes) { writeHostFile(host(name), bytes); }
  std::string encode(Email mail) {
    std::string out = "stale";
    EXPECT_TRUE(EmlCompose().RssEncode(&mail, &out) && mail.feedMessage) << std::hex << GetOxMiddleError();
    return out;
  }
};

TEST_F(RssEncodeTest, ItemsEncodeByteForByte) {
  Email html = item(), download = item({kRemoteContents, kRemotePicture}), bare;
  html.htmlBody = L"<p>First line</p>";
  download.feedDownloadValue = L"42";
  bare.from = L"Example News";
  const struct { const char* name; Email mail; std::string expected; } cases[] = {
      {"picture fetched: attachments, no X-Feed-Image", item({fetched(L"image.jpg"), fetched(L"image_small.jpg")}),
       kTop + kRest +
           "Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"\r\n"
           "\r\nThis is a multipart message in Mime 1.0 format\r\n\r\n--next_bound_m4345\r\n" + kPlain +
           "\r\n\r\n--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"image.jpg\"\r\n"
           "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n filename=\"image.jpg\"\r\n"
           "\r\nYWJj\r\n\r\n--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"image_small.jpg\"\r\n"
           "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n filename=\"image_small.jpg\"\r\n"
           "\r\nU01BTEw=\r\n--next_bound_m4345--"},
      {"picture not fetched: X-Feed-Image, no attachment", item({kRemotePicture}),
       kTop + kRest + "X-Feed-Image: http://c/p.jpg\r\n" + kPlain},
      {"HTML body without enclosure: multipart/alternative only", html,
       kTop + kRest +
           "Content-Type: multipart/alternative;\r\n boundary=\"next_bound_a3234\"\r\n"
           "\r\nThis is a multipart message in Mime 1.0 format\r\n\r\n--next_bound_a3234\r\n"
           "Content-Type: text/plain; charset=iso-2022-jp\r\nContent-Transfer-Encoding: 7bit\r\n\r\nFirst line"
           "\r\n--next_bound_a3234\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>First line</p>"
           "\r\n--next_bound_a3234--"},
      {"contents and picture not fetched: X-Feed-Download, X-Feed-Contents, X-Feed-Image", download,
       kTop + "X-Feed-Download: 42\r\n" + kRest + "X-Feed-Contents: http://c/c.eml\r\n" +
           "X-Feed-Image: http://c/p.jpg\r\n" + kPlain},
      {"only the fields that are always there", bare,
       "X-Tmr-Rivulet\r\nFrom: Example News\r\nSubject: \r\nx-ml-name: \r\nMime-Version: 1.0\r\n"
       "Content-Type: text/plain; charset=us-ascii\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.mail), c.expected);
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  }
  // A picture file that is gone: no text, and the code says which.
  std::filesystem::remove(host("image_large.jpg"));
  Email mail = withPicture();
  std::string out = "stale";
  EXPECT_FALSE(EmlCompose().RssEncode(&mail, &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(out, "");
}

// One picture out of a stored message: written whole, or refused with its code and no file.
TEST_F(RssEncodeTest, GetImageWritesWholeOrNothing) {
  const std::string good = encode(withPicture());
  const std::string uu =
      "X-Tmr-Rivulet\r\nSubject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
      "Content-Type: image/jpeg; name=\"image.jpg\"\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n"
      "plain text\r\n--b--\r\n";
  const struct { const char* name; const std::string& raw; std::function<void()> arm; unsigned code; } cases[] = {
      {"written", good, [] {}, OXMDL_ERR_NONE},
      {"memory", good, [&] { setFixedAvailPhys(2 * good.size()); }, OXMDL_ERR_MEM_SHORTAGE},
      {"open", good, [] { fault::failNth(fault::Op::Open, 1, 5, -1); }, OXMDL_ERR_FILE_OPEN},
      {"short write", good, [] { fault::failNth(fault::Op::Write, 1, 28, -1); }, OXMDL_ERR_FILE_DISK_FULL},
      {"uudecode", uu, [] {}, OXMDL_ERR_MIME_DECODE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(host("image.jpg"));
    Email stored;
    ASSERT_TRUE(EmlCompose().Decode(&stored, &c.raw) && !stored.enclosures.empty());
    c.arm();
    EXPECT_EQ(RssGetImage(c.raw, stored.enclosures.front()), c.code == OXMDL_ERR_NONE);
    fault::reset();
    setFixedAvailPhys(std::nullopt);
    EXPECT_EQ(GetOxMiddleError(), c.code) << std::hex << GetOxMiddleError();
    EXPECT_EQ(hostFileExists(host("image.jpg")) ? readHostFile(host("image.jpg")) : "-", c.code == OXMDL_ERR_NONE ? "abc" : "-");
  }
}

// The message's own copy, else the weather picture, else the default copy, else one made from the
// 208 x 156 default picture when memory allows. today: today.jpg's bytes, "WxH" of a JPEG, "-" none.
TEST_F(RssEncodeTest, TodayImageFromCopiesWeatherOrDefault) {
  const std::string copies = encode(withPicture());
  const std::string none = encode(item({fetched(L"image.jpg")}));
  const struct { const char* name; const std::string& raw; bool small; const char *weather, *fallback; bool tidal;
                 uint64_t memory; unsigned code; std::string today; } cases[] = {
      {"small copy", copies, true, "weather_small.jpg", nullptr, false, 1 << 30, OXMDL_ERR_NONE, "SMALL"},
      {"large copy", copies, false, nullptr, nullptr, false, 1 << 30, OXMDL_ERR_NONE, "LARGE"},
      {"weather large", none, false, "weather_large.jpg", "default_large.jpg", false, 1 << 30, OXMDL_ERR_NONE,
       "WEATHER"},
      {"default copy", none, true, nullptr, "default_small.jpg", false, 1 << 30, OXMDL_ERR_NONE, "DEFAULT"},
      {"made small", none, true, nullptr, nullptr, true, 0x300000, OXMDL_ERR_NONE, "48x36"},
      {"made large", none, false, nullptr, nullptr, true, 0x300000, OXMDL_ERR_NONE, "104x78"},
      {"memory short", none, true, nullptr, nullptr, true, 0x2FFFFF, OXMDL_ERR_MEM_SHORTAGE, "-"},
      {"no default picture", none, true, nullptr, nullptr, false, 1 << 30, OXMDL_ERR_FILE_OPEN, "-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(host(""));
    std::filesystem::create_directories(host(""));
    std::filesystem::remove(root_.host("Windows/TIDAL.jpg"));
    if (c.weather) put(c.weather, "WEATHER");
    if (c.fallback) put(c.fallback, "DEFAULT");
    ASSERT_TRUE(!c.tidal || MakeDefaultTodayPicture());
    setFixedAvailPhys(c.memory);
    std::wstring path;
    EXPECT_EQ(RssGetTodayImage(c.raw, &path, c.small), c.code == OXMDL_ERR_NONE);
    setFixedAvailPhys(std::nullopt);
    EXPECT_EQ(GetOxMiddleError(), c.code) << std::hex << GetOxMiddleError();
    EXPECT_EQ(path, c.code == OXMDL_ERR_NONE ? kTmp + L"today.jpg" : L"");
    EXPECT_FALSE(hostFileExists(host("today.jpg_tmp")));
    std::string today = hostFileExists(host("today.jpg")) ? readHostFile(host("today.jpg")) : "-";
    JpegPicture made;
    if (readJpeg(today, &made)) today = std::to_string(made.width) + "x" + std::to_string(made.height);
    EXPECT_EQ(today, c.today);
  }
  ASSERT_TRUE(MakeDefaultTodayPicture());
  JpegPicture tidal;
  ASSERT_TRUE(readJpeg(readHostFile(root_.host("Windows/TIDAL.jpg")), &tidal));
  EXPECT_EQ(std::make_pair(tidal.width, tidal.height), std::make_pair(208, 156));
}

// The display line: the subject, else 30 bytes of the body never cutting a character in two.
TEST_F(RssEncodeTest, LineInfo) {
  auto withSubject = [&](const wchar_t* subject, const wchar_t* body) {
    Email m = item();
    std::tie(m.subject, m.body) = std::make_pair(subject, body);
    return encode(m);
  };
  const struct { const char* name; std::string raw; bool ok; std::string line; } cases[] = {
      {"30 bytes of body", withSubject(L"", L"This body is longer than thirty bytes"), true,
       "This body is longer than thirt"},
      {"1 + 14 x 2 bytes: the 15th character would end at byte 31", withSubject(L"", L"a日本語の本文はここから始まり長く続きます"), true,
       "a\x93\xFA\x96{\x8C\xEA\x82\xCC\x96{\x95\xB6\x82\xCD\x82\xB1\x82\xB1\x82\xA9\x82\xE7\x8En\x82\xDC\x82\xE8"},
      {"no Subject field", "X-Tmr-Rivulet\r\nFrom: a\r\n\r\nbody", false, "stale"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string line = "stale", link = "stale";
    EXPECT_EQ(RssGetLineInfo(c.raw, &line, &link), c.ok);
    EXPECT_EQ(line + "|" + link, c.line + (c.ok ? "|http://c/1" : "|stale"));
  }
  RssLineInfo info;
  ASSERT_TRUE(RssGetLineInfo(encode(withPicture()), &info));
  EXPECT_EQ(info.line + "|" + info.link + "|" + info.category + "|" + info.date + "|" + std::to_string(info.picture),
            "One|http://c/1|news|Mon, 07 Dec 2026 10:00:00 +0900|1");
  ASSERT_TRUE(RssGetLineInfo(encode(item({kRemotePicture})), &info));
  EXPECT_FALSE(info.picture);
}

}  // namespace
}  // namespace oxm::test
