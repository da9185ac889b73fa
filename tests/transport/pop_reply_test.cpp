// POP3 reply reading: status test, UIDL list and line check, STAT/LIST numbers, message text,
// the substring UID rule and the APOP digest.
#include "transport/pop_reply.h"

#include <gtest/gtest.h>

#include "frame/oxerror.h"

namespace oxm::pop {
namespace {

TEST(PopReplyTest, StatusAndLineCheck) {
  EXPECT_TRUE(isPositive("+OK 2 320\r\n"));
  EXPECT_TRUE(isPositive("+OK\r\n"));
  EXPECT_FALSE(isPositive("+OK"));
  EXPECT_FALSE(isPositive("+OKAY\r\n"));
  EXPECT_FALSE(isPositive("-ERR no\r\n"));
  EXPECT_FALSE(isPositive(""));

  const std::string uid70(70, 'u');
  struct Case {
    std::string line;
    bool ok;
  } cases[] = {
      {"1 abc", true},
      {"12345 " + uid70, true},
      {"1 " + uid70 + "u", false},  // 71 bytes of UID
      {"1 ", false},                // empty UID
      {" abc", false},              // empty number
      {"1a abc", false},            // number not all digits
      {"1", false},                 // no blank
      {".", true},                  // the terminator line passes
      {"1 a b", true},              // the UID is everything after the first blank
  };
  for (const Case& c : cases) EXPECT_EQ(uidlLineOk(c.line), c.ok) << c.line;
}

TEST(PopReplyTest, FirstUidlLineIsCheckedAsSoonAsItArrives) {
  // Lines that pass the line check, 100 and 101 bytes long.
  const std::string line100 = std::string(29, '1') + " " + std::string(70, 'u');
  const std::string line101 = "1" + line100;
  struct Case {
    std::string reply;
    UidlStart expected;
  } cases[] = {
      {"+OK", UidlStart::NeedMore},
      {"+OK\r\n", UidlStart::NeedMore},
      {"+OK\r\n1 ab", UidlStart::NeedMore},
      {"+OK\r\n1 ab\r", UidlStart::NeedMore},
      {"+OK\r\n1 ab\r\n", UidlStart::Ok},
      {"+OK\r\n.\r\n", UidlStart::Ok},
      {"+OK\r\n" + line100 + "\r\n", UidlStart::Ok},
      {"+OK\r\n" + line101 + "\r\n", UidlStart::Bad},
      {"+OK\r\n" + line101, UidlStart::Bad},                  // already over 100, no end yet
      {"+OK\r\n" + line100 + "\r", UidlStart::NeedMore},     // 100 bytes and half a line end
      {"+OK\r\nabc def\r\n", UidlStart::Bad},
      {"+OK\r\n" + std::string(1 << 20, 'A'), UidlStart::Bad},  // a 1 MB line
  };
  for (const Case& c : cases) EXPECT_EQ(checkUidlStart(c.reply), c.expected) << c.reply.substr(0, 40);
}

TEST(PopReplyTest, UidlListSplitAndRefused) {
  std::vector<std::string> lines{"stale"};
  EXPECT_EQ(splitUidlList("+OK\r\n1 a\r\n2 b\r\n.\r\n", &lines), 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{"1 a", "2 b"}));
  EXPECT_EQ(splitUidlList("+OK\r\n.\r\n", &lines), 0u);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(splitUidlList("+OK 2 messages\r\n1 a\r\n", &lines), POP_UIDL_LIST_ERR);
  lines = {"kept"};
  EXPECT_EQ(splitUidlList("+OK\r\n1 a\r\nxx\r\n.\r\n", &lines), POP_RESPONSE_ERR);
  EXPECT_EQ(splitUidlList("+OK\r\n1 a\r\n\r\n.\r\n", &lines), POP_RESPONSE_ERR) << "an empty line";
  EXPECT_EQ(lines, std::vector<std::string>{"kept"}) << "untouched on failure";

