// The feed retriever on the feed account "Server" against a real nginx; OxRetriever's single download.
#include <functional>

#include "accounts/system_info.h"
#include "feeds/rss_retriever.h"
#include "platform/fault.h"
#include "tests/feeds/feed_fixture.h"
#include "tests/support/stored_messages.h"
#include "transport/periodic.h"
#include "transport/retriever.h"

namespace oxm::test {
namespace {

// Tokens: K0 stored whole, K1 partial, E:NAME an error, K3:n finished, C1..C3 connection phases.
class Recorder : public OxRssRetriever::Notify {
 public:
  bool notify(unsigned kind, long a, long) override {
    const std::string token = kind == 2 ? errorToken(a) : kind == 3 ? "K3:" + std::to_string(a)
                              : kind == 6 ? "C" + std::to_string(a) : "K" + std::to_string(kind);
    events += (events.empty() ? "" : " ") + token;
    if (hook) hook(kind);
    return true;
  }
  bool isActive(bool* active, OxRssRetriever*) override {
    *active = foreground;
    return true;
  }
  std::string events;
  bool foreground = true;
  std::function<void(unsigned)> hook;
};

// A retriever that can hand over a message the way the client does for one without its picture.
class PartialRetriever : public OxRssRetriever {
 public:
  void handOver(const std::string& text, const std::string& uid) { deliver(2, text, uid); }
};

class RssRetrieverTest : public FeedTest {
 protected:
  void SetUp() override {
    FeedTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_NO_FATAL_FAILURE(setFeedPaths());
    std::unique_ptr<OxSystemInfoInterface> info(OxSystemInfoInterface::GetSystemInfo());
    std::wstring pop = L"feeds", feed = url("/feed.xml");
    ASSERT_TRUE(info && info->SetFAccount(pop, feed)) << std::hex << GetOxMiddleError();
    work_.reset(OxAccountInfoInterface::OpenAccountInfo(L"Server", kFeedKey));  // the feed account
    ASSERT_TRUE(work_);
    retriever_.registerNotify(&recorder_);
  }
  std::string fetch(const std::vector<FeedItem>& items) {
    server_->put("feed.xml", rssDocument(items));
    return fetchAgain();
  }
  std::string fetchAgain() {
    recorder_.events.clear();
    OxRASController ras;
    retriever_.RetrieveMessages(work_.get(), &ras, false);
    return recorder_.events;
  }
  std::wstring lastUid() {
    std::wstring uid;
    EXPECT_TRUE(work_->GetLastUID(&uid));
    return uid;
  }

