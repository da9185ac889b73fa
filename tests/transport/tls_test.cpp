// TLS over the platform socket against the scripted server: the handshake at connect and
// deferred (STARTTLS), what the certificate hook is given, and a refusal by the hook.
#include <string>
#include <vector>

#include "transport/ras_controller.h"
#include "transport/reply_reader.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::transport {
namespace {

using test::Script;

struct HookCall {
  int calls = 0;
  unsigned long type = 0, chainLength = 0, flags = 0;
  std::string host;
  std::vector<std::string> chain;
  int answer = 0;
};
HookCall seen;

int recordingHook(unsigned long type, void* hostName, unsigned long chainLength, BLOB* chain,
                  unsigned long flags) {
  ++seen.calls;
  seen.type = type;
  seen.host = static_cast<const char*>(hostName);
  seen.chainLength = chainLength;
  seen.flags = flags;
  seen.chain.clear();
  for (unsigned long i = 0; i < chainLength; ++i)
    seen.chain.emplace_back(reinterpret_cast<char*>(chain[i].pBlobData), chain[i].cbSize);
  return seen.answer;
}

class TlsTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    if (test::certDir().empty()) GTEST_SKIP() << "no test certificates (openssl missing)";
    seen = HookCall{};
  }
  void TearDown() override {
    net::setExtraTrustFile("");
    TransportTest::TearDown();
  }
  test::TlsFiles files(const std::string& name, bool implicit) {
    return {test::certDir() + "/" + name + ".crt", test::certDir() + "/" + name + ".key", implicit};
  }
};

TEST_F(TlsTest, ImplicitHandshakeHandsTheChainToTheHook) {
  const struct Case {
    const char* cert;
    bool trustAll;
    int answer;
    unsigned long flags;
    int want;
  } cases[] = {
      {"localhost", false, 0, 1, net::kOk},          // self-signed: issuer unknown
      {"localhost", true, 0, 0, net::kOk},           // trusted
      {"expired", true, 0, 0, net::kOk},             // trusted; its dates are the hook's business
      {"wronghost", true, 10, 0, net::kHandshakeFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + (c.trustAll ? " trusted" : ""));
    seen = HookCall{};
    seen.answer = c.answer;
    net::setExtraTrustFile(c.trustAll ? test::certDir() + "/trust-all.pem" : "");
    bool ok = c.want == net::kOk;
    Script script = ok ? Script{test::send("+OK secure\r\n"), test::expect("QUIT\r\n")} : Script{};
    test::ScriptServer server(script, files(c.cert, true));
    net::Socket socket;
    ASSERT_TRUE(socket.open());
    socket.setSecure("localhost", recordingHook, false);
    EXPECT_EQ(socket.connect("127.0.0.1", server.port()), c.want);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.type, 1u);
    EXPECT_EQ(seen.host, "localhost");
    EXPECT_EQ(seen.flags, c.flags);
    ASSERT_EQ(seen.chainLength, 1u);
    EXPECT_EQ(seen.chain[0], test::certDer(c.cert));
    if (!ok) continue;
    EXPECT_TRUE(socket.isSecure());
    ReplyReader reader(socket);
    LineEnd end;
    std::string reply;
    ASSERT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
    EXPECT_EQ(reply, "+OK secure\r\n");
    EXPECT_EQ(socket.send("QUIT\r\n", 6), 6);
    socket.close();
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
  }
}

