// The scripted server's text form, which the client tests write their servers in.
#include <gtest/gtest.h>

#include "tests/transport/transport_fixture.h"

namespace oxm::test {
namespace {

std::string describe(const Script& script) {
  static const char* const kKinds[] = {"send", "expect", "pause", "stall", "close", "expect-close", "starttls"};
  std::string out;
  for (const Step& step : script) {
    out += kKinds[step.kind];
    if (step.kind == Step::Pause) out += " " + std::to_string(step.ms);
    if (step.kind == Step::Send || step.kind == Step::Expect) out += " [" + step.text + "]";
    out += ";";
  }
  return out;
}

TEST(ScriptTextTest, LinesBecomeSteps) {
  const struct {
    std::string text;
    std::string steps;
  } cases[] = {
      {"S: +OK ready\nE: USER alice\n", "send [+OK ready\r\n];expect [USER alice\r\n];"},
      {"  S:+OK\r\n\nE:\r\nP: 250\n", "send [+OK\r\n];expect [];pause 250;"},
      {"E: QUIT \n", "expect [QUIT \r\n];"},
      {"S: +OK 2\\r\\n1 a\\r\\n.\nS: 1 a\\r\\n2 \\\nCLOSE", "send [+OK 2\r\n1 a\r\n.\r\n];send [1 a\r\n2 ];close;"},
      {"S: tab\\there \\\\ back\nSTALL\nEXPECT-CLOSE\nSTARTTLS\n",
       "send [tab\there \\ back\r\n];stall;expect-close;starttls;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe(parseScript(c.text)), c.steps);
  }
}

// A server run from text: the client's lines are checked against it.
TEST_F(TransportTest, ScriptServerReportsWhereTheClientDeparts) {
  serve({parseScript("S: +OK hi\nE: USER a\nE: PASS b\nS: -ERR no\n")});
  ASSERT_EQ(socket_.send("USER a\r\nPASS c\r\n", 16), 16);
  ASSERT_TRUE(server_->waitDone());
  socket_.close();
  EXPECT_EQ(server_->received(), (std::vector<std::string>{"USER a\r\n", "PASS c\r\n"}));
  EXPECT_EQ(server_->failures(), "step 2: expected PASS b\r\n, got PASS c\r\n\n");
}

}  // namespace
}  // namespace oxm::test
