// TLS over the platform socket against the scripted server: the handshake at connect and
// deferred (STARTTLS), what the certificate hook is given, and a refusal by the hook.
#include <string>
#include <vector>

#include "transport/ras_controller.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::transport {
namespace {

using test::exchange;
using test::parseScript;
using test::ScriptServer;

struct HookCall {
  int calls = 0;
  unsigned long type = 0, flags = 0;
  std::string host;
  std::vector<std::string> chain;
  int answer = 0;
};
HookCall seen;

int recordingHook(unsigned long type, void* hostName, unsigned long chainLength, BLOB* chain, unsigned long flags) {
  ++seen.calls;
  seen.type = type;
  seen.host = static_cast<const char*>(hostName);
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
  void trustAll(bool on = true) { net::setExtraTrustFile(on ? test::certDir() + "/trust-all.pem" : ""); }
  test::TlsFiles files(const std::string& name, bool implicit) {
    return {test::certDir() + "/" + name + ".crt", test::certDir() + "/" + name + ".key", implicit};
  }
  // A fresh socket for host "localhost" with `hook`, the handshake at connect or deferred.
  net::Socket& secureSocket(net::CertHook hook = certificateValidationCallback, bool deferred = false) {
    socket_.close();
    EXPECT_TRUE(socket_.open());
    socket_.setSecure("localhost", hook, deferred);
    return socket_;
  }
};

TEST_F(TlsTest, ImplicitHandshakeHandsTheChainToTheHook) {
  const struct Case {
    const char* cert;
    bool trusted;
    int answer;
    unsigned long flags;
    int want;
  } cases[] = {
      {"localhost", false, 0, 1, net::kOk},  // self-signed: issuer unknown
      {"localhost", true, 0, 0, net::kOk},
      {"expired", true, 0, 0, net::kOk},     // its dates are the hook's business
      {"wronghost", true, 10, 0, net::kHandshakeFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + (c.trusted ? " trusted" : ""));
    seen = HookCall{};
    seen.answer = c.answer;
    trustAll(c.trusted);
    const bool ok = c.want == net::kOk;
    ScriptServer server(ok ? parseScript("S: +OK secure\nE: QUIT") : test::Script{}, files(c.cert, true));
    EXPECT_EQ(secureSocket(recordingHook).connect("127.0.0.1", server.port()), c.want);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.type, 1u);
    EXPECT_EQ(seen.host, "localhost");
    EXPECT_EQ(seen.flags, c.flags);
    EXPECT_EQ(seen.chain, std::vector<std::string>{test::certDer(c.cert)});
    if (!ok) continue;
    EXPECT_TRUE(socket_.isSecure());
    ReplyReader reader(socket_);
    LineEnd end;
    EXPECT_EQ(exchange(reader, "", end), "+OK secure\r\n");
    EXPECT_EQ(socket_.send("QUIT\r\n", 6), 6);
    socket_.close();
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
  }
}

TEST_F(TlsTest, DeferredHandshakeAfterStartTls) {
  trustAll();
  ScriptServer server(parseScript("S: 220 ready\nE: STARTTLS\nS: 220 go ahead\nSTARTTLS\nE: EHLO x\nS: 250 secure\n"
                                  "EXPECT-CLOSE"),
                      files("localhost", false));
  ASSERT_EQ(secureSocket(certificateValidationCallback, true).connect("127.0.0.1", server.port()), net::kOk);
  EXPECT_FALSE(socket_.isSecure());
  ReplyReader reader(socket_);
  SmtpEnd end;
  EXPECT_EQ(exchange(reader, "", end), "220 ready\r\n");
  EXPECT_EQ(exchange(reader, "STARTTLS\r\n", end), "220 go ahead\r\n");
  int result = 99;
  ASSERT_EQ(reader.handshake(&result), ReadStatus::Ok);
  EXPECT_EQ(result, net::kOk);
  EXPECT_TRUE(socket_.isSecure());
  EXPECT_EQ(exchange(reader, "EHLO x\r\n", end), "250 secure\r\n");
  socket_.close();
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");

  // A server that never answers the handshake: the steps run out.
  ScriptServer silent(parseScript("S: 220 go ahead\nSTALL"), files("localhost", false));
  ASSERT_EQ(secureSocket(certificateValidationCallback, true).connect("127.0.0.1", silent.port()), net::kOk);
  EXPECT_EQ(exchange(reader, "", end), "220 go ahead\r\n");
  EXPECT_EQ(reader.handshake(&result), ReadStatus::TimedOut);
  EXPECT_FALSE(socket_.isSecure());
}

