// SmtpClient against a real Exim on 127.0.0.1: plain, STARTTLS with LOGIN and CRAM-MD5, TLS
// from the first byte, a wrong password, a STARTTLS port that offers none, several messages on
// one connection, a 10 MB text, and POP before SMTP against Dovecot. Every delivered file is
// compared with what was sent, byte for byte.
#include <gtest/gtest.h>

#include "frame/oxerror.h"
#include "platform/net.h"
#include "tests/support/exim.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"
#include "transport/smtp_client.h"

namespace oxm::test {
namespace {

struct Recorder : SmtpClient::NotifySmtp {
  std::vector<std::pair<int, unsigned>> events;
  bool notify(int kind, long a, long) override {
    events.emplace_back(kind, static_cast<unsigned>(a));
    return true;
  }
};

using Events = std::vector<std::pair<int, unsigned>>;
const Events kAccepted = {{0, 0}};

// A body line "." and lines that begin with dots: they arrive as written.
const char kText[] =
    "From: alice@example.jp\r\n"
    "To: bob@example.jp\r\n"
    "Subject: dots\r\n"
    "\r\n"
    ".\r\n"
    "..two\r\n"
    ".x\r\n"
    "last\r\n";
// What Exim stores: the text, and the empty line the client's "\r\n.\r\n" after a text that
// already ends with CR LF makes.
const std::string kStored = std::string(kText) + "\r\n";

class SmtpEximTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    setStepScale(1.0);
    exim_ = EximServer::shared(&why_);
    if (!exim_) return;
    exim_->clear();
    net::setExtraTrustFile(certDir() + "/trust-all.pem");  // the issuer is known: the host check decides
    client_.registerNotifySmtp(&recorder_);
  }
  void TearDown() override {
    net::setExtraTrustFile("");
    net::setPortRedirect(465, 0);
    net::setPortRedirect(587, 0);
    TransportTest::TearDown();
  }

  MailAccount account(unsigned port, unsigned method, const wchar_t* password = L"secret1") {
    MailAccount a;
    a.smtpServerName = L"localhost";
    a.smtpServerPort = port;
    a.smtpAuthMethod = method;
    a.smtpUserName = L"alice";
    a.smtpPassword = password;
    return a;
  }

  void send(MailAccount a, const std::string& text, std::list<std::string> rcpts = {"bob@example.jp"}) {
    text_ = text;
    mail_ = {"alice@example.jp", std::move(rcpts), &text_};
    client_.setAccount(&a, nullptr);
    client_.setMail(&mail_);
    client_.newConnection();
  }

  std::string why_;
  EximServer* exim_ = nullptr;
  Recorder recorder_;
  SmtpClient client_;
  RawEmail_S mail_;
  std::string text_;
};

#define NEED_EXIM() \
  if (!exim_) GTEST_SKIP() << "no Exim: " << why_

TEST_F(SmtpEximTest, EveryWayInDeliversTheTextByteForByte) {
  NEED_EXIM();
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
    recorder_.events.clear();
    net::setPortRedirect(c.port, c.redirect);
    send(account(c.port, c.method), kText);
    ASSERT_EQ(recorder_.events, kAccepted);
    client_.quit();
    EXPECT_EQ(client_.state(), SmtpState::Closed);
    const auto got = exim_->deliveries(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mailFrom, "<alice@example.jp>");
    EXPECT_EQ(got[0].rcptTo, "<bob@example.jp>");
    EXPECT_EQ(got[0].data, kStored);
    net::setPortRedirect(c.port, 0);
  }
}

TEST_F(SmtpEximTest, RefusalsDeliverNothing) {
  NEED_EXIM();
  net::setPortRedirect(587, exim_->submitPort);
  send(account(587, 4, L"wrong"), kText);
  EXPECT_EQ(recorder_.events, (Events{{1, SMTP_AUTH_ERR}}));

  // The submission port wants authentication before RCPT: without it the recipient is refused.
  recorder_.events.clear();
  send(account(exim_->submitPort, 0), kText);
  EXPECT_EQ(recorder_.events, (Events{{1, SMTP_ADDRESS_ERR}}));

  // A certificate for another host name is refused by the certificate check.
  recorder_.events.clear();
  net::setPortRedirect(465, exim_->smtpsPort);
  MailAccount other = account(465, 2);
  other.smtpServerName = L"127.0.0.1";  // the certificate names localhost
  send(other, kText);
  EXPECT_EQ(recorder_.events, (Events{{1, SMTP_CONNECT_ERR}}));
  EXPECT_TRUE(exim_->deliveries(0).empty());
}

TEST_F(SmtpEximTest, SeveralMessagesAndALargeTextOnOneConnection) {
  NEED_EXIM();
  // 10 MB of Base64 lines as an attachment, and a text without a final line end.
  std::string big =
      "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: big\r\nMime-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n"
      "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  const std::string line = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
  while (big.size() < (10u << 20)) big += line;
  big += "--b--\r\n";
  const std::string bigCopy = big;
  const std::string open = "Subject: open\r\n\r\nno line end";
  net::setPortRedirect(465, exim_->smtpsPort);
  send(account(465, 3), kText, {"one@example.jp", "two@example.jp"});
  ASSERT_EQ(recorder_.events, kAccepted);
  std::string second = big, third = open;
  RawEmail_S next{"alice@example.jp", {"big@example.jp"}, &second};
  client_.setMail(&next);
  client_.sendEmail();
  RawEmail_S last{"alice@example.jp", {"open@example.jp"}, &third};
  client_.setMail(&last);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events, (Events{{0, 0}, {0, 0}, {0, 0}}));
  client_.quit();
  const auto got = exim_->deliveries(4);
  ASSERT_EQ(got.size(), 4u);
  // Sorted by recipient.
  EXPECT_EQ(got[0].rcptTo, "<big@example.jp>");
  EXPECT_EQ(got[0].data.size(), bigCopy.size() + 2);
  EXPECT_TRUE(got[0].data == bigCopy + "\r\n") << "the 10 MB text arrived changed";
  EXPECT_EQ(got[1].data, kStored);
  EXPECT_EQ(got[2].rcptTo, "<open@example.jp>");
  EXPECT_EQ(got[2].data, "Subject: open\r\n\r\nno line end\r\n");
  EXPECT_EQ(got[3].data, kStored);
}

TEST_F(SmtpEximTest, PopBeforeSmtpAgainstDovecot) {
  NEED_EXIM();
  OXM_START_DOVECOT(dovecot, "localhost");
  struct Case {
    const wchar_t* password;
    Events events;
    size_t delivered;
  } cases[] = {{L"secret1", kAccepted, 1}, {L"wrong", {{1, SMTP_AUTH_ERR}}, 0}};
  for (const Case& c : cases) {
    exim_->clear();
    recorder_.events.clear();
    MailAccount a = account(exim_->plainPort, 1);
    a.popServerName = L"127.0.0.1";
    a.popServerPort = dovecot->port();
    a.popUserName = L"alice";
    a.popPassword = c.password;
    a.popBeforeSmtpLatencySec = 0;
    send(a, kText);
    EXPECT_EQ(recorder_.events, c.events);
    client_.quit();
    EXPECT_EQ(exim_->deliveries(c.delivered).size(), c.delivered);
  }
}

}  // namespace
}  // namespace oxm::test
