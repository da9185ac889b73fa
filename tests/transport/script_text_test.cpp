// The scripted server's text form, which the client tests write their servers in.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/script_server.h"

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
TEST(ScriptTextTest, ServerFollowsTheText) {
  ScriptServer server(parseScript("S: +OK hi\nE: USER a\nE: PASS b\nS: -ERR no\n"));
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(server.port()));
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::send(fd, "USER a\r\nPASS c\r\n", 16, 0), 16);
  ASSERT_TRUE(server.waitDone());
  ::close(fd);
  EXPECT_EQ(server.received(), (std::vector<std::string>{"USER a\r\n", "PASS c\r\n"}));
  EXPECT_EQ(server.failures(), "step 2: expected PASS b\r\n, got PASS c\r\n\n");
}

}  // namespace
}  // namespace oxm::test
