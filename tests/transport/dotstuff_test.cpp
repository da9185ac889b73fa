#include "transport/dotstuff.h"

#include <gtest/gtest.h>

namespace oxm::transport {
namespace {

// Stuffing: a dot at the start of a line after CR LF gets one more, and so does a final dot;
// unstuffing undoes it.
TEST(DotStuffTest, StuffAndUnstuff) {
  const std::pair<std::string, std::string> stuffed[] = {
      {"", ""},
      {"no dots\r\n", "no dots\r\n"},
      {"a\r\n.b\r\n", "a\r\n..b\r\n"},
      {"a\r\n.\r\nb", "a\r\n..\r\nb"},
      {"a\r\n..\r\n", "a\r\n...\r\n"},
      {"\r\n.\r\n.\r\n", "\r\n..\r\n..\r\n"},
      {".first line is left\r\n", ".first line is left\r\n"},
      {"a\n.b\r.c\r\n", "a\n.b\r.c\r\n"},
      {"ends with a dot.", "ends with a dot.."},
      {"a\r\n.", "a\r\n..."},
      {".", ".."},
  };
  for (const auto& [text, wire] : stuffed) {
    std::string out = text;
    dotStuff(out);
    EXPECT_EQ(out, wire) << text;
  }
  const std::pair<std::string, std::string> unstuffed[] = {
      {"", ""},
      {"a\r\n..b\r\n", "a\r\n.b\r\n"},
      {"a\r\n..\r\n", "a\r\n.\r\n"},
      {"a\r\n...\r\n", "a\r\n..\r\n"},
      {"\r\n..\r\n..\r\n", "\r\n.\r\n.\r\n"},
      {"..first line is left\r\n", "..first line is left\r\n"},
      {"a\n..b\r..c\r\n", "a\n..b\r..c\r\n"},
      {"a\r\n.b\r\n", "a\r\n.b\r\n"},
      {"ends with two..", "ends with two."},
      {"x\r\n..", "x\r\n."},
      {"..", "."},
  };
  for (const auto& [wire, text] : unstuffed) {
    std::string out = wire;
    dotUnstuff(out);
    EXPECT_EQ(out, text) << wire;
  }
}
// Stuffing and unstuffing undo each other on text whose last line ends with CR LF, even with
// many dotted lines in a long text (the in-place passes move bytes in both directions).
TEST(DotStuffTest, RoundTripOfALongText) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += i % 3 == 0 ? ".\r\n" : i % 3 == 1 ? "..x\r\n" : "line\r\n";
  std::string wire = text;
  dotStuff(wire);
  // One dot for each dotted line after a CR LF: 1334 dotted lines, the first one at the start.
  EXPECT_EQ(wire.size(), text.size() + 1333);
  EXPECT_EQ(wire.find("\r\n.\r\n"), std::string::npos);
  dotUnstuff(wire);
  EXPECT_EQ(wire, text);
}

}  // namespace
}  // namespace oxm::transport
