// The wire texts without a socket: dot stuffing, the POP3 replies, the SMTP replies.
#include <gtest/gtest.h>

#include "frame/oxerror.h"
#include "transport/dotstuff.h"
#include "transport/pop_reply.h"
#include "transport/smtp_reply.h"

namespace oxm {
namespace {

using namespace transport;
using namespace pop;
using namespace smtp;

// A dot after CR LF gets one more, and so does a final dot; unstuffing undoes it.
TEST(DotStuffTest, StuffAndUnstuff) {
  const std::pair<std::string, std::string> pairs[] = {
      {"", ""}, {"\r\n.\r\n.\r\n", "\r\n..\r\n..\r\n"}, {".first line is left\r\n", ".first line is left\r\n"},
      {"a\n.b\r.c\r\n", "a\n.b\r.c\r\n"}, {"ends with a dot.", "ends with a dot.."}, {"a\r\n.", "a\r\n..."},
      {"x\r\n.a\r\n..b\r\nc\r\n.", "x\r\n..a\r\n...b\r\nc\r\n..."}};
  auto unstuffed = [](std::string s) {
    dotUnstuff(s);
    return s;
  };
  for (const auto& [text, wire] : pairs) {
    std::string out = text;
    dotStuff(out);
    EXPECT_EQ(out, wire) << text;
    EXPECT_EQ(unstuffed(out), text) << wire;
  }
  // Unstuffing alone: dots that stuffing did not make.
  const std::pair<std::string, std::string> wireOnly[] = {
      {"..first line is left\r\n", "..first line is left\r\n"}, {"a\n..b\r..c\r\n", "a\n..b\r..c\r\n"},
      {"a\r\n.b\r\n", "a\r\n.b\r\n"}, {"x\r\n..", "x\r\n."}, {"..", "."}};
  for (const auto& [wire, text] : wireOnly) EXPECT_EQ(unstuffed(wire), text) << wire;
}

TEST(PopReplyTest, StatusAndUidlLines) {
  for (const char* yes : {"+OK 2 320\r\n", "+OK\r\n"}) EXPECT_TRUE(isPositive(yes)) << yes;
  for (const char* no : {"+OK", "+OKAY\r\n", "-ERR no\r\n"}) EXPECT_FALSE(isPositive(no)) << no;
  const std::string uid70(70, 'u');
  const std::pair<std::string, bool> lines[] = {
      {"12345 " + uid70, true}, {"1 " + uid70 + "u", false},  // 70 and 71 bytes of UID
      {"1 ", false},  {" abc", false}, {"1a abc", false}, {"1", false}, {".", true}, {"1 a b", true},
  };
  for (const auto& [line, ok] : lines) EXPECT_EQ(uidlLineOk(line), ok) << line;
  // The first data line, checked as soon as it is there: 100 bytes pass, 101 do not.
  const std::string line100 = std::string(29, '1') + " " + uid70, line101 = "1" + line100;
  const std::pair<std::string, UidlStart> starts[] = {
      {"+OK", UidlStart::NeedMore}, {"+OK\r\n", UidlStart::NeedMore}, {"+OK\r\n1 ab\r", UidlStart::NeedMore},
      {"+OK\r\n" + line100 + "\r", UidlStart::NeedMore},  // 100 bytes and half a line end
      {"+OK\r\n" + line101, UidlStart::Bad},              // already over 100, no end yet
      {"+OK\r\n" + line100 + "\r\n", UidlStart::Ok}, {"+OK\r\n" + line101 + "\r\n", UidlStart::Bad},
      {"+OK\r\nabc def\r\n", UidlStart::Bad},
  };
  for (const auto& [reply, want] : starts) EXPECT_EQ(checkUidlStart(reply), want) << reply;
  std::vector<std::string> split{"stale"};
  EXPECT_EQ(splitUidlList("+OK\r\n1 a\r\n2 b\r\n.\r\n", &split), 0u);
  EXPECT_EQ(split, (std::vector<std::string>{"1 a", "2 b"}));
  EXPECT_EQ(splitUidlList("+OK\r\n.\r\n", &split), 0u);
  EXPECT_TRUE(split.empty());
  split = {"kept"};
  EXPECT_EQ(splitUidlList("+OK 2 messages\r\n1 a\r\n", &split), POP_UIDL_LIST_ERR);
  EXPECT_EQ(splitUidlList("+OK\r\n1 a\r\n\r\n.\r\n", &split), POP_RESPONSE_ERR) << "an empty line";
  EXPECT_EQ(split, std::vector<std::string>{"kept"}) << "untouched on failure";
  EXPECT_EQ(lineUid("17"), "");
}

TEST(PopReplyTest, NumbersAndMessageText) {
  const struct {
    std::string reply;
    long first, second;
  } numbers[] = {
      {"+OK 7 1200 octets\r\n", 7, 1200}, {"+OK 3\r\n", 3, 0}, {"+OK x 5\r\n", 0, 0}, {"+OK 1  5\r\n", 1, 0},
      {"-ERR 2 3\r\n", 0, 0}, {"+OK 99999999999999999999 99999999999\r\n", 2147483647, 2147483647},
  };
  for (const auto& c : numbers) {
    long a = -1, b = -1;
    parseTwoNumbers(c.reply, &a, &b);
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(c.first, c.second)) << c.reply;
  }
  std::vector<std::pair<std::string, long>> seen;
  const auto collect = [&](std::string_view n, long size) { seen.emplace_back(std::string(n), size); };
  forEachListLine("+OK\r\n1 120\r\n", collect);
  EXPECT_TRUE(seen.empty()) << "an unterminated list has no lines yet";
  forEachListLine("+OK 3 messages\r\n1 120\r\n2 x\r\n10 3000\r\n.\r\n", collect);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, long>>{{"1", 120}, {"2", 0}, {"10", 3000}}));
  std::string text = "untouched";
  EXPECT_FALSE(extractMessage("", &text));
  EXPECT_EQ(text, "untouched");
  const std::pair<std::string, std::string> messages[] = {
      {"+OK 20 octets\r\nSubject: a\r\n\r\n..dot\r\n.\r\n", "Subject: a\r\n\r\n..dot\r\n"},  // still stuffed
      {"+OK\r\n.\r\n", ""}, {"+OK\r\nno end", "no end"},
  };
  for (const auto& [reply, want] : messages) {
    ASSERT_TRUE(extractMessage(reply, &text));
    EXPECT_EQ(text, want) << reply;
  }
}

