// The Dovecot fixture with the transport: a plain login and a message read byte for byte, the
// implicit-TLS port with each certificate through the library's certificate check.
#include <string>

#include "platform/question.h"
#include "transport/ras_controller.h"
#include "transport/reply_reader.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::transport {
namespace {

using DovecotTest = test::TransportTest;

// One command and its reply.
std::string exchange(net::Socket& socket, ReplyReader& reader, const std::string& command, ReplyEnd& end) {
  if (!command.empty() && socket.send(command.data(), command.size()) != static_cast<long>(command.size()))
    return "send failed";
  std::string reply;
  ReadStatus status = reader.read(reply, end, 1 << 20);
  while (status == ReadStatus::Ok && !reader.complete()) status = reader.read(reply, end, 1 << 20);
  return status == ReadStatus::Ok ? reply : readStatusName(status);
}

TEST_F(DovecotTest, PlainLoginAndAMessageByteForByte) {
  OXM_START_DOVECOT(server, "localhost");
  server->addMessages("alice", {"Subject: one\n\nfirst\n", "Subject: two\n\n.dotted\n..two\nend\n"});
  ASSERT_TRUE(socket_.open());
  ReplyReader reader(socket_);
  ASSERT_EQ(reader.connect("127.0.0.1", server->port()), ReadStatus::Ok);
  LineEnd line;
  DotEnd dot;
  std::string greeting = exchange(socket_, reader, "", line);
  EXPECT_EQ(greeting.compare(0, 4, "+OK "), 0) << greeting;
  EXPECT_NE(greeting.find('<'), std::string::npos) << "APOP timestamp";
  EXPECT_EQ(exchange(socket_, reader, "USER alice\r\n", line).substr(0, 3), "+OK");
  EXPECT_EQ(exchange(socket_, reader, "PASS secret1\r\n", line).substr(0, 3), "+OK");
  EXPECT_EQ(exchange(socket_, reader, "STAT\r\n", line), "+OK 2 60\r\n");
  EXPECT_EQ(exchange(socket_, reader, "RETR 2\r\n", dot),
            "+OK 37 octets\r\nSubject: two\r\n\r\n..dotted\r\n...two\r\nend\r\n.\r\n");
  EXPECT_EQ(exchange(socket_, reader, "QUIT\r\n", line).substr(0, 3), "+OK");
}

TEST_F(DovecotTest, ImplicitTlsWithEachCertificate) {
  const struct {
    const char* cert;
    bool trusted;
    bool answer;
    int want;
  } cases[] = {
      {"localhost", true, false, net::kOk},
      {"wronghost", true, true, net::kHandshakeFailed},
      {"expired", true, true, net::kHandshakeFailed},
      {"localhost", false, false, net::kHandshakeFailed},  // unknown issuer, the user says No
      {"localhost", false, true, net::kOk},                // ... and Yes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + (c.trusted ? " trusted" : " untrusted"));
    OXM_START_DOVECOT(server, c.cert);
    net::setExtraTrustFile(c.trusted ? test::certDir() + "/trust-all.pem" : "");
    bool answer = c.answer;
    OxSetQuestionCallback([](const wchar_t*, const wchar_t*, void* yes) { return *static_cast<bool*>(yes); },
                          &answer);
    net::Socket socket;
    ASSERT_TRUE(socket.open());
    socket.setSecure("localhost", certificateValidationCallback, false);
    ReplyReader reader(socket);
    int result = 0;
    reader.connect("127.0.0.1", server->tlsPort(), &result);
    EXPECT_EQ(result, c.want);
    if (result == net::kOk) {
      LineEnd line;
      EXPECT_EQ(exchange(socket, reader, "", line).compare(0, 4, "+OK "), 0);
      EXPECT_EQ(exchange(socket, reader, "QUIT\r\n", line).substr(0, 3), "+OK");
    }
    OxSetQuestionCallback(nullptr, nullptr);
    net::setExtraTrustFile("");
  }
}

}  // namespace
}  // namespace oxm::transport
