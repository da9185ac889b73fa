// The POP3 client and the retriever against a real Dovecot: logins, new messages across
// conversations, exact bytes, implicit TLS with good and bad certificates; partial messages
// completed, deleting and clearing on the server, a retrieval on a worker thread.
#include <atomic>
#include <set>
#include <thread>

#include "tests/transport/account_fixture.h"

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
  for (const char* cert : {"wronghost", "expired"}) {
    OXM_START_DOVECOT(bad, cert);
    net::setExtraTrustFile(certDir() + "/trust-all.pem");  // trusted: the host name or the dates fail
    EXPECT_EQ(converse(tlsAccount(*bad)).events, "E:POP_CONNECT_ERR") << cert;
  }
}

class RetrieverDovecotRunsTest : public DovecotRetrieverTest {
 protected:
  std::string size(std::initializer_list<int> numbers) {
    size_t total = 0;
    for (int i : numbers) total += want_[i].size();
    return std::to_string(total);
  }
};

TEST_F(RetrieverDovecotRunsTest, DeleteFromServerAndClearingTheServer) {
  // Each message deleted once stored.
  pointAt(dovecot_->port(), [](auto& a) {
    a.bMessageLeavingEnabled = true;
    a.mask |= uint64_t{1} << 8;
  });
  add(1, 3);
  EXPECT_TRUE(run());
  EXPECT_EQ(storedOnce("deleting"), wanted(1, 3));
  EXPECT_EQ(onServer().size(), 0u);
  // Kept on the server; clearing deletes what was received and nothing newer, the last UID stays.
  pointAt(dovecot_->port(), [](auto& a) { a.mask |= uint64_t{1} << 8; });
  add(4, 5);
  EXPECT_TRUE(run());
  EXPECT_EQ(storedOnce("keeping"), wanted(1, 5));
  EXPECT_EQ(onServer().size(), 2u);
  add(6, 6);
  const std::string last = accountFile("LastUID.ini");
  EXPECT_TRUE(run([&](OxRetriever& r, OxRASController& ras) {
    return r.ClearMessagesOnPopServer(account_.get(), &ras, "");
  }));
  EXPECT_EQ(onServer().size(), 1u);
  EXPECT_EQ(accountFile("UID.list"), "");
  EXPECT_EQ(accountFile("LastUID.ini"), last);
}

// Two lines of each message, then the whole messages in place by a selected retrieval.
TEST_F(RetrieverDovecotRunsTest, PartialMessagesCompletedBySelectedRetrieval) {
  pointAt(dovecot_->port(), [](auto& a) {
    a.bPartialRetrievingEnabled = true;
    a.uiPartialRetrievingLines = 2;
    a.mask |= uint64_t{3} << 9;
  });
  add(1, 2, 10);
  EXPECT_TRUE(run());
  EXPECT_EQ(recorder.events, "C1 C2 K7:2," + size({1, 2}) + " n K1 n K1 K4:2");
  const std::vector<Stored> partial = stored();
  ASSERT_EQ(partial.size(), 2u);
  for (const Stored& s : partial) {
    EXPECT_EQ(s.partial, 1);
    EXPECT_TRUE(s.text.find("line 2 of message") != std::string::npos && s.text.find("line 3 of message") == std::string::npos);
  }
  const std::string last = accountFile("LastUID.ini");
  EXPECT_TRUE(run([&](OxRetriever& r, OxRASController& ras) {
    return r.RetrieveSelectedMessages({partial[0].id, partial[1].id}, account_.get(), &ras, "");
  }));
  const std::vector<Stored> whole = stored();
  ASSERT_EQ(whole.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(whole[i].id == partial[i].id && whole[i].partial == 0) << i;
  EXPECT_EQ(storedOnce("completed"), wanted(1, 2));
  EXPECT_EQ(accountFile("LastUID.ini"), last);
}

// A retrieval on a worker while the main thread reads the account: every read and message.
TEST_F(RetrieverDovecotRunsTest, RetrievalOnAWorkerWhileTheMainThreadReadsTheAccount) {
  add(1, 60);
  std::atomic<bool> done{false};
  bool result = false;
  std::thread worker([&] {
    result = run();
    done = true;
  });
  int reads = 0, failures = 0;  // counted: a failed assertion must not leave the worker unjoined
  for (; !done; ++reads) {
    OxAccountInfoInterface::Attributes a;
    a.mask = 0x00BCDF7E;
    std::unique_ptr<OxStorageInterface> storage(account_->OpenStorage());
    std::unique_ptr<OxFolderInterface> root(storage ? storage->OpenRootFolder() : nullptr);
    std::unique_ptr<OxFolderInterface> inbox(storage ? storage->OpenFolder(inbox_) : nullptr);
    std::vector<unsigned long> folders, messages;
    failures += !(account_->GetAccountInfoAttributes(&a) && a.strPopUserName == L"alice");
    failures += !(root && root->GetFolderIds(&folders) && inbox && inbox->GetMessageIds(&messages));
  }
  worker.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(result);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(storedOnce("at the end"), want_);
}

}  // namespace
}  // namespace oxm::test
