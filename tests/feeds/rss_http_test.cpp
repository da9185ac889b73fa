// RssHttp against a real nginx, and a scripted server for answers nginx does not give.
#include "feeds/rss_http.h"

#include <thread>

#include "platform/fault.h"
#include "platform/syserr.h"
#include "tests/feeds/feed_fixture.h"
#include "tests/support/script_server.h"

namespace oxm::test {
namespace {

const char kLog[] = "Application Data/OxenMail/OxMailLog.txt";
const std::string kNoBody = "<no buffer, length 0>";

std::wstring hostOf(const ScriptServer& server) { return L"127.0.0.1:" + std::to_wstring(server.port()); }

// nginx serves feed.rss; the tests that need it skip without it, the others run.
class RssHttpTest : public FeedTest {
 protected:
  static void SetUpTestSuite() {
    FeedTest::SetUpTestSuite();
    if (server_) server_->put("feed.rss", feed());
  }
  void SetUp() override {
    AccountsTest::SetUp();
    connmgr::reset();
    switchOnProtocolLog();
  }
  // 3000 bytes: three body pieces of at most 1023.
  static std::string feed() {
    std::string text;
    for (int i = 0; text.size() < 3000; ++i) text += "<item>" + std::to_string(i) + "</item>\n";
    return text.substr(0, 3000);
  }
  static std::string body(const RssHttp& http) {
    if (!http.buffer()) return "<no buffer, length " + std::to_string(http.length()) + ">";
    return std::string(reinterpret_cast<const char*>(http.buffer()), http.length());
  }
  std::wstring host() const { return url("").substr(7); }
};

// Status and body of each kind of answer, and of each step that fails (fault injected).
TEST_F(RssHttpTest, StatusLengthAndFailingSteps) {
  if (!server_) GTEST_SKIP() << why_;
  const std::string feed = RssHttpTest::feed();
  const fault::Op kNone = fault::Op::Count;
  const struct { const wchar_t* path; bool watch; fault::Op op; int nth, result; std::string body; } cases[] = {
      {L"/feed.rss", false, kNone, 0, 200, feed},
      // No Content-Length: 512000 bytes, zero after what came; refused when a watch is given.
      {L"/chunked/feed.rss", false, kNone, 0, 200, feed + std::string(512000 - feed.size(), '\0')},
      {L"/chunked/feed.rss", true, kNone, 0, -7, kNoBody},
      {L"/status/304", false, kNone, 0, 304, kNoBody},
      {L"/status/404", false, kNone, 0, -11, kNoBody},
      {L"/redirect", false, kNone, 0, 301, kNoBody},  // never followed
      {L"/drop", false, kNone, 0, -7, kNoBody},
      {L"/feed.rss", false, fault::Op::HttpOpen, 1, -2, kNoBody},
      {L"/feed.rss", false, fault::Op::Thread, 1, -3, kNoBody},
      {L"/feed.rss", false, fault::Op::HttpConnect, 1, -4, kNoBody},
      {L"/feed.rss", false, fault::Op::HttpRequest, 1, -5, kNoBody},
      {L"/feed.rss", false, fault::Op::HttpSend, 1, -6, kNoBody},
      // A failing body read ends the body: the pieces before it stay, the status is kept.
      {L"/feed.rss", false, fault::Op::HttpRead, 2, 200, feed.substr(0, 1023) + std::string(3000 - 1023, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("row " + std::to_string(&c - cases));
    fault::reset();
    if (c.op != kNone) fault::failNth(c.op, c.nth, ERROR_NOT_ENOUGH_MEMORY);
    RssHttp http(L"Rivulet Middle");
    std::wstring watch = L"http://x/picture.jpg";
    EXPECT_EQ(http.OpenURL(nullptr, host(), c.path, L"", c.watch ? &watch : nullptr, 0), c.result);
    EXPECT_TRUE(body(http) == c.body) << body(http).size();
  }
  EXPECT_NE(readHostFile(root_.host(kLog)).find("*** RssHttp Http Recv Thread END ***\r\n OpenURL ret:[200] \r\n"),
            std::string::npos);
}

// Nine characters escaped; a POST carries the parameters as they are, leading "?" included.
TEST_F(RssHttpTest, PostParameters) {
  EXPECT_EQ(RssHttp::Escape(L"?&=% <>\r\n"), L"%3F%26%3D%25%20%3C%3E%0D%0A");
  EXPECT_EQ(RssHttp::Escape(L"/path;x+y#z~\u00e9\u3042"), L"/path;x+y#z~\u00e9\u3042");
  std::wstring params;
  RssHttp::AddParam(&params, L"a", L"1");
  RssHttp::AddParam(&params, L"b c", L"x&y");
  ASSERT_EQ(params, L"?a=1&b%20c=x%26y");
  std::wstring more = L"/cgi?x=1";
  RssHttp::AddParam(&more, L"=", L"");
  EXPECT_EQ(more, L"/cgi?x=1&%3D=");
  if (!server_ || !server_->echo()) GTEST_SKIP() << (server_ ? NginxServer::kNoEcho : why_.c_str());
  RssHttp http(L"Rivulet Middle");
  ASSERT_EQ(http.OpenURL(nullptr, host(), L"/echo-body", params, nullptr, 0), 200);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(http.buffer())), "?a=1&b%20c=x%26y");
}

// An emptied watch ends the transfer at the next piece; a lost connection (the second form reusing
// the first's) or a failed status query ends the wait.
TEST_F(RssHttpTest, WaitEndsOnEmptiedWatchOrLostConnection) {
  ScriptServer server(Script{expect("GET /picture.jpg HTTP/1.1\r\n"),
                             send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"),
                             send(std::string(5000, 'x'), 100, 60)});
  RssHttp aborted;
  std::wstring watch = L"http://127.0.0.1/picture.jpg";
  std::thread emptier([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RssHttp::EmptyAbortWatch(&watch);
  });
  EXPECT_EQ(aborted.OpenURL(nullptr, hostOf(server), L"/picture.jpg", L"", &watch, 0), -12);
  emptier.join();
  EXPECT_EQ(body(aborted), kNoBody);
  server.stop();
  if (!server_) GTEST_SKIP() << why_;
  const HCONNECTION conn = connect();
  RssHttp http;
  ASSERT_EQ(http.OpenURL(conn, host(), L"/feed.rss", L"", nullptr, 0), 200);
  connmgr::forceStatus(CONNMGR_STATUS_DISCONNECTED);
  EXPECT_EQ(http.OpenURL(host(), L"/drop", L"", nullptr, 0), -10);
  if (!server_->echo()) {
    ConnMgrReleaseConnection(conn, 0);
    GTEST_SKIP() << NginxServer::kNoEcho;
  }
  connmgr::reset();
  setStepScale(0.01);
  connmgr::failQueries(1);
  RssHttp stalled;
  EXPECT_EQ(stalled.OpenURL(conn, host(), L"/stall?s=30", L"", nullptr, 0), -10);
  ConnMgrReleaseConnection(conn, 0);
}

// The GET request byte for byte; a body shorter than its length; the length cap on both sides.
TEST_F(RssHttpTest, OddAnswers) {
  const struct { std::string answer; int result; size_t length; std::string start; } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", 200, 5, std::string("ab\0\0\0", 5)},
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(RssHttp::kMaxLength) + "\r\n\r\nabc", 200,
       RssHttp::kMaxLength, "abc"},
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(RssHttp::kMaxLength + 1) + "\r\n\r\n", -7, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.substr(0, 40));
    ScriptServer server(Script{
        expect("GET /feed.rss HTTP/1.1\r\n"), expect(), expect("User-Agent: Rivulet Middle\r\n"),
        expect("Accept: */*\r\n"), expect("Cache-Control: no-cache\r\n"),
        expect("Pragma: no-cache\r\n"), expect("\r\n"), send(c.answer)});
    RssHttp http(L"Rivulet Middle");
    EXPECT_EQ(http.OpenURL(nullptr, hostOf(server), L"/feed.rss", L"", nullptr, 0), c.result);
    EXPECT_EQ(http.length(), c.length);
    EXPECT_TRUE(body(http).compare(0, c.start.size(), c.start) == 0);
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
  }
}

}  // namespace
}  // namespace oxm::test