TEST_F(TlsTest, DeferredHandshakeAfterStartTls) {
  net::setExtraTrustFile(test::certDir() + "/trust-all.pem");
  test::ScriptServer server(Script{test::send("220 ready\r\n"), test::expect("STARTTLS\r\n"),
                                   test::send("220 go ahead\r\n"), test::startTls(),
                                   test::expect("EHLO x\r\n"), test::send("250 secure\r\n"),
                                   test::expectClose()},
                            files("localhost", false));
  net::Socket socket;
  ASSERT_TRUE(socket.open());
  socket.setSecure("localhost", certificateValidationCallback, true);
  ASSERT_EQ(socket.connect("127.0.0.1", server.port()), net::kOk);
  EXPECT_FALSE(socket.isSecure());
  ReplyReader reader(socket);
  SmtpEnd end;
  std::string reply;
  ASSERT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reply, "220 ready\r\n");
  ASSERT_EQ(socket.send("STARTTLS\r\n", 10), 10);
  reply.clear();
  ASSERT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reply, "220 go ahead\r\n");
  int result = 99;
  ASSERT_EQ(reader.handshake(&result), ReadStatus::Ok);
  EXPECT_EQ(result, net::kOk);
  EXPECT_TRUE(socket.isSecure());
  ASSERT_EQ(socket.send("EHLO x\r\n", 8), 8);
  reply.clear();
  ASSERT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reply, "250 secure\r\n");
  socket.close();
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");

  // A server that never answers the handshake: the steps run out.
  test::ScriptServer silent(Script{test::send("220 go ahead\r\n"), test::stall()}, files("localhost", false));
  ASSERT_TRUE(socket.open());
  socket.setSecure("localhost", certificateValidationCallback, true);
  ASSERT_EQ(socket.connect("127.0.0.1", silent.port()), net::kOk);
  reply.clear();
  ASSERT_EQ(reader.read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reader.handshake(&result), ReadStatus::TimedOut);
  EXPECT_FALSE(socket.isSecure());
  socket.close();
}

// The library's own hook on real handshakes: the trusted good certificate passes, the
// trusted certificates for another host and out of date are refused; a failed handshake
// (injected) never reaches the hook.
TEST_F(TlsTest, CertificateCheckDecidesTheHandshake) {
  net::setExtraTrustFile(test::certDir() + "/trust-all.pem");
  const struct {
    const char* cert;
    bool injectFailure;
    int want;
  } cases[] = {
      {"localhost", false, net::kOk},
      {"wronghost", false, net::kHandshakeFailed},
      {"expired", false, net::kHandshakeFailed},
      {"localhost", true, net::kHandshakeFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cert);
    test::ScriptServer server(Script{test::expectClose()}, files(c.cert, true));
    net::Socket socket;
    ASSERT_TRUE(socket.open());
    socket.setSecure("localhost", certificateValidationCallback, false);
    if (c.injectFailure) fault::failNth(fault::Op::Handshake, 1, 0);
    EXPECT_EQ(socket.connect("127.0.0.1", server.port()), c.want);
    EXPECT_EQ(fault::calls(fault::Op::Handshake), 1);
    fault::reset();
    socket.close();
  }
}

// Every socket call of a TLS conversation can be made to fail, one at a time, from a fault
// session of the test's thread: the calls on the reader's workers count in it too.
TEST_F(TlsTest, FaultSweepOverAConversation) {
  net::setExtraTrustFile(test::certDir() + "/trust-all.pem");
  // Steps: 0 connect (with the handshake), 1 read the greeting, 2 send, 3 read, 4 send.
  const struct {
    fault::Op op;
    const char* name;
    int failsAt[3];  // for the 1st, 2nd, 3rd call; -1: the conversation completes
  } cases[] = {
      {fault::Op::Connect, "connect", {0, -1, -1}},
      {fault::Op::Handshake, "handshake", {0, -1, -1}},
      {fault::Op::Send, "send", {2, 4, -1}},
      {fault::Op::Recv, "recv", {1, 3, -1}},
  };
  for (const auto& c : cases) {
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE(std::string(c.name) + " #" + std::to_string(n));
      fault::Session session;
      fault::failNth(c.op, n, 0);
      test::ScriptServer server(test::parseScript("S: +OK a\nE: ONE\nS: +OK b\nE: TWO\nS: +OK c\nEXPECT-CLOSE"),
                                files("localhost", true));
      net::Socket socket;
      ASSERT_TRUE(socket.open());
      socket.setSecure("localhost", certificateValidationCallback, false);
      ReplyReader reader(socket);
      LineEnd end;
      std::string reply;
      int failedAt = -1;
      if (reader.connect("127.0.0.1", server.port()) != ReadStatus::Ok) failedAt = 0;
      if (failedAt < 0 && reader.read(reply, end, 1024) != ReadStatus::Ok) failedAt = 1;
      if (failedAt < 0 && reader.send("ONE\r\n", 5) != ReadStatus::Ok) failedAt = 2;
      if (failedAt < 0 && reader.read(reply, end, 1024) != ReadStatus::Ok) failedAt = 3;
      if (failedAt < 0 && reader.send("TWO\r\n", 5) != ReadStatus::Ok) failedAt = 4;
      EXPECT_EQ(failedAt, c.failsAt[n - 1]);
      socket.close();
    }
  }
}

}  // namespace
}  // namespace oxm::transport