// The library's own hook on real handshakes: the trusted good certificate passes, the trusted
// certificates for another host and out of date are refused; a failed handshake (injected) never
// reaches the hook.
TEST_F(TlsTest, CertificateCheckDecidesTheHandshake) {
  trustAll();
  const std::tuple<const char*, bool, int> cases[] = {{"localhost", false, net::kOk},
                                                      {"wronghost", false, net::kHandshakeFailed},
                                                      {"expired", false, net::kHandshakeFailed},
                                                      {"localhost", true, net::kHandshakeFailed}};
  for (const auto& [cert, inject, want] : cases) {
    SCOPED_TRACE(cert);
    ScriptServer server(parseScript("EXPECT-CLOSE"), files(cert, true));
    if (inject) fault::failNth(fault::Op::Handshake, 1, 0);
    EXPECT_EQ(secureSocket().connect("127.0.0.1", server.port()), want);
    EXPECT_EQ(fault::calls(fault::Op::Handshake), 1);
    fault::reset();
    socket_.close();
  }
}

// Every socket call of a TLS conversation can be made to fail, one at a time, from a fault
// session of the test's thread: the calls on the reader's workers count in it too.
TEST_F(TlsTest, FaultSweepOverAConversation) {
  trustAll();
  // No step here waits on purpose: a longer step only gives a slow handshake (under
  // ThreadSanitizer on a busy machine) the time it needs.
  setStepScale(0.05);
  // Steps: 0 connect (with the handshake), 1 read the greeting, 2 send, 3 read, 4 send.
  const struct {
    fault::Op op;
    int failsAt[3];  // for the 1st, 2nd, 3rd call; -1: the conversation completes
  } cases[] = {{fault::Op::Connect, {0, -1, -1}},
               {fault::Op::Handshake, {0, -1, -1}},
               {fault::Op::Send, {2, 4, -1}},
               {fault::Op::Recv, {1, 3, -1}}};
  for (const auto& c : cases) {
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE("op " + std::to_string(static_cast<int>(c.op)) + " #" + std::to_string(n));
      fault::Session session;
      fault::failNth(c.op, n, 0);
      ScriptServer server(parseScript("S: +OK a\nE: ONE\nS: +OK b\nE: TWO\nS: +OK c\nEXPECT-CLOSE"),
                          files("localhost", true));
      ReplyReader reader(secureSocket());
      LineEnd end;
      std::string reply;
      int failedAt = -1;
      if (reader.connect("127.0.0.1", server.port()) != ReadStatus::Ok) failedAt = 0;
      if (failedAt < 0 && reader.read(reply, end, 1024) != ReadStatus::Ok) failedAt = 1;
      if (failedAt < 0 && reader.send("ONE\r\n", 5) != ReadStatus::Ok) failedAt = 2;
      if (failedAt < 0 && reader.read(reply, end, 1024) != ReadStatus::Ok) failedAt = 3;
      if (failedAt < 0 && reader.send("TWO\r\n", 5) != ReadStatus::Ok) failedAt = 4;
      EXPECT_EQ(failedAt, c.failsAt[n - 1]);
      socket_.close();
    }
  }
}

}  // namespace
}  // namespace oxm::transport
