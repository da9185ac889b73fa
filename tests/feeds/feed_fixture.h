// The feed fetch, client and retriever tests' root, nginx, short waiting steps and feed documents.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "platform/connmgr.h"
#include "platform/memory.h"
#include "platform/worker.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/support/nginx.h"
#include "tests/support/pictures.h"

namespace oxm::test {

// Tests write items with designated initializers naming only the fields that differ.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// One item of a test feed; an empty text leaves its element out.
struct FeedItem {
  std::string title = "title";
  std::string description = "text";
  std::string category;
  std::string imageUrl;
  std::string enclosureUrl;
};

// An RSS 2.0 document of the items (each linking "http://news.invalid/1"), channel "Chan" / "http://chan.invalid/".
inline std::string rssDocument(const std::vector<FeedItem>& items) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Chan</title>"
      "<link>http://chan.invalid/</link><description>About</description>\n";
  for (const FeedItem& item : items) {
    xml += "<item><link>http://news.invalid/1</link>";
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"title", item.title},
                                     {"description", item.description}, {"category", item.category}})
      if (!text.empty()) xml += "<" + name + ">" + text + "</" + name + ">";
    if (!item.imageUrl.empty())
      xml += "<image><url>" + item.imageUrl + "</url><link>http://pic.invalid/</link><width>40</width>"
             "<height>30</height></image>";
    if (!item.enclosureUrl.empty())
      xml += "<enclosure url=\"" + item.enclosureUrl + "\" length=\"9\" type=\"message/rfc822\"/>";
    xml += "</item>\n";
  }
  return xml + "</channel></rss>\n";
}

// "E:" and the code's name.
inline std::string errorToken(long code) {
  const char* name = GetOxMiddleErrorName(static_cast<unsigned>(code));
  return std::string("E:") + (name ? name : std::to_string(code));
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
    setStepScale(1.0);
    connmgr::reset();
    AccountsTest::TearDown();
  }

  std::wstring url(const std::string& path) const {
    const std::string narrow = server_->url(path);
    return std::wstring(narrow.begin(), narrow.end());
  }
  // A data connection of the Connection Manager, as the feed client's caller makes one.
  static HCONNECTION connect() {
    CONNMGR_CONNECTIONINFO info{};
    info.cbSize = sizeof info;
    HCONNECTION connection = nullptr;
    DWORD status = 0;
    EXPECT_EQ(ConnMgrEstablishConnectionSync(&info, &connection, 0, &status), S_OK);
    return connection;
  }
  std::string scratch(const std::string& name) const {
    return readHostFile(root_.host("Application Data/Rivulet/Tmp/" + name));
  }
  // Whether the scratch folder holds a temporary of an unfinished write.
  bool halfWritten() const {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root_.host("Application Data/Rivulet/Tmp"), ec))
      if (e.path().filename().string().find("tmp") != std::string::npos) return true;
    return false;
  }

  static inline std::unique_ptr<NginxServer> server_;
  static inline std::string why_;
};

}  // namespace oxm::test
