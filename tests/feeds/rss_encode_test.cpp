// Feed items as message text (EmlCompose::RssEncode), and the today display reading them back.
#include <gtest/gtest.h>

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

const std::wstring kTmp = L"Application Data/Rivulet/Tmp/";

Enclosure scratchFile(const wchar_t* name) {
  Enclosure e;
  e.folder = kTmp;
  e.name = name;
  e.extracted = true;
  return e;
}

Enclosure remoteContents() {
  Enclosure e;
  e.filename = L"http://example.com/c.eml";
  e.boundary = L"1234";
  e.disposition = L"message/rfc822";
  return e;
}

Enclosure remotePicture() {
  Enclosure e;
  e.folder = L"http://example.com/p.jpg";
  e.link = L"http://example.com/1";
  e.type = L"120";
  e.subtype = L"90";
  return e;
}

// An item as the feed client fills the record.
Email item() {
  Email mail;
  mail.from = L"Example News";
  mail.references = L"http://example.com/";
  mail.messageId = L"All the news";
  mail.dateText = L"Mon, 07 Dec 2026 10:00:00 +0900";
  mail.subject = L"Item one";
  mail.body = L"First line";
  mail.replyTo = L"http://example.com/1";
  mail.mlName = L"news";
  return mail;
}

Email withPicture() {
  Email mail = item();
  for (const wchar_t* name : {L"image.jpg", L"image_small.jpg", L"image_large.jpg"}) {
    mail.enclosures.push_back(scratchFile(name));
  }
  return mail;
}

const char kHead[] =
    "X-Tmr-Rivulet\r\n"
    "From: Example News\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
    "Subject: Item one\r\n"
    "x-ml-name: news\r\n"
    "Reply-To: http://example.com/1\r\n"
    "Message-Id: All the news\r\n"
    "In-Reply-To: http://example.com/\r\n"
    "Mime-Version: 1.0\r\n";
const char kPlain[] = "Content-Type: text/plain; charset=us-ascii\r\n\r\nFirst line";

class RssEncodeTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    setActiveCodePage(932);
    std::filesystem::create_directories(root_.host("Application Data/Rivulet/Tmp"));
    put("image.jpg", "abc");
    put("image_small.jpg", "SMALL");
    put("image_large.jpg", "LARGE");
  }
  std::string host(const std::string& name) const { return root_.host("Application Data/Rivulet/Tmp/" + name); }
  void put(const std::string& name, const std::string& bytes) { writeHostFile(host(name), bytes); }
  std::string encode(Email mail) {
    std::string out = "stale";
    EXPECT_TRUE(EmlCompose().RssEncode(&mail, &out)) << std::hex << GetOxMiddleError();
    return out;
  }
};

