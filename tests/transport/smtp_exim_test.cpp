// SmtpClient against a real Exim on 127.0.0.1: plain, STARTTLS with LOGIN and CRAM-MD5, TLS
// from the first byte, refusals, several messages on one connection, a 10 MB text, and POP
// before SMTP against Dovecot. Every delivered file is compared with what was sent, byte for byte.
#include <gtest/gtest.h>

#include "tests/support/exim.h"
#include "tests/support/servers.h"
#include "tests/transport/smtp_fixture.h"

namespace oxm::test {
namespace {

// A body line "." and lines that begin with dots: they arrive as written.
const char kText[] = "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: dots\r\n\r\n.\r\n..two\r\n.x\r\nlast\r\n";
// What Exim stores: the text, and the empty line the client's "\r\n.\r\n" after a text that
// already ends with CR LF makes.
const std::string kStored = std::string(kText) + "\r\n";

class SmtpEximTest : public SmtpTest {
 protected:
  void SetUp() override {
    SmtpTest::SetUp();
    setStepScale(1.0);
    exim_ = EximServer::shared(&why_);
    if (!exim_) GTEST_SKIP() << "no Exim: " << why_;
    exim_->clear();
    net::setExtraTrustFile(certDir() + "/trust-all.pem");  // the issuer is known: the host check decides
  }
  void TearDown() override {
    net::setExtraTrustFile("");
    SmtpTest::TearDown();
  }
  // The account on localhost (the certificates' name); 465 and 587 are redirected to `to`.
  MailAccount at(unsigned port, unsigned to, unsigned method, const wchar_t* password = L"secret1") {
    if (to) net::setPortRedirect(port, to);
    MailAccount a = account(port, method, password);
    a.smtpServerName = L"localhost";
    return a;
  }
  void sendMail(MailAccount a, std::list<std::string> rcpts = {"bob@example.jp"}) {
    SmtpTest::sendMail(a, kText, std::move(rcpts), "alice@example.jp");
  }

  std::string why_;
  EximServer* exim_ = nullptr;
};

TEST_F(SmtpEximTest, EveryWayInDeliversTheTextByteForByte) {
  struct Case {
    const char* name;
    unsigned port;      // the account's port: 465 and 587 switch TLS on
    unsigned redirect;  // the Exim port that port goes to
    unsigned method;
  } cases[] = {
      {"plain, no authentication", exim_->plainPort, 0, 0},
      {"STARTTLS + AUTH LOGIN", 587, exim_->submitPort, 4},
      {"STARTTLS + AUTH CRAM-MD5", 587, exim_->submitPort, 3},
      {"STARTTLS, AUTH offered only after it, chosen from EHLO", 587, exim_->strictPort, 2},
      {"TLS from the first byte + AUTH chosen from EHLO", 465, exim_->smtpsPort, 2},
      {"TLS from the first byte + AUTH LOGIN", 465, exim_->smtpsPort, 4},
      {"587 without STARTTLS on offer: plain text", 587, exim_->plainPort, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exim_->clear();
    sendMail(at(c.port, c.redirect, c.method));
    ASSERT_EQ(recorder_.events, kAccepted);
    client_.quit();
    EXPECT_EQ(client_.state(), SmtpState::Closed);
    const auto got = exim_->deliveries(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mailFrom, "<alice@example.jp>");
    EXPECT_EQ(got[0].rcptTo, "<bob@example.jp>");
    EXPECT_EQ(got[0].data, kStored);
  }
}

// A wrong password; the submission port without authentication refuses the recipient; a
// certificate for another host name is refused by the certificate check.
TEST_F(SmtpEximTest, RefusalsDeliverNothing) {
  sendMail(at(587, exim_->submitPort, 4, L"wrong"));
  EXPECT_EQ(recorder_.events, failed(SMTP_AUTH_ERR));
  sendMail(at(exim_->submitPort, 0, 0));
  EXPECT_EQ(recorder_.events, failed(SMTP_ADDRESS_ERR));
  MailAccount other = at(465, exim_->smtpsPort, 2);
  other.smtpServerName = L"127.0.0.1";  // the certificate names localhost
  sendMail(other);
  EXPECT_EQ(recorder_.events, failed(SMTP_CONNECT_ERR));
  EXPECT_TRUE(exim_->deliveries(0).empty());
}

TEST_F(SmtpEximTest, SeveralMessagesAndALargeTextOnOneConnection) {
  // 10 MB of Base64 lines as an attachment, and a text without a final line end.
  std::string big =
      "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: big\r\nMime-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n"
      "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  while (big.size() < (10u << 20)) big += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
  big += "--b--\r\n";
  sendMail(at(465, exim_->smtpsPort, 3), {"one@example.jp", "two@example.jp"});
  ASSERT_EQ(recorder_.events, kAccepted);
  std::string second = big, third = "Subject: open\r\n\r\nno line end";
  RawEmail_S next{"alice@example.jp", {"big@example.jp"}, &second}, last{"alice@example.jp", {"open@example.jp"}, &third};
  client_.setMail(&next);
  client_.sendEmail();
  client_.setMail(&last);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events, (Events{{0, 0}, {0, 0}, {0, 0}}));
  client_.quit();
  const auto got = exim_->deliveries(4);
  ASSERT_EQ(got.size(), 4u);
  // Sorted by recipient.
  EXPECT_EQ(got[0].rcptTo, "<big@example.jp>");
  EXPECT_EQ(got[0].data.size(), big.size() + 2);
  EXPECT_TRUE(got[0].data == big + "\r\n") << "the 10 MB text arrived changed";
  EXPECT_EQ(got[1].data, kStored);
  EXPECT_EQ(got[2].rcptTo, "<open@example.jp>");
  EXPECT_EQ(got[2].data, "Subject: open\r\n\r\nno line end\r\n");
  EXPECT_EQ(got[3].data, kStored);
}

TEST_F(SmtpEximTest, PopBeforeSmtpAgainstDovecot) {
  OXM_START_DOVECOT(dovecot, "localhost");
  const std::pair<const wchar_t*, Events> cases[] = {{L"secret1", kAccepted}, {L"wrong", failed(SMTP_AUTH_ERR)}};
  for (const auto& [password, events] : cases) {
    exim_->clear();
    MailAccount a = at(exim_->plainPort, 0, 1);
    a.popServerName = L"127.0.0.1";
    a.popServerPort = dovecot->port();
    a.popUserName = L"alice";
    a.popPassword = password;
    a.popBeforeSmtpLatencySec = 0;
    sendMail(a);
    EXPECT_EQ(recorder_.events, events);
    client_.quit();
    const size_t delivered = events == kAccepted ? 1 : 0;
    EXPECT_EQ(exim_->deliveries(delivered).size(), delivered);
  }
}

}  // namespace
}  // namespace oxm::test
