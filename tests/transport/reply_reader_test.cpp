// The reply reader: the three reply ends on a stream cut anywhere, and reads that end early.
#include "transport/reply_reader.h"

#include <string>
#include <vector>

#include "tests/transport/transport_fixture.h"

namespace oxm::transport {
namespace {

using test::Script;
using ReaderTest = test::TransportTest;

enum class EndKind { Line, Dot, Smtp };
struct Reply {
  EndKind end;
  std::string text;
};

std::unique_ptr<ReplyEnd> makeEnd(EndKind kind) {
  if (kind == EndKind::Line) return std::make_unique<LineEnd>();
  if (kind == EndKind::Dot) return std::make_unique<DotEnd>();
  return std::make_unique<SmtpEnd>();
}

// Replies back to back, the stream cut in two at every place; and replies that must not end.
TEST(ReplyEndTest, EveryCutReadsTheSameReplies) {
  const std::vector<Reply> replies = {
      {EndKind::Line, "+OK POP3 ready <1.2@host>\r\n"}, {EndKind::Dot, "+OK 2 messages\r\n1 000a\r\n2 000b\r\n.\r\n"},
      {EndKind::Dot, "-ERR no such message\r\n"},     {EndKind::Dot, "+OK\r\n.\r\n"},
      {EndKind::Dot, "+OK 12 octets\r\nA\r\n..dot\r\n\r\n.\r\n"}, {EndKind::Smtp, "220 smtp ready\r\n"},
      {EndKind::Smtp, "250-host\r\n250-AUTH LOGIN\r\n250 8BITMIME\r\n"}, {EndKind::Smtp, "354\r\n"},
      {EndKind::Smtp, "25x\r\n250 250-\r\n"},
  };
  std::string all;
  for (const Reply& r : replies) all += r.text;
  for (size_t cut = 0; cut <= all.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t next = 0;
    auto end = makeEnd(replies[0].end);
    std::string reply;
    for (const std::string& piece : {all.substr(0, cut), all.substr(cut)}) {
      size_t at = 0;
      while (at < piece.size() && next < replies.size()) {
        size_t used = end->feed(piece.data() + at, piece.size() - at);
        size_t take = used == ReplyEnd::npos ? piece.size() - at : used;
        reply.append(piece, at, take);
        at += take;
        if (used != ReplyEnd::npos) {
          ASSERT_TRUE(end->ended());
          EXPECT_EQ(reply, replies[next].text);
          reply.clear();
          if (++next < replies.size()) end = makeEnd(replies[next].end);
        }
      }
    }
    EXPECT_EQ(next, replies.size());
  }
  for (const Reply& c : std::vector<Reply>{{EndKind::Line, "+OK\n"}, {EndKind::Dot, "+OK\r\n..\r\n"},
                                           {EndKind::Dot, "+OK\n.\n"}, {EndKind::Smtp, "250-more\r\n"},
                                           {EndKind::Smtp, "25\r\n"}, {EndKind::Smtp, "abc \r\n"}}) {
    auto end = makeEnd(c.end);
    EXPECT_EQ(end->feed(c.text.data(), c.text.size()), ReplyEnd::npos) << c.text;
    EXPECT_FALSE(end->ended()) << c.text;
  }
}

// Bytes after an end wait for the next read; an idle pause ends a read that the next one finishes.
TEST_F(ReaderTest, BytesAfterTheEndAndIdlePauses) {
  serve({test::parseScript("S: +OK first\\r\\n+OK second\\r\\n+OK th\\\nP: 20\nS: ird\nS: +OK\\r\\n1 a\n"
                           "P: 400\nS: 2 b\\r\\n.\nEXPECT-CLOSE")});
  ReplyReader reader(socket_);
  LineEnd end;
  std::string first, second, third;
  ASSERT_EQ(reader.read(first, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(first, "+OK first\r\n");
  // What came with the first reply waits; on a busy machine the rest may have come too.
  EXPECT_TRUE(reader.pending().starts_with("+OK second\r\n+OK th")) << reader.pending();
  ASSERT_EQ(reader.read(second, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(second, "+OK second\r\n");
  EXPECT_EQ(reader.lastBytes(), 12u);
  ASSERT_EQ(reader.read(third, end, 1024), ReadStatus::Ok);
  EXPECT_TRUE(reader.complete());
  EXPECT_EQ(third, "+OK third\r\n");
  DotEnd dot;
  std::string reply;
  ASSERT_EQ(reader.read(reply, dot, 1024), ReadStatus::Ok);
  EXPECT_FALSE(reader.complete());
  EXPECT_EQ(reply, "+OK\r\n1 a\r\n");
  ASSERT_EQ(reader.read(reply, dot, 1024), ReadStatus::Ok);
  EXPECT_TRUE(reader.complete());
  EXPECT_EQ(reply, "+OK\r\n1 a\r\n2 b\r\n.\r\n");
}

// Over its capacity a buffer keeps four bytes and reads on; a string over its limit stops.
TEST_F(ReaderTest, SinksBoundWhatTheyKeep) {
  const std::string body = "+OK 40 octets\r\n0123456789abcdefghij\r\n.\r\n";
  serve({Script{test::send(body), test::send("+OK " + std::string(100, 'x') + "\r\n"), test::expectClose()}});
  ReplyReader reader(socket_);
  DotEnd dot;
  CappedBuffer buffer(16);
  ASSERT_TRUE(buffer.ok());
  ASSERT_EQ(reader.read(buffer, dot), ReadStatus::Ok);
  EXPECT_TRUE(reader.complete());
  EXPECT_TRUE(buffer.overflow());
  EXPECT_EQ(buffer.data(), "+OK ");
  EXPECT_EQ(buffer.received(), body.size());
  EXPECT_TRUE(buffer.endsWith("\r\n.\r\n"));
  EXPECT_FALSE(buffer.endsWith("x\r\n.\r\n"));
  LineEnd line;
  std::string reply;
  EXPECT_EQ(reader.read(reply, line, 50), ReadStatus::TooLong);
  EXPECT_LE(reply.size(), 50u);
  CappedBuffer exact(body.size());
  exact.put(body.data(), body.size());
  EXPECT_FALSE(exact.overflow());
  EXPECT_EQ(exact.data(), body);
  exact.put("x", 1);
  EXPECT_TRUE(exact.overflow());
}

// A reply that has arrived is read on the caller's thread; only one still to come needs the
// worker (here it cannot start).
TEST_F(ReaderTest, AnArrivedReplyNeedsNoWorker) {
  serve({Script{test::send("+OK ready\r\n"), test::stall()}});
  ASSERT_EQ(socket_.waitReadable(5000), 1);
  fault::Session session;
  fault::failNth(fault::Op::Thread, 1, 0, -1);
  ReplyReader reader(socket_);
  LineEnd end;
  std::string reply;
  EXPECT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reply, "+OK ready\r\n");
  EXPECT_EQ(reader.read(reply, end, 1024), ReadStatus::ThreadFailed);
}

// A reply that never ends: the buffer keeps its capacity, the steps run out while bytes flow.
// (A close mid-reply and a stalled server: the POP3 and SMTP scripted conversations.)
TEST_F(ReaderTest, StepsRunOutWhileBytesFlow) {
  serve({Script{test::send("+OK\r\n" + std::string(40 << 20, 'x'), 8192, 1), test::close()}});
  DotEnd dot;
  CappedBuffer buffer(1 << 16);
  EXPECT_EQ(ReplyReader(socket_).read(buffer, dot), ReadStatus::TimedOut);
  EXPECT_GT(buffer.received(), buffer.capacity());
  EXPECT_EQ(buffer.data(), "+OK\r");
}

// An abort ends the wait at the check where it is asked. A dropped data connection:
// PopTest.DataConnectionLostWhileWaiting; a cancel: SmtpClientTest.CancelDuringTheWaitAndDuringData.
TEST_F(ReaderTest, AbortBetweenStepsEndsTheWait) {
  serve({Script{test::stall()}});
  int asked = 0;
  WaitChecks checks;
  checks.aborted = [&] { return ++asked == 3; };
  ReplyReader reader(socket_);
  reader.setChecks(checks);
  LineEnd end;
  std::string reply;
  EXPECT_EQ(reader.read(reply, end, 1024), ReadStatus::Aborted);
  EXPECT_EQ(asked, 3);
}

// The stepped connect: a name that does not resolve, no port.
TEST_F(ReaderTest, SteppedConnectFailures) {
  const std::tuple<std::string, unsigned, int> cases[] = {{"", 1, net::kResolveFailed},
                                                           {"127.0.0.1", 0, net::kConnectFailed}};
  for (const auto& [host, port, want] : cases) {
    net::Socket socket;
    ASSERT_TRUE(socket.open());
    int result = 99;
    EXPECT_EQ(ReplyReader(socket).connect(host, port, &result), ReadStatus::ConnectFailed) << host;
    EXPECT_EQ(result, want) << host;
  }
}

}  // namespace
}  // namespace oxm::transport
