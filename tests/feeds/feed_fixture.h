// Shared set-up of the feed client and feed retriever tests: a device root with the account
// paths, one nginx for the whole suite serving the documents and pictures a test puts there,
// short waiting steps, a fresh Connection Manager, and the few feed documents and pictures the
// tests are made of.
#pragma once

#include <dirent.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "platform/connmgr.h"
#include "platform/imaging.h"
#include "platform/memory.h"
#include "platform/worker.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/support/nginx.h"

namespace oxm::test {

// One item of a test feed; an empty text leaves its element out.
struct FeedItem {
  std::string title = "title";
  std::string description = "text";
  std::string category;
  std::string imageUrl;
  std::string enclosureUrl;
  std::string link = "http://news.invalid/1";
};

// An RSS 2.0 document of the items, channel "Chan" / "http://chan.invalid/" / "About".
inline std::string rssDocument(const std::vector<FeedItem>& items) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Chan</title>"
      "<link>http://chan.invalid/</link><description>About</description>\n";
  auto element = [&](const char* name, const std::string& text) {
    if (!text.empty()) xml += std::string("<") + name + ">" + text + "</" + name + ">";
  };
  for (const FeedItem& item : items) {
    xml += "<item>";
    element("title", item.title);
    element("link", item.link);
    element("description", item.description);
    element("category", item.category);
    if (!item.imageUrl.empty()) {
      xml += "<image><url>" + item.imageUrl + "</url><link>http://pic.invalid/</link><width>40</width>"
             "<height>30</height></image>";
    }
    if (!item.enclosureUrl.empty()) xml += "<enclosure url=\"" + item.enclosureUrl + "\" length=\"9\" type=\"message/rfc822\"/>";
    xml += "</item>\n";
  }
  return xml + "</channel></rss>\n";
}

// Pictures of each format: a 4 x 3 PNG and a 1 x 1 GIF as bytes, a JPEG made by the encoder.
inline std::string pngPicture() {
  static const char bytes[] =
      "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x03\x08\x02"
      "\x00\x00\x00\x3b\x96\x39\x91\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\xc0\x00\x47\x0c\x38\x39"
      "\x00\xf5\x31\x0b\xf5\x35\x7b\xfb\x82\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82";
  return std::string(bytes, sizeof bytes - 1);
}
inline std::string gifPicture() {
  static const char bytes[] =
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00"
      "\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
  return std::string(bytes, sizeof bytes - 1);
}
inline std::string jpegPicture() {
  Bitmap bitmap;
  bitmap.width = 64;
  bitmap.height = 48;
  bitmap.pixels.assign(64 * 48, 0x00336699u);
  std::string out;
  encodeJpeg(bitmap, 80, &out);
  return out;
}

// Width and height from a JPEG's first start-of-frame segment; nullopt when there is none.
inline std::optional<std::pair<int, int>> jpegSize(const std::string& b) {
  if (b.size() < 4 || static_cast<unsigned char>(b[0]) != 0xFF || static_cast<unsigned char>(b[1]) != 0xD8) {
    return std::nullopt;
  }
  for (size_t i = 2; i + 9 < b.size();) {
    if (static_cast<unsigned char>(b[i]) != 0xFF) return std::nullopt;
    const unsigned marker = static_cast<unsigned char>(b[i + 1]);
    const size_t length = static_cast<unsigned char>(b[i + 2]) * 256u + static_cast<unsigned char>(b[i + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      auto at = [&](size_t k) { return static_cast<unsigned char>(b[k]); };
      return std::make_pair(at(i + 7) * 256 + at(i + 8), at(i + 5) * 256 + at(i + 6));
    }
    i += 2 + length;
  }
  return std::nullopt;
}

class FeedTest : public AccountsTest {
 protected:
  static void SetUpTestSuite() { server_ = NginxServer::start(&why_); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    AccountsTest::SetUp();
    if (!server_) GTEST_SKIP() << why_;
    setStepScale(0.002);  // a transfer times out after 1.2 s
    connmgr::reset();
  }
  void TearDown() override {
    setFixedAvailPhys(std::nullopt);
    setStepScale(1.0);
    connmgr::reset();
    AccountsTest::TearDown();
  }

  static std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  std::wstring url(const std::string& path) const { return wide(server_->url(path)); }
  std::string scratch(const std::string& name) const {
    return readHostFile(root_.host("Application Data/Rivulet/Tmp/" + name));
  }
  // Names in the scratch folder that are temporaries of an unfinished write.
  std::vector<std::string> halfWritten() const {
    std::vector<std::string> out;
    DIR* d = ::opendir(root_.host("Application Data/Rivulet/Tmp").c_str());
    for (dirent* e = d ? ::readdir(d) : nullptr; e; e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.find("_tmp") != std::string::npos || name.find(".tmp") != std::string::npos) out.push_back(name);
    }
    if (d) ::closedir(d);
    return out;
  }

  static std::string errorToken(long code) {
    const char* name = GetOxMiddleErrorName(static_cast<unsigned>(code));
    return std::string("E:") + (name ? name : std::to_string(code));
  }

  static inline std::unique_ptr<NginxServer> server_;
  static inline std::string why_;
};

}  // namespace oxm::test
