// The POP3 client against a real Dovecot: logins, new messages across conversations, exact
// bytes, implicit TLS with good and bad certificates.
#include <gtest/gtest.h>

#include <set>

#include "frame/registry_value.h"
#include "platform/net.h"
#include "platform/question.h"
#include "tests/support/servers.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::test {
namespace {

// As stored in the maildir (LF) and as the client must deliver them (CR LF, dots unstuffed).
const std::vector<std::string> kStored = {
    "From: a@example.com\nSubject: one\n\n.\n..two dots\n",
    "From: b@example.com\nSubject: two\n\n\x82\xa0\xff bytes\n",
    "From: c@example.com\nSubject: three\n\nlast\n",
};
const std::multiset<std::string> kDelivered = {
    "From: a@example.com\r\nSubject: one\r\n\r\n.\r\n..two dots\r\n",
    "From: b@example.com\r\nSubject: two\r\n\r\n\x82\xa0\xff bytes\r\n",
    "From: c@example.com\r\nSubject: three\r\n\r\nlast\r\n",
};

std::multiset<std::string> texts(const PopRun& run) {
  std::multiset<std::string> out;
  for (const auto& [uid, text] : run.mails) out.insert(text);
  return out;
}

class PopDovecotTest : public PopTest {
 protected:
  void SetUp() override {
    PopTest::SetUp();
    setStepScale(0.01);  // Dovecot's own delays must not look like time-outs
  }
  void TearDown() override {
    net::setPortRedirect(995, 0);
    net::setExtraTrustFile("");
    OxSetQuestionCallback(nullptr, nullptr);
    PopTest::TearDown();
  }
  // Port 995 (implicit TLS) of localhost, redirected to the server's TLS port.
  MailAccount tlsAccount(const Dovecot& server) {
    net::setPortRedirect(995, server.tlsPort());
    MailAccount a = account(995);
    a.popServerName = L"localhost";
    return a;
  }
  MailAccount login(const Dovecot& server, bool apop, const wchar_t* password = L"secret1") {
    MailAccount a = account(server.port());
    a.apopEnabled = apop;
    a.popPassword = password;
    return a;
  }
};

TEST_F(PopDovecotTest, LoginsAndNewMessagesAcrossConversations) {
  OXM_START_DOVECOT(server, "localhost");
  server->addMessages("alice", kStored);
  // LIST sizes count CR LF line ends: 52 + 48 + 45.
  for (bool apop : {false, true}) {
    SCOPED_TRACE(apop ? "APOP" : "USER/PASS");
    PopRun run = converse(login(*server, apop));
    EXPECT_EQ(run.events, "K7:3,145 n K0 n K0 n K0 K4:3");
    EXPECT_EQ(texts(run), kDelivered);
  }

  // What the first conversation knew makes the next one fetch nothing, and a new message alone.
  MailAccount a = account(server->port());
  PopRun first = converse(a);
  ASSERT_EQ(first.latest.size(), 3u) << first.events;
  a.lastUid = std::wstring(first.lastRecvUid.begin(), first.lastRecvUid.end());
  for (const std::string& uid : first.latest) a.uidList.emplace_back(uid.begin(), uid.end());
  EXPECT_EQ(converse(a).events, "K4:0");
  server->addMessages("alice", {"Subject: four\n\nnew\n"});
  PopRun next = converse(a);
  EXPECT_EQ(next.events, "K7:1,22 n K0 K4:1");
  EXPECT_EQ(texts(next), std::multiset<std::string>{"Subject: four\r\n\r\nnew\r\n"});
  // Deleting from the server: earlier messages first, the new one after delivery.
  a.deleteFromServer = 1;
  a.lastUid = L"";
  EXPECT_EQ(converse(a).events, "K7:1,22 n K0 K4:1");
  EXPECT_EQ(converse(a).events, "K7:0,0 K5:0");  // the server holds nothing now
  // Failed logins last: Dovecot slows down the logins that follow them.
  for (bool apop : {false, true}) EXPECT_EQ(converse(login(*server, apop, L"wrong")).events, "E:POP_AUTH_ERR");
}

TEST_F(PopDovecotTest, ImplicitTlsWithTheCertificateCheck) {
  OXM_START_DOVECOT(server, "localhost");
  server->addMessages("alice", {kStored[2]});
  net::setExtraTrustFile(certDir() + "/trust-all.pem");
  PopRun run = converse(tlsAccount(*server));
  EXPECT_EQ(run.events, "K7:1,45 n K0 K4:1");
  EXPECT_EQ(texts(run), std::multiset<std::string>{"From: c@example.com\r\nSubject: three\r\n\r\nlast\r\n"});
  // An issuer the system does not know: refused unless accepted before for the host.
  net::setExtraTrustFile("");
  EXPECT_EQ(converse(tlsAccount(*server)).events, "E:POP_CONNECT_ERR");
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", L"l", 1));
  EXPECT_EQ(converse(tlsAccount(*server)).events, "K7:1,45 n K0 K4:1");
  for (const char* cert : {"wronghost", "expired"}) {
    OXM_START_DOVECOT(bad, cert);
    net::setExtraTrustFile(certDir() + "/trust-all.pem");  // trusted: the host name or the dates fail
    EXPECT_EQ(converse(tlsAccount(*bad)).events, "E:POP_CONNECT_ERR") << cert;
  }
}

}  // namespace
}  // namespace oxm::test
