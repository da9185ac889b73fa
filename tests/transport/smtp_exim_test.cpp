// SmtpClient against a real Exim on 127.0.0.1: STARTTLS and TLS from the first byte with each
// authentication, several messages and a 10 MB text on one connection, compared byte for byte
// with what Exim delivered.
#include <gtest/gtest.h>

#include "tests/support/exim.h"
#include "tests/support/servers.h"
#include "tests/transport/smtp_fixture.h"

namespace oxm::test {
namespace {

// Lines that begin with dots arrive as written; Exim stores the text with the empty line the
// client's "\r\n.\r\n" after a final CR LF makes.
const std::string kText = "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: dots\r\n\r\n.\r\n..two\r\n.x\r\nlast\r\n";
const std::string kStored = kText + "\r\n";

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
  // The account on localhost (the certificates' name), its port 465 or 587 redirected to `to`.
  void sendTo(unsigned port, unsigned to, unsigned method, std::list<std::string> rcpts = {"bob@example.jp"}) {
    net::setPortRedirect(port, to);
    MailAccount a = account(port, method);
    a.smtpServerName = L"localhost";
    sendMail(a, kText, std::move(rcpts), "alice@example.jp");
  }

  std::string why_;
  EximServer* exim_ = nullptr;
};

TEST_F(SmtpEximTest, EveryTlsWayInDeliversTheTextByteForByte) {
  const struct {
    const char* name;
    unsigned port;      // the account's port: 465 and 587 switch TLS on
    unsigned redirect;  // the Exim port that port goes to
    unsigned method;
  } cases[] = {
      {"STARTTLS + AUTH LOGIN", 587, exim_->submitPort, 4},
      {"STARTTLS + AUTH CRAM-MD5", 587, exim_->submitPort, 3},
      {"STARTTLS, AUTH offered only after it, chosen from EHLO", 587, exim_->strictPort, 2},
      {"TLS from the first byte + AUTH chosen from EHLO", 465, exim_->smtpsPort, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exim_->clear();
    sendTo(c.port, c.redirect, c.method);
    ASSERT_EQ(recorder_.events, kAccepted);
    client_.quit();
    const auto got = exim_->deliveries(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mailFrom, "<alice@example.jp>");
    EXPECT_EQ(got[0].rcptTo, "<bob@example.jp>");
    EXPECT_EQ(got[0].data, kStored);
  }
}

TEST_F(SmtpEximTest, SeveralMessagesAndALargeTextOnOneConnection) {
  // 10 MB of Base64 lines, and a text without a final line end.
  std::string big = "Subject: big\r\n\r\n", open = "Subject: open\r\n\r\nno line end";
  while (big.size() < (10u << 20)) big += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
  sendTo(465, exim_->smtpsPort, 3, {"one@example.jp", "two@example.jp"});
  ASSERT_EQ(recorder_.events, kAccepted);
  std::string copy = big;  // the client may work on the text in place
  RawEmail_S next{"alice@example.jp", {"big@example.jp"}, &copy}, last{"alice@example.jp", {"open@example.jp"}, &open};
  client_.setMail(&next);
  client_.sendEmail();
  client_.setMail(&last);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events, (Events{{0, 0}, {0, 0}, {0, 0}}));
  client_.quit();
  const auto got = exim_->deliveries(4);  // sorted by recipient
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].rcptTo, "<big@example.jp>");
  EXPECT_TRUE(got[0].data == big + "\r\n") << "the 10 MB text arrived changed, " << got[0].data.size() << " bytes";
  EXPECT_EQ(got[1].data, kStored);
  EXPECT_EQ(got[2].data, "Subject: open\r\n\r\nno line end\r\n");
  EXPECT_EQ(got[3].data, kStored);
}

}  // namespace
}  // namespace oxm::test