  EXPECT_EQ(lineNumber("17 abc def"), "17");
  EXPECT_EQ(lineUid("17 abc def"), "abc def");
  EXPECT_EQ(lineUid("17"), "");
}

TEST(PopReplyTest, StatAndListNumbers) {
  struct Case {
    std::string reply;
    long first, second;
  } cases[] = {
      {"+OK 2 320\r\n", 2, 320},
      {"+OK 7 1200 octets\r\n", 7, 1200},
      {"+OK 3\r\n", 3, 0},
      {"+OK x 5\r\n", 0, 0},
      {"+OK 1  5\r\n", 1, 0},
      {"-ERR 2 3\r\n", 0, 0},
      {"+OK 99999999999999999999 99999999999\r\n", 2147483647, 2147483647},
  };
  for (const Case& c : cases) {
    long a = -1, b = -1;
    parseTwoNumbers(c.reply, &a, &b);
    EXPECT_EQ(a, c.first) << c.reply;
    EXPECT_EQ(b, c.second) << c.reply;
  }

  std::vector<std::pair<std::string, long>> seen;
  forEachListLine("+OK 3 messages\r\n1 120\r\n2 x\r\n10 3000\r\n.\r\n",
                  [&](std::string_view n, long size) { seen.emplace_back(std::string(n), size); });
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, long>>{{"1", 120}, {"2", 0}, {"10", 3000}}));
  seen.clear();
  forEachListLine("+OK\r\n1 120\r\n", [&](std::string_view n, long size) { seen.emplace_back(std::string(n), size); });
  EXPECT_TRUE(seen.empty()) << "an unterminated list has no lines yet";
}

TEST(PopReplyTest, MessageTextKeepsOneLineEnd) {
  std::string text = "untouched";
  EXPECT_FALSE(extractMessage("", &text));
  EXPECT_EQ(text, "untouched");
  struct Case {
    std::string reply, text;
  } cases[] = {
      {"+OK 20 octets\r\nSubject: a\r\n\r\nbody\r\n.\r\n", "Subject: a\r\n\r\nbody\r\n"},
      {"+OK\r\n..dot\r\n.\r\n", "..dot\r\n"},  // still stuffed: unstuffing is the caller's
      {"+OK\r\n.\r\n", ""},
      {"+OK\r\nno end", "no end"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(extractMessage(c.reply, &text));
    EXPECT_EQ(text, c.text) << c.reply;
  }
}

TEST(PopReplyTest, UidHeldAnywhereInTheLine) {
  std::vector<std::string> known{"abc", "", "zz9", "longer-uid-0001"};
  UidSet set(known);
  EXPECT_TRUE(set.heldBy("1 abc"));
  EXPECT_TRUE(set.heldBy("2 xxabcxx")) << "a substring counts";
  EXPECT_TRUE(set.heldBy("12 zz90")) << "found across the end of the UID";
  EXPECT_TRUE(set.heldBy("3 longer-uid-0001"));
  EXPECT_FALSE(set.heldBy("3 longer-uid-0002"));
  EXPECT_FALSE(set.heldBy("4 ab")) << "the empty UID names nothing";
  EXPECT_FALSE(set.heldBy(""));
  std::vector<std::string> numbers{"12"};
  EXPECT_TRUE(UidSet(numbers).heldBy("12 x")) << "the message number is part of the line";
  EXPECT_TRUE(UidSet(std::vector<std::string>{}).empty());
}

TEST(PopReplyTest, ApopTimestampAndDigest) {
  // The example of RFC 1939, section 7.
  const std::string greeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>";
  EXPECT_EQ(apopTimestamp(greeting), "<1896.697170952@dbc.mtview.ca.us>");
  EXPECT_EQ(apopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
  EXPECT_EQ(apopTimestamp("+OK ready"), "");
  EXPECT_EQ(apopTimestamp("+OK <no end"), "");
  EXPECT_EQ(apopTimestamp("+OK a> <b> <c>"), "<b>") << "first '<', first '>' after it";
}

}  // namespace
}  // namespace oxm::pop