  Recorder recorder_;
  PartialRetriever retriever_;
};

// Each run empties the server's sub-folders first; a full disk stops the run at the failed save.
TEST_F(RssRetrieverTest, EachRunReplacesTheNewsAndAFullDiskStopsIt) {
  server_->put("feed.xml", rssDocument({{}, {.category = "norvale"}}));
  OxRASController ras;
  EXPECT_TRUE(retriever_.ClearMessagesOnPopServer(work_.get(), &ras, false));
  EXPECT_EQ(recorder_.events, "C1 C2 K0 K0 C3 K3:2");
  const auto first = storedMessages(*work_);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_NE(first[0].folder, first[1].folder);  // News and Adv
  EXPECT_EQ(lastUid(), L"0000000003");
  ASSERT_EQ(fetch({{}}), "C1 C2 K0 C3 K3:1");
  const auto second = storedMessages(*work_);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(std::make_pair(second[0].uid, second[0].folder), std::make_pair(std::string("0000000004"), first[0].folder));
  recorder_.hook = [](unsigned kind) {
    if (kind == 0) fault::setFreeSpace(0);
  };
  EXPECT_EQ(fetch({{}, {}}), "C1 C2 K0 E:OXMDL_ERR_STG_DISK_FULL C3 K3:1");
  fault::setFreeSpace(std::nullopt);
  EXPECT_EQ(storedMessages(*work_).size(), 1u);
  EXPECT_EQ(lastUid(), L"0000000005");
}

// A re-get replaces the message in place, not moving the last identifier; nothing remote: refused.
TEST_F(RssRetrieverTest, ReGetReplacesTheMessageInPlace) {
  ASSERT_EQ(fetch({{.imageUrl = server_->url("/later.jpg")}, {}}), "C1 C2 K0 K0 C3 K3:2");
  const auto before = storedMessages(*work_);
  ASSERT_EQ(before.size(), 2u);
  server_->put("later.jpg", makePicture(PictureKind::Jpeg, 64, 48, 0xFF0000, 0x00FF00));
  const auto reget = [&](unsigned long id, bool ok) {
    recorder_.events.clear();
    OxRASController ras;
    EXPECT_EQ(retriever_.RetrieveSelectedMessages({id}, work_.get(), &ras, false), ok);
    return recorder_.events;
  };
  EXPECT_EQ(reget(before[0].id, true), "C1 C2 K0 C3 K3:1");
  const auto after = storedMessages(*work_);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(std::make_tuple(after[0].id, after[0].uid, after[0].attachment),
            std::make_tuple(before[0].id, before[0].uid, 1));
  EXPECT_EQ(after[1].text, before[1].text);
  EXPECT_EQ(lastUid(), L"0000000003");
  EXPECT_EQ(reget(after[1].id, false), "C1 C2 E:OXMDL_ERR_RSS_NO_FEED_HEADER C3 K3:0");
}

// A message handed over without its picture is stored partial (kind 1); a document that then fails
// to parse (an entity bomb: no memory) changes nothing stored.
TEST_F(RssRetrieverTest, PartialMessageThenBadDocumentLosesNothing) {
  recorder_.hook = [&](unsigned kind) {
    if (kind == 0) retriever_.handOver("X-Tmr-Rivulet\r\nSubject: later\r\nx-ml-name: news\r\n\r\nbody\r\n", "0000000009");
  };
  EXPECT_EQ(fetch({{}}), "C1 C2 K0 K1 C3 K3:2");
  recorder_.hook = nullptr;
  const auto kept = storedMessages(*work_);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].partial + kept[1].partial, 1);
  std::string bomb = "<!ENTITY e0 \"aaaaaaaaaa\">";  // e7: 100 MB of text
  for (int i = 1; i <= 7; ++i) {
    bomb += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&e" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  server_->put("feed.xml", "<?xml version=\"1.0\"?><!DOCTYPE rss [" + bomb + "]><rss version=\"2.0\"><channel>"
                           "<title>&e7;</title><item><title>x</title></item></channel></rss>");
  EXPECT_EQ(fetchAgain(), "C1 C2 E:OXMDL_ERR_RSS_NO_MEMORY C3 K3:0");
  const auto now = storedMessages(*work_);
  ASSERT_EQ(now.size(), kept.size());
  for (size_t i = 0; i < now.size(); ++i) EXPECT_EQ(now[i].text, kept[i].text);
  EXPECT_FALSE(halfWritten());
}

// The result indicator in the background: finished, or an error.
TEST_F(RssRetrieverTest, ResultIndicatorInTheBackground) {
  std::filesystem::create_directories(root_.host("Windows"));
  writeHostFile(root_.host("Windows/TmPhoneStatus.dll"), readHostFile(OXM_PHONE_STATUS_DLL));
  FreePhoneStatusDLL();
  const struct { bool foreground; std::string document; unsigned received, result; } rows[] = {
      {false, rssDocument({{}}), 1, PHONE_RECV_FINISHED},
      {false, "not a feed", 99, PHONE_RECV_ERROR},
  };
  for (const auto& row : rows) {
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, 99u);
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, 99u);
    recorder_.foreground = row.foreground;
    server_->put("feed.xml", row.document);
    const std::string events = fetchAgain();
    EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL), row.received) << events;
    EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), row.result) << events;
  }
  FreePhoneStatusDLL();
}

// A file as it came; a missing one or no connection: the code, the old file kept.
TEST_F(RssRetrieverTest, MailRetrieverDownloadsOneFileForTheAccount) {
  const std::string bytes = makePicture(PictureKind::Png, 4, 3, 0, 0);
  server_->put("one.png", bytes);
  OxRetriever mail;
  std::wstring source = url("/one.png"), missing = url("/none.png"), target = L"Application Data/Rivulet/Tmp/one.png";
  EXPECT_EQ(mail.HttpReceive(work_.get(), &source, &target, true), static_cast<int>(OXMDL_ERR_NONE));
  EXPECT_EQ(mail.HttpReceive(work_.get(), &missing, &target, true), static_cast<int>(OXMDL_ERR_RSS_HTTP_STATUS));
  EXPECT_EQ(scratch("one.png"), bytes);
  connmgr::failEstablish(CONNMGR_STATUS_CONNECTIONFAILED);
  EXPECT_EQ(mail.HttpReceive(work_.get(), &source, &target, true), static_cast<int>(OXMDL_ERR_RSS_HTTP_RECEIVE));
}

}  // namespace
}  // namespace oxm::test
