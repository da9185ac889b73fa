// SmtpClient and the sender against a real Exim: plain, STARTTLS and TLS with each authentication,
// a 10 MB text, byte for byte as delivered; the refusals; POP before SMTP against a real Dovecot;
// an outbox of 50 with one recipient refused, the one-message forms, runs that do not start.
#include <set>

#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

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

  std::string why_;
  EximServer* exim_ = nullptr;
};

TEST_F(SmtpEximTest, EveryTlsWayInDeliversTheTextByteForByte) {
  // Dot lines arrive as written; Exim keeps the empty line of "\r\n.\r\n" after a final CR LF.
  const std::string text = "From: alice@example.jp\r\nSubject: dots\r\n\r\n.\r\n..two\r\n.x\r\nlast\r\n";
  std::string big = "Subject: big\r\n\r\n";
  while (big.size() < (10u << 20)) big += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5\r\n";
  const struct {
    const char* name;
    unsigned port;      // the account's port: 465 and 587 switch TLS on
    unsigned redirect;  // the Exim port that port goes to
    unsigned method;
    const std::string& text;
  } cases[] = {
      {"plain, no authentication", exim_->plainPort, 0, 0, text},
      {"587 without STARTTLS on offer: plain text", 587, exim_->plainPort, 0, text},
      {"STARTTLS + AUTH LOGIN", 587, exim_->submitPort, 4, text},
      {"STARTTLS + AUTH CRAM-MD5", 587, exim_->submitPort, 3, text},
      {"STARTTLS, AUTH offered only after it, chosen from EHLO", 587, exim_->strictPort, 2, text},
      {"TLS from the first byte + AUTH chosen from EHLO, 10 MB", 465, exim_->smtpsPort, 2, big},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exim_->clear();
    net::setPortRedirect(c.port, c.redirect);
    MailAccount a = account(c.port, c.method);
    a.smtpServerName = L"localhost";  // the certificates' name
    sendMail(a, c.text, {"bob@example.jp"}, "alice@example.jp");
    ASSERT_EQ(recorder_.events, kAccepted);
    client_.quit();
    const auto got = exim_->deliveries(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mailFrom, "<alice@example.jp>");
    EXPECT_EQ(got[0].rcptTo, "<bob@example.jp>");
    EXPECT_TRUE(got[0].data == c.text + "\r\n") << "the text arrived changed, " << got[0].data.size() << " bytes";
  }
}

// A wrong password; a certificate for another host name is refused by the certificate check.
TEST_F(SmtpEximTest, RefusalsDeliverNothing) {
  const struct { unsigned port, redirect, method; const wchar_t *password, *host; unsigned code; } cases[] = {
      {587, exim_->submitPort, 4, L"wrong", L"localhost", SMTP_AUTH_ERR},
      {465, exim_->smtpsPort, 2, L"secret1", L"127.0.0.1", SMTP_CONNECT_ERR},  // the certificate names localhost
  };
  for (const auto& c : cases) {
    net::setPortRedirect(c.port, c.redirect);
    MailAccount a = account(c.port, c.method, c.password);
    a.smtpServerName = c.host;
    sendMail(a, "Subject: x\r\n\r\nx\r\n", {"bob@example.jp"}, "alice@example.jp");
    EXPECT_EQ(recorder_.events, failed(c.code)) << c.port;
  }
  EXPECT_TRUE(exim_->deliveries(0).empty());
}

TEST_F(SmtpEximTest, PopBeforeSmtpAgainstDovecot) {
  OXM_START_DOVECOT(dovecot, "localhost");
  const std::tuple<const wchar_t*, bool, Events> cases[] = {
      {L"secret1", false, kAccepted}, {L"secret1", true, kAccepted}, {L"wrong", false, failed(SMTP_AUTH_ERR)}};
  for (const auto& [password, apop, events] : cases) {
    exim_->clear();
    MailAccount a = account(exim_->plainPort, 1);
    a.popServerName = L"127.0.0.1";
    a.popServerPort = dovecot->port();
    a.popUserName = L"alice";
    a.popPassword = password;
    a.apopEnabled = apop;
    a.popBeforeSmtpLatencySec = 0;
    sendMail(a, "Subject: x\r\n\r\nx\r\n", {"bob@example.jp"}, "alice@example.jp");
    EXPECT_EQ(recorder_.events, events);
    client_.quit();
    const size_t delivered = events == kAccepted ? 1 : 0;
    EXPECT_EQ(exim_->deliveries(delivered).size(), delivered);
  }
}

TEST_F(SenderTest, OutboxOfFiftyWithTheTenthRecipientRefused) {
  for (int i = 1; i <= 50; ++i) add(outboxText(i, i == 10 ? "refused@example.jp" : "bob@example.jp"));
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 1);
  EXPECT_EQ(recorder_.count(1), 49);
  EXPECT_EQ(recorder_.count(0, SMTP_ADDRESS_ERR), 1);
  EXPECT_EQ(recorder_.count(2, 0) + recorder_.count(2, SENDER_CANCEL_ERROR), 0);
  EXPECT_EQ(recorder_.events.front(), (std::pair<int, unsigned>{4, 1}));
  EXPECT_EQ(recorder_.events.back(), (std::pair<int, unsigned>{3, 0}));
  EXPECT_EQ(texts(outbox_), std::vector<std::string>{outboxText(10, "refused@example.jp")}) << "left untouched";
  // Each filed copy is the delivered text, with its Message-Id and the line "." unstuffed.
  const std::vector<std::string> filed = texts(sent_);
  const auto delivered = exim_->deliveries(49);
  ASSERT_EQ(delivered.size(), 49u);
  std::multiset<std::string> wire, copies;
  for (const auto& d : delivered) wire.insert(d.data);
  for (const std::string& f : filed) {
    copies.insert(f + "\r\n");
    EXPECT_NE(f.find("\r\n.\r\nend\r\n"), std::string::npos);
    EXPECT_NE(f.find("Message-Id: <"), std::string::npos);
  }
  EXPECT_TRUE(wire == copies);
}

