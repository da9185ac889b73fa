#include "transport/dotstuff.h"

#include <gtest/gtest.h>

namespace oxm::transport {
namespace {

// A dot after CR LF gets one more, and so does a final dot; unstuffing undoes it.
TEST(DotStuffTest, StuffAndUnstuff) {
  const std::pair<std::string, std::string> pairs[] = {
      {"", ""},
      {"no dots\r\n", "no dots\r\n"},
      {"a\r\n.\r\nb", "a\r\n..\r\nb"},
      {"a\r\n..\r\n", "a\r\n...\r\n"},
      {"\r\n.\r\n.\r\n", "\r\n..\r\n..\r\n"},
      {".first line is left\r\n", ".first line is left\r\n"},
      {"a\n.b\r.c\r\n", "a\n.b\r.c\r\n"},
      {"ends with a dot.", "ends with a dot.."},
      {"a\r\n.", "a\r\n..."},
  };
  for (const auto& [text, wire] : pairs) {
    std::string out = text;
    dotStuff(out);
    EXPECT_EQ(out, wire) << text;
    dotUnstuff(out);
    EXPECT_EQ(out, text) << wire;
  }
  // Unstuffing alone: dots that stuffing did not make.
  const std::pair<std::string, std::string> wireOnly[] = {
      {"..first line is left\r\n", "..first line is left\r\n"}, {"a\n..b\r..c\r\n", "a\n..b\r..c\r\n"},
      {"a\r\n.b\r\n", "a\r\n.b\r\n"}, {"x\r\n..", "x\r\n."}, {"..", "."}};
  for (const auto& [wire, text] : wireOnly) {
    std::string out = wire;
    dotUnstuff(out);
    EXPECT_EQ(out, text) << wire;
  }
  std::string text;
  for (int i = 0; i < 2000; ++i) text += i % 3 == 0 ? ".\r\n" : i % 3 == 1 ? "..x\r\n" : "line\r\n";
  std::string wire = text;
  dotStuff(wire);
  EXPECT_EQ(wire.size(), text.size() + 1333);  // 1334 dotted lines, the first one at the start
  EXPECT_EQ(wire.find("\r\n.\r\n"), std::string::npos);
  dotUnstuff(wire);
  EXPECT_EQ(wire, text);
}

}  // namespace
}  // namespace oxm::transport