TEST_F(RssEncodeTest, ItemsEncodeByteForByte) {
  const struct { const char* name; Email mail; std::string expected; } cases[] = {
      {"picture fetched: three attachments, no X-Feed-Image", withPicture(),
       std::string(kHead) +
           "Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"\r\n"
           "\r\nThis is a multipart message in Mime 1.0 format\r\n"
           "\r\n--next_bound_m4345\r\n" +
           kPlain +
           "\r\n\r\n--next_bound_m4345\r\n"
           "Content-Type: image/jpeg;\r\n name=\"image.jpg\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment;\r\n filename=\"image.jpg\"\r\n"
           "\r\nYWJj"
           "\r\n\r\n--next_bound_m4345\r\n"
           "Content-Type: image/jpeg;\r\n name=\"image_small.jpg\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment;\r\n filename=\"image_small.jpg\"\r\n"
           "\r\nU01BTEw="
           "\r\n\r\n--next_bound_m4345\r\n"
           "Content-Type: image/jpeg;\r\n name=\"image_large.jpg\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment;\r\n filename=\"image_large.jpg\"\r\n"
           "\r\nTEFSR0U="
           "\r\n--next_bound_m4345--"},
      {"picture not fetched: X-Feed-Image, no attachment",
       [] {
         Email m = item();
         m.enclosures.push_back(remotePicture());
         return m;
       }(),
       std::string(kHead) + "X-Feed-Image: http://example.com/p.jpg\r\n" + kPlain},
      {"HTML body without enclosure: multipart/alternative only",
       [] {
         Email m = item();
         m.htmlBody = L"<p>First line</p>";
         return m;
       }(),
       std::string(kHead) +
           "Content-Type: multipart/alternative;\r\n boundary=\"next_bound_a3234\"\r\n"
           "\r\nThis is a multipart message in Mime 1.0 format\r\n"
           "\r\n--next_bound_a3234\r\n"
           "Content-Type: text/plain; charset=iso-2022-jp\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "\r\nFirst line"
           "\r\n--next_bound_a3234\r\n"
           "Content-Type: text/html; charset=us-ascii\r\n"
           "\r\n<p>First line</p>"
           "\r\n--next_bound_a3234--"},
      {"contents and picture not fetched: X-Feed-Download, X-Feed-Contents, X-Feed-Image",
       [] {
         Email m = item();
         m.feedDownloadValue = L"42";
         m.enclosures.push_back(remoteContents());
         m.enclosures.push_back(remotePicture());
         return m;
       }(),
       "X-Tmr-Rivulet\r\n"
       "From: Example News\r\n"
       "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
       "Subject: Item one\r\n"
       "x-ml-name: news\r\n"
       "X-Feed-Download: 42\r\n"
       "Reply-To: http://example.com/1\r\n"
       "Message-Id: All the news\r\n"
       "In-Reply-To: http://example.com/\r\n"
       "Mime-Version: 1.0\r\n"
       "X-Feed-Contents: http://example.com/c.eml\r\n"
       "X-Feed-Image: http://example.com/p.jpg\r\n" +
           std::string(kPlain)},
      {"only the fields that are always there",
       [] {
         Email m;
         m.from = L"Example News";
         return m;
       }(),
       "X-Tmr-Rivulet\r\n"
       "From: Example News\r\n"
       "Subject: \r\n"
       "x-ml-name: \r\n"
       "Mime-Version: 1.0\r\n"
       "Content-Type: text/plain; charset=us-ascii\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.mail), c.expected);
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
    Email again = c.mail;
    std::string data;
    RawEmail_S raw;
    raw.data = &data;
    EXPECT_TRUE(EmlCompose().RssEncode(&again, &raw));
    EXPECT_EQ(data, c.expected);
    EXPECT_TRUE(again.feedMessage);
  }
}

TEST_F(RssEncodeTest, MissingPictureFileFailsWithEmptyText) {
  std::filesystem::remove(host("image_large.jpg"));
  Email mail = withPicture();
  std::string out = "stale";
  EXPECT_FALSE(EmlCompose().RssEncode(&mail, &out));
  EXPECT_EQ(out, "");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
}

// The small and large copies come out of the stored text byte for byte (the last character
// before each boundary belongs to the line end, not to the picture).
TEST_F(RssEncodeTest, TodayImageFromThePictureCopies) {
  const std::string raw = encode(withPicture());
  for (const char* name : {"image.jpg", "image_small.jpg", "image_large.jpg"}) std::filesystem::remove(host(name));
  for (bool small : {true, false}) {
    std::wstring path;
    ASSERT_TRUE(RssGetTodayImage(raw, &path, small)) << std::hex << GetOxMiddleError();
    EXPECT_EQ(path, kTmp + L"today.jpg");
    EXPECT_EQ(readHostFile(host("today.jpg")), small ? "SMALL" : "LARGE");
  }
  EXPECT_FALSE(hostFileExists(host("today.jpg_tmp")));
}

// One picture out of a stored message: written whole, or refused with its code and no file.
TEST_F(RssEncodeTest, GetImageWritesWholeOrNothing) {
  const std::string good = encode(withPicture());
  const std::string uu =
      "X-Tmr-Rivulet\r\nSubject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nx\r\n"
      "--b\r\nContent-Type: image/jpeg; name=\"image.jpg\"\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n"
      "plain text\r\n--b--\r\n";
  const struct { const char* name; const std::string& raw; std::function<void()> arm; unsigned code; } cases[] = {
      {"written", good, [] {}, OXMDL_ERR_NONE},
      {"disk space", good, [] { fault::setFreeSpace(0); }, OXMDL_ERR_FILE_DISK_FULL},
      {"memory", good, [&] { setFixedAvailPhys(2 * good.size()); }, OXMDL_ERR_MEM_SHORTAGE},
      {"open", good, [] { fault::failNth(fault::Op::Open, 1, 5, -1); }, OXMDL_ERR_FILE_OPEN},
      {"short write", good, [] { fault::failNth(fault::Op::Write, 1, 28, -1); }, OXMDL_ERR_FILE_DISK_FULL},
      {"uudecode", uu, [] {}, OXMDL_ERR_MIME_DECODE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(host("image.jpg"));
    Email stored;
    ASSERT_TRUE(EmlCompose().Decode(&stored, &c.raw));
    ASSERT_FALSE(stored.enclosures.empty());
    c.arm();
    EXPECT_EQ(RssGetImage(c.raw, stored.enclosures.front()), c.code == OXMDL_ERR_NONE);
    fault::reset();
    setFixedAvailPhys(std::nullopt);
    EXPECT_EQ(GetOxMiddleError(), c.code) << std::hex << GetOxMiddleError();
    EXPECT_EQ(hostFileExists(host("image.jpg")), c.code == OXMDL_ERR_NONE);
    if (c.code == OXMDL_ERR_NONE) EXPECT_EQ(readHostFile(host("image.jpg")), "abc");
  }
}

// A message with one enclosure shows the weather picture, else the default copy, else one made
// from the default picture when memory allows.
TEST_F(RssEncodeTest, TodayImageFallsBackToWeatherAndDefault) {
  Email one = item();
  one.enclosures.push_back(scratchFile(L"image.jpg"));
  const std::string raw = encode(one);
  const struct {
    const char* name;
    bool small;
    const char* weather;  // file to put there first, or null
    const char* fallback;
    bool tidal;
    uint64_t memory;
    unsigned code;
    std::string today;  // empty: a JPEG of the display size made from the default picture
  } cases[] = {
      {"weather small", true, "weather_small.jpg", nullptr, false, 1 << 30, OXMDL_ERR_NONE, "WEATHER"},
      {"weather large", false, "weather_large.jpg", "default_large.jpg", false, 1 << 30, OXMDL_ERR_NONE, "WEATHER"},
      {"default copy", true, nullptr, "default_small.jpg", false, 1 << 30, OXMDL_ERR_NONE, "DEFAULT"},
      {"made small", true, nullptr, nullptr, true, 0x300000, OXMDL_ERR_NONE, ""},
      {"made large", false, nullptr, nullptr, true, 0x300000, OXMDL_ERR_NONE, ""},
      {"memory short", true, nullptr, nullptr, true, 0x2FFFFF, OXMDL_ERR_MEM_SHORTAGE, "-"},
      {"no default picture", true, nullptr, nullptr, false, 1 << 30, OXMDL_ERR_FILE_OPEN, "-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"weather_small.jpg", "weather_large.jpg", "default_small.jpg", "default_large.jpg",
                             "today.jpg"}) {
      std::filesystem::remove(host(name));
    }
    std::filesystem::remove(root_.host("Windows/TIDAL.jpg"));
    if (c.weather) put(c.weather, "WEATHER");
    if (c.fallback) put(c.fallback, "DEFAULT");
    if (c.tidal) {
      ASSERT_TRUE(MakeDefaultTodayPicture());
    }
    setFixedAvailPhys(c.memory);
    std::wstring path;
    EXPECT_EQ(RssGetTodayImage(raw, &path, c.small), c.code == OXMDL_ERR_NONE);
    setFixedAvailPhys(std::nullopt);
    EXPECT_EQ(GetOxMiddleError(), c.code) << std::hex << GetOxMiddleError();
    if (c.today == "-") {
      EXPECT_FALSE(hostFileExists(host("today.jpg")));
      continue;
    }
    const std::string today = readHostFile(host("today.jpg"));
    if (!c.today.empty()) {
      EXPECT_EQ(today, c.today);
      continue;
    }
    JpegPicture picture;
    ASSERT_TRUE(readJpeg(today, &picture));
    EXPECT_EQ(picture.width, c.small ? 48 : 104);
    EXPECT_EQ(picture.height, c.small ? 36 : 78);
  }
  std::wstring path;
  EXPECT_TRUE(RssGetDefaultTodayImage(&path));
  EXPECT_EQ(path, L"Windows/TIDAL.jpg");
}

TEST_F(RssEncodeTest, LineInfo) {
  auto withSubject = [&](const wchar_t* subject, const wchar_t* body) {
    Email m = item();
    m.subject = subject;
    m.body = body;
    return encode(m);
  };
  const struct { const char* name; std::string raw; bool ok; std::string line; } cases[] = {
      {"subject", withSubject(L"Item one", L"First line"), true, "Item one"},
      {"empty subject: 30 bytes of body", withSubject(L"", L"This body is longer than thirty bytes"), true,
       "This body is longer than thirt"},
      // 1 + 14 x 2 bytes: the fifteenth character would end at byte 31 and is left out.
      {"empty subject: no character cut in two",
       withSubject(L"", L"a日本語の本文はここから始まり長く続きます"), true,
       "a\x93\xFA\x96{\x8C\xEA\x82\xCC\x96{\x95\xB6\x82\xCD\x82\xB1\x82\xB1\x82\xA9\x82\xE7\x8En\x82\xDC\x82\xE8"},
      {"no Subject field", "X-Tmr-Rivulet\r\nFrom: a\r\n\r\nbody", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string line = "stale", link = "stale";
    EXPECT_EQ(RssGetLineInfo(c.raw, &line, &link), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(link, "http://example.com/1");
  }
  RssLineInfo info;
  ASSERT_TRUE(RssGetLineInfo(encode(withPicture()), &info));
  EXPECT_EQ(info.line, "Item one");
  EXPECT_EQ(info.link, "http://example.com/1");
  EXPECT_EQ(info.category, "news");
  EXPECT_EQ(info.date, "Mon, 07 Dec 2026 10:00:00 +0900");
  EXPECT_TRUE(info.picture);
  Email remote = item();
  remote.enclosures.push_back(remotePicture());
  ASSERT_TRUE(RssGetLineInfo(encode(remote), &info));
  EXPECT_FALSE(info.picture);
}

}  // namespace
}  // namespace oxm::test