TEST(PopReplyTest, UidHeldAnywhereInTheLineAndApopTimestamp) {
  std::vector<std::string> known{"abc", "", "zz9", "longer-uid-0001"};
  UidSet set(known);
  EXPECT_TRUE(set.heldBy("2 xxabcxx")) << "a substring counts";
  EXPECT_TRUE(set.heldBy("12 zz90")) << "found across the end of the UID";
  EXPECT_TRUE(set.heldBy("3 longer-uid-0001"));
  EXPECT_FALSE(set.heldBy("3 longer-uid-0002"));
  EXPECT_FALSE(set.heldBy("4 ab")) << "the empty UID names nothing";
  std::vector<std::string> numbers{"12"};
  EXPECT_TRUE(UidSet(numbers).heldBy("12 x")) << "the message number is part of the line";
  EXPECT_EQ(apopTimestamp("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"),
            "<1896.697170952@dbc.mtview.ca.us>");
  EXPECT_EQ(apopTimestamp("+OK ready"), "");
  EXPECT_EQ(apopTimestamp("+OK <no end"), "");
  EXPECT_EQ(apopTimestamp("+OK a> <b> <c>"), "<b>") << "first '<', first '>' after it";
}

TEST(SmtpReply, CodeChecks) {
  EXPECT_TRUE(replyIs("354 go\r\n", {"250", "354"}));
  for (const char* no : {"250-OK\r\n250 OK\r\n", "250\rX", "251 OK\r\n", "25"})
    EXPECT_FALSE(replyIs(no, {"250"})) << no;
  for (const char* refused : {"500 x\r\n", "502 x\r\n", "530 x\r\n", "550-x\r\n550 y\r\n"})
    EXPECT_TRUE(ehloRefused(refused)) << refused;
  for (const char* other : {"501 x\r\n", "250 x\r\n", "50"}) EXPECT_FALSE(ehloRefused(other)) << other;
  EXPECT_TRUE(offersStartTls("250-localhost\r\n250 STARTTLS\r\n"));
  EXPECT_FALSE(offersStartTls("250-localhost\r\n250-X-STARTTLS\r\n250 HELP\r\n"));
  EXPECT_FALSE(offersStartTls("250 localhost STARTTLS\r\n"));
}

TEST(SmtpReply, EhloCapabilityCheck) {
  const struct {
    const char* reply;
    unsigned code;
    unsigned caps;
  } cases[] = {
      {"250-localhost\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 HELP\r\n", OXMDL_ERR_NONE, kAuthLogin | kAuthCramMd5},
      {"250-localhost\r\n250 AUTH CRAM-MD5\r\n", OXMDL_ERR_NONE, kAuthCramMd5},
      {"250-localhost\r\n250-AUTH PLAIN\r\n250 HELP\r\n", SMTP_AUTH_METHOD_ERR, 0},
      {"250-localhost\r\n250-SIZE 1000\r\n250 HELP\r\n", OXMDL_ERR_NONE, 0},  // no AUTH line at all
      {"250 localhost\r\n", SMTP_GENERAL_ERR, 0}, {"25", SMTP_GENERAL_ERR, 0},
      {"554-go\r\n554 away\r\n", SMTP_EHLO_ERR, 0}, {"501-syntax\r\n501 x\r\n", SMTP_GENERAL_ERR, 0},
  };
  for (const auto& c : cases) {
    unsigned caps = 99;
    EXPECT_EQ(ehloCapabilities(c.reply, &caps), c.code) << c.reply;
    EXPECT_EQ(caps, c.caps) << c.reply;
  }
}

TEST(SmtpReply, CramMd5AnswerAndAddressCommands) {
  // RFC 2195's example: user "tim", key "tanstaaftanstaaf".
  std::string answer = "untouched";
  ASSERT_TRUE(cramMd5Answer("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n", "tim",
                            "tanstaaftanstaaf", &answer));
  EXPECT_EQ(answer, "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n");
  for (const char* bad : {"334 \r\n", "334 abc\r\n", "334 a=bc\r\n", "335 PDE+\r\n", "334PDE+\r\n"}) {
    answer = "untouched";
    EXPECT_FALSE(cramMd5Answer(bad, "u", "p", &answer)) << bad;
    EXPECT_EQ(answer, "untouched");
  }
  std::string line = "untouched";
  for (const std::string& bad : {std::string("a@x\nDATA"), std::string("a@x\rQUIT"), std::string("a@x\0y", 5)}) {
    EXPECT_FALSE(addressCommand("RCPT TO: <", bad, &line));
    EXPECT_EQ(line, "untouched");
  }
}

}  // namespace
}  // namespace oxm