// What a run that died after the server's acceptance leaves: the outbox message noted in
// Accepted.dat, or marked itself (older runs). Either is filed from the outbox, not sent again.
TEST_F(SenderTest, AcceptedMessagesOfADeadRunAreFiledNotSent) {
  const unsigned long noted = add(outboxText(1));
  add(outboxText(2));
  const unsigned long marked = add(outboxText(3));
  const auto note = [this](unsigned long id, int n) {
    writeHostFile(data("mail/Accepted.dat"), std::to_string(id) + " " + std::to_string(outboxText(n).size()) +
                                                 " oxm-accepted <" + std::to_string(n) + "@example.jp>");
  };
  note(noted, 1);
  {
    std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(marked));
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_TEXT;
    a.text = "oxm-accepted <three@example.jp>";
    ASSERT_TRUE(m && m->SetAttributes(a));
  }
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 1);
  EXPECT_EQ(recorder_.count(1), 3);
  const auto delivered = exim_->deliveries(1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_NE(delivered[0].data.find("Subject: message 2\r\n"), std::string::npos);
  EXPECT_TRUE(texts(outbox_).empty());
  EXPECT_EQ(texts(sent_).size(), 3u);
  EXPECT_EQ(readHostFile(data("mail/Accepted.dat")), "") << "emptied once the message left the outbox";
  // An outbox of such messages alone: a run to its end that sends nothing.
  note(add(outboxText(4)), 4);
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 1);
  EXPECT_TRUE(texts(outbox_).empty());
  EXPECT_EQ(texts(sent_).size(), 4u);
  EXPECT_EQ(exim_->deliveries(1).size(), 1u);
  // A note whose size is not the message's (an identifier given out again) is no note.
  note(add(outboxText(15)), 5);
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 1);
  EXPECT_EQ(exim_->deliveries(2).size(), 2u) << "sent";
}

TEST_F(SenderTest, RunsThatDoNotStart) {
  add(outboxText(1));
  connmgr::failEstablish(CONNMGR_STATUS_CONNECTIONFAILED);
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 0);
  EXPECT_EQ(recorder_.events, (Events{{4, 1}, {2, SENDER_CONNECT_ERROR}}));
  connmgr::reset();
  recorder_.events.clear();
  EXPECT_EQ(sender_.SendMultiMail(nullptr, &controller_, L""), 0);
  EXPECT_EQ(recorder_.events, (Events{{2, SENDER_ACCOUNTINFO_ERROR}}));
}

TEST_F(SenderTest, OneMessageForms) {
  // A message record: encoded, sent and filed; the outbox is not touched.
  add(outboxText(7));
  Email mail;
  mail.from = L"alice@example.jp";
  mail.to = {L"carol@example.jp"};
  mail.subject = L"one";
  mail.body = L"one message\r\n";
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &mail, L""), 1);
  EXPECT_EQ(recorder_.events, (Events{{4, 1}, {4, 2}, {1, 0}}));
  auto got = exim_->deliveries(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rcptTo, "<carol@example.jp>");
  ASSERT_EQ(texts(sent_).size(), 1u);
  EXPECT_EQ(got[0].data, texts(sent_)[0] + "\r\n");
  EXPECT_EQ(texts(outbox_).size(), 1u);
  // An encoded message with its envelope: the caller's text comes back as it was.
  exim_->clear();
  std::string text = "Subject: raw\r\n\r\n.\r\n";
  RawEmail_S raw{"alice@example.jp", {"dave@example.jp"}, &text};
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &raw), 0);
  EXPECT_EQ(text, "Subject: raw\r\n\r\n.\r\n");
  got = exim_->deliveries(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, "Subject: raw\r\n\r\n.\r\n\r\n");
  EXPECT_EQ(texts(sent_).size(), 2u);
  // No room in the sent folder: the old-message check may not remove the two unread copies.
  recorder_.events.clear();
  OxAccountInfoInterface::Attributes a;
  a.bRemoveOldMessageEnabled = 1;
  a.ulRemoveOldMessageCnt = 1;
  a.mask = (uint64_t{1} << 23) | (uint64_t{1} << 24);
  ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  OxMessageInterface::Attributes unread;
  unread.mask = OxMessageInterface::ATTR_UNREAD;
  unread.flags[0] = 1;
  std::vector<unsigned long> ids;
  ASSERT_TRUE(std::unique_ptr<OxFolderInterface>(storage_->OpenFolder(sent_))->GetMessageIds(&ids));
  for (unsigned long id : ids) {
    ASSERT_TRUE(std::unique_ptr<OxMessageInterface>(storage_->OpenMessage(id))->SetAttributes(unread));
  }
  exim_->clear();
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &mail, L""), 0);
  ASSERT_FALSE(recorder_.events.empty());
  EXPECT_EQ(recorder_.events.back(), (std::pair<int, unsigned>{2, SENDER_FREESPACE_ERROR}));
  EXPECT_TRUE(exim_->deliveries(0).empty());
}

}  // namespace
}  // namespace oxm::test
