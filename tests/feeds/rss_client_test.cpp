// The feed client against a real nginx: identifiers, item messages, pictures, transfers, cancel.
#include <functional>

#include "codec/emlcompose.h"
#include "feeds/rss_client.h"
#include "frame/registry_value.h"
#include "tests/feeds/feed_fixture.h"

namespace oxm::test {
namespace {

// Tokens: K0 parsed, K1:uid / K2:uid a message, K7 refused, E:NAME an error (#n: item n skipped).
class RssClientTest : public FeedTest, public RssClient::NotifyRss {
 protected:
  bool notify(int kind, long first, long second) override {
    std::string token = "K" + std::to_string(kind);
    if (kind == 1 || kind == 2) {
      std::string text, uid;
      client_->getData(&text, &uid);
      token += ":" + uid;
      texts_.push_back(text);
    }
    if (kind == 4) token = errorToken(first) + (second ? "#" + std::to_string(second) : "");
    events_ += (events_.empty() ? "" : " ") + token;
    if (hook_) hook_(kind);
    return true;
  }

  std::string run(const std::wstring& url, const std::wstring& lastUid = L"") {
    if (!client_) client_ = std::make_unique<RssClient>();
    MailAccount account{.popServerName = L"feeds", .smtpServerName = url, .lastUid = lastUid};
    client_->setAccount(&account, connect());
    client_->registerNotifyRss(this);
    events_.clear();
    texts_.clear();
    client_->GetRDF();
    return events_;
  }
  std::string runFeed(const std::vector<FeedItem>& items) {
    server_->put("feed.xml", rssDocument(items));
    return run(url("/feed.xml"));
  }
  Email decoded(size_t i) {
    Email mail;
    EXPECT_TRUE(i < texts_.size() && EmlCompose().Decode(&mail, &texts_[i])) << "message " << i;
    return mail;
  }

