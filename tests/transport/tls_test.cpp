// The certificate check on the test certificates, and TLS over the platform socket: what the
// certificate hook is given, a refusal by the hook, a failure of each socket call.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "frame/registry_value.h"
#include "platform/question.h"
#include "transport/ras_controller.h"
#include "transport/reply_reader.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::transport {
namespace {

using test::parseScript;
using test::ScriptServer;

struct Questions {
  int asked = 0;
  bool answer = false;
  std::wstring text;
  static bool ask(const wchar_t*, const wchar_t* text, void* context) {
    auto* q = static_cast<Questions*>(context);
    ++q->asked;
    q->text = text;
    return q->answer;
  }
};

struct HookCall {
  int calls = 0;
  unsigned long type = 0, flags = 0;
  std::string host;
  std::vector<std::string> chain;
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
  return 0;
}

class TlsTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();  // the host clock: the certificates are valid from their making on
    if (test::certDir().empty()) GTEST_SKIP() << "no test certificates (openssl missing)";
    seen = HookCall{};
  }
  void TearDown() override {
    net::setExtraTrustFile("");
    OxSetQuestionCallback(nullptr, nullptr);
    TransportTest::TearDown();
  }
  // The library's check of `cert` for `host`.
  int check(const std::string& cert, const char* host, unsigned long flags = 0, unsigned long type = 1) {
    std::string der = test::certDer(cert), name = host;
    BLOB blob{static_cast<DWORD>(der.size()), reinterpret_cast<BYTE*>(der.data())};
    return certificateValidationCallback(type, name.data(), 1, &blob, flags);
  }
  void trustAll(bool on = true) { net::setExtraTrustFile(on ? test::certDir() + "/trust-all.pem" : ""); }
  test::TlsFiles files(const std::string& name, bool implicit) {
    return {test::certDir() + "/" + name + ".crt", test::certDir() + "/" + name + ".key", implicit};
  }
  // A fresh socket for host "localhost" with `hook`, the handshake at connect.
  net::Socket& secureSocket(net::CertHook hook = certificateValidationCallback) {
    socket_.close();
    EXPECT_TRUE(socket_.open());
    socket_.setSecure("localhost", hook, false);
    return socket_;
  }
};

TEST_F(TlsTest, SubjectNameAndValidity) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"localhost", "localhost", 0}, {"wronghost", "localhost", 10}, {"wronghost", "wrong.example", 0},
      {"localhost", "LocalHost", 0},   // case aside
      {"localhost", "127.0.0.1", 10},  // the common name only, not the alternative names
      {"trailing", "localhost", 0},    // fields after the common name
  };
  for (const auto& [cert, host, want] : cases) EXPECT_EQ(check(cert, host), want) << cert << " for " << host;
}

// The expired certificate: 2020-01-01 00:00:00 to 2020-02-01 00:00:00 UTC, both ends included.
TEST_F(TlsTest, ValidityEndsAreIncluded) {
  const std::pair<SYSTEMTIME, int> cases[] = {{{2019, 12, 0, 31, 23, 59, 59, 999}, 10},
                                               {{2020, 1, 0, 1, 0, 0, 0, 0}, 0},
                                               {{2020, 2, 0, 1, 0, 0, 0, 0}, 0},
                                               {{2020, 2, 0, 1, 0, 0, 1, 0}, 10}};
  for (const auto& [utc, want] : cases) {
    setFixedClock(utc, -540);
    EXPECT_EQ(check("expired", "localhost"), want) << utc.wYear << "-" << utc.wMonth << "-" << utc.wDay;
  }
}

TEST_F(TlsTest, MalformedCallsAreRefused) {
  EXPECT_EQ(check("localhost", "localhost", 0, 2), 10);
  char host[] = "localhost";
  EXPECT_EQ(certificateValidationCallback(1, host, 0, nullptr, 0), 10);
  // Cut short: the first half of a real certificate.
  std::string der = test::certDer("localhost");
  BLOB half{static_cast<DWORD>(der.size() / 2), reinterpret_cast<BYTE*>(der.data())};
  EXPECT_EQ(certificateValidationCallback(1, host, 1, &half, 0), 5);
}

// An unknown issuer goes to the user; a Yes is remembered under the host's first character.
TEST_F(TlsTest, UnknownIssuerAsksTheUserAndRemembersYes) {
  Questions q;
  OxSetQuestionCallback(Questions::ask, &q);
  EXPECT_EQ(check("wronghost", "mail.example", 1), 10);
  EXPECT_EQ(q.asked, 1);
  EXPECT_EQ(q.text, L"サーバー証明書が無効です。続行しますか?");
  const wchar_t* const kKey = L"Software\\Tamarin\\OxMail";
  DWORD value = 0;
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, kKey, L"m", &value)) << "a No is not kept";
  q.answer = true;
  EXPECT_EQ(check("expired", "mail.example", 1), 0);
  EXPECT_EQ(q.asked, 2);
  EXPECT_TRUE(GetRegistryDword(HKEY_CURRENT_USER, kKey, L"m", &value));
  EXPECT_EQ(value, 1u);
  // Remembered: any host with the same first letter passes without a question.
  q.answer = false;
  EXPECT_EQ(check("wronghost", "mx.other", 1), 0);
  EXPECT_EQ(q.asked, 2);
  // Another first letter is asked; a value other than 1 is no acceptance.
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, kKey, L"p", 2));
  EXPECT_EQ(check("wronghost", "pop.example", 1), 10);
  EXPECT_EQ(q.asked, 3);
}

// A self-signed certificate: the hook is told the issuer is unknown and its Yes lets the
// conversation go on. (A hook's refusal: the bad certificates against Dovecot.)
TEST_F(TlsTest, ImplicitHandshakeHandsTheChainToTheHook) {
  ScriptServer server(parseScript("S: +OK secure\nE: QUIT"), files("localhost", true));
  EXPECT_EQ(secureSocket(recordingHook).connect("127.0.0.1", server.port()), net::kOk);
  EXPECT_EQ(std::make_tuple(seen.calls, seen.type, seen.host, seen.flags), std::make_tuple(1, 1ul, "localhost", 1ul));
  EXPECT_EQ(seen.chain, std::vector<std::string>{test::certDer("localhost")});
  EXPECT_TRUE(socket_.isSecure());
  LineEnd end;
  std::string reply;
  EXPECT_EQ(ReplyReader(socket_).read(reply, end, 1024), ReadStatus::Ok);
  EXPECT_EQ(reply, "+OK secure\r\n");
  EXPECT_EQ(socket_.send("QUIT\r\n", 6), 6);
  socket_.close();
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");
}

// Each socket call of a TLS conversation failed in turn, the reader's workers' calls counted.
TEST_F(TlsTest, FaultSweepOverAConversation) {
  trustAll();
  // Long steps: time for a slow handshake under ThreadSanitizer.
  setStepScale(0.05);
  // Steps: 0 connect (with the handshake), 1 read the greeting, 2 send, 3 read, 4 send.
  const struct {
    fault::Op op;
    int failsAt[3];  // for the 1st, 2nd, 3rd call; -1: the conversation completes
  } cases[] = {{fault::Op::Connect, {0, -1, -1}}, {fault::Op::Handshake, {0, -1, -1}},
               {fault::Op::Send, {2, 4, -1}}, {fault::Op::Recv, {1, 3, -1}}};
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
