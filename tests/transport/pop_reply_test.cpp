// POP3 reply reading: status test, UIDL line check, STAT/LIST numbers, message text, the
// substring UID rule and the APOP time stamp.
#include "transport/pop_reply.h"

#include <gtest/gtest.h>

#include "frame/oxerror.h"

namespace oxm::pop {
namespace {

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
      {"+OK", UidlStart::NeedMore},
      {"+OK\r\n", UidlStart::NeedMore},
      {"+OK\r\n1 ab\r", UidlStart::NeedMore},
      {"+OK\r\n" + line100 + "\r", UidlStart::NeedMore},  // 100 bytes and half a line end
      {"+OK\r\n" + line101, UidlStart::Bad},              // already over 100, no end yet
      {"+OK\r\n" + line100 + "\r\n", UidlStart::Ok},
      {"+OK\r\n" + line101 + "\r\n", UidlStart::Bad},
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
      {"+OK 7 1200 octets\r\n", 7, 1200},
      {"+OK 3\r\n", 3, 0},
      {"+OK x 5\r\n", 0, 0},
      {"+OK 1  5\r\n", 1, 0},
      {"-ERR 2 3\r\n", 0, 0},
      {"+OK 99999999999999999999 99999999999\r\n", 2147483647, 2147483647},
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
      {"+OK\r\n.\r\n", ""},
      {"+OK\r\nno end", "no end"},
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

}  // namespace
}  // namespace oxm::pop