  std::unique_ptr<RssClient> client_;
  std::string events_;
  std::vector<std::string> texts_;
  std::function<void(int)> hook_;
};

// Identifiers follow the last one read as hexadecimal (2 when it is none or no number).
TEST_F(RssClientTest, IdentifiersFollowTheLastOne) {
  EXPECT_EQ(runFeed({{}, {}, {}}), "K0 K1:0000000002 K1:0000000003 K1:0000000004");
  EXPECT_EQ(client_->getLastRecvUid(), "0000000004");
  const struct { const wchar_t* last; const char* next; } rows[] = {
      {L"00000000fe", "00000000FF"}, {L"00FFFFFFFF", "0000000000"}, {L"00000G0001", "0000000001"}};
  server_->put("one.xml", rssDocument({{}}));
  for (const auto& row : rows) EXPECT_EQ(run(url("/one.xml"), row.last), std::string("K0 K1:") + row.next);
}

// An item's message; picture addresses under 11 characters are not fetched, 11 is (port 1 refuses:
// named in the message); a weather picture keeps its display copies; an enclosed message is the item's.
TEST_F(RssClientTest, ItemBecomesFeedMessage) {
  const std::string png = makePicture(PictureKind::Png, 64, 48, 0, 0);
  const std::string eml = "Subject: inside\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nbody\r\n";
  server_->put("pic.png", png);
  server_->put("c.eml", eml);
  ASSERT_EQ(runFeed({{.description = ""}, {.description = "one\\r\\ntwo", .category = "weather"},
                     {.imageUrl = "http://0:/"}, {.imageUrl = "http://0:1/"},
                     {.category = "weather", .imageUrl = server_->url("/pic.png")},
                     {.enclosureUrl = server_->url("/c.eml")}}),
            "K0 K1:0000000002 K1:0000000003 K1:0000000004 K1:0000000005 K1:0000000006 K1:0000000007");
  EXPECT_NE(decoded(0).body.find(L"本文はありません"), std::wstring::npos);
  EXPECT_EQ(decoded(0).inReplyTo, L"http://chan.invalid/");
  EXPECT_NE(decoded(1).body.find(L"one<br>two"), std::wstring::npos);
  EXPECT_EQ(decoded(1).mlName, L"weather");
  EXPECT_EQ(texts_[2].find("X-Feed-Image"), std::string::npos);
  EXPECT_NE(texts_[3].find("X-Feed-Image: http://0:1/"), std::string::npos) << texts_[3];
  EXPECT_EQ(scratch("weather.gif"), png);
  JpegPicture small, large;
  ASSERT_TRUE(readJpeg(scratch("weather_small.jpg"), &small) && readJpeg(scratch("weather_large.jpg"), &large));
  EXPECT_EQ(std::make_tuple(small.width, small.height, large.width, large.height), std::make_tuple(48, 36, 104, 78));
  EXPECT_EQ(decoded(4).enclosures.size(), 3u);
  EXPECT_FALSE(halfWritten());
  EXPECT_EQ(texts_[5], "X-Tmr-Rivulet: contents\r\nx-ml-name: norvale\r\nReply-To: http://news.invalid/1\r\n" + eml);
  // A picture not had (no length) or not usable stays remote; below the memory floor its item is skipped.
  server_->put("pic.jpg", makePicture(PictureKind::Jpeg, 4, 3, 0, 0));
  server_->put("fake.jpg", "<html>not a picture</html>");
  for (const char* path : {"/chunked/pic.jpg", "/fake.jpg"}) {
    SCOPED_TRACE(path);
    const std::string picture = server_->url(path);
    ASSERT_EQ(runFeed({{.imageUrl = picture}}), "K0 K1:0000000002");
    EXPECT_NE(texts_[0].find("X-Feed-Image: " + picture), std::string::npos) << texts_[0];
    EXPECT_TRUE(decoded(0).enclosures.empty());
    EXPECT_FALSE(halfWritten());
  }
  setFixedAvailPhys(0x300000 - 1);
  EXPECT_EQ(runFeed({{.imageUrl = server_->url("/pic.jpg")}, {}}), "K0 E:OXMDL_ERR_RSS_NO_MEMORY#1 K1:0000000002");
  setFixedAvailPhys(0x300000);
  EXPECT_EQ(runFeed({{.imageUrl = server_->url("/pic.jpg")}, {}}), "K0 K1:0000000002 K1:0000000003");
}

// The document's transfer, and the push URL that replaces the account's unless it is "0".
TEST_F(RssClientTest, DocumentTransferOutcomes) {
  server_->put("feed.xml", rssDocument({{}}));
  server_->put("push.xml", rssDocument({{}, {}}));
  server_->put("big.xml", rssDocument({{.description = std::string(2000, 'x')}}));
  server_->put("note.txt", "not a feed\n");
  const struct { std::wstring push, url; const char* events; } rows[] = {
      {L"", url("/chunked/feed.xml"), "K0 K1:0000000002"},
      {L"", url("/note.txt"), "E:OXMDL_ERR_RSS_PARSE"},
      {L"", url("/slow-body/big.xml"), "E:OXMDL_ERR_RSS_TIMEOUT"},
      {L"", L"ftp://127.0.0.1/feed.xml", "E:OXMDL_ERR_RSS_URL"},
      {L"", L"http://127.0.0.1", "E:OXMDL_ERR_RSS_URL"},
      {L"0", url("/feed.xml"), "K0 K1:0000000002"},
      {url("/push.xml"), url("/feed.xml"), "K0 K1:0000000002 K1:0000000003"},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"PushUrl", row.push));
    EXPECT_EQ(run(row.url), row.events) << "row " << &row - rows;
  }
}

// A lost connection stops the walk; a cancel before a run refuses that run only, fetching nothing.
TEST_F(RssClientTest, LostConnectionOrCancelStopsTheRun) {
  server_->put("pic.jpg", makePicture(PictureKind::Jpeg, 64, 48, 0, 0));
  hook_ = [](int kind) {
    if (kind == 1) connmgr::forceStatus(CONNMGR_STATUS_DISCONNECTED);
  };
  EXPECT_EQ(runFeed({{}, {.imageUrl = server_->url("/slow-body/pic.jpg")}, {}}),
            "K0 K1:0000000002 E:OXMDL_ERR_RSS_DISCONNECTED");
  EXPECT_FALSE(halfWritten());
  connmgr::reset();
  hook_ = nullptr;
  std::filesystem::remove(root_.host("Application Data/Rivulet/Tmp/recv.rss"));
  client_->cancel();
  EXPECT_EQ(runFeed({{}}), "E:OXMDL_ERR_RSS_CANCEL K7");
  EXPECT_EQ(scratch("recv.rss"), "");
  EXPECT_EQ(run(url("/feed.xml")), "K0 K1:0000000002");
}

}  // namespace
}  // namespace oxm::test
