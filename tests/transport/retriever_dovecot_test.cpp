// The retriever against a real Dovecot: new, known and deleted messages over several runs,
// partial retrieval and its completion, deleting from the server, clearing the server, and a
// retrieval on a worker thread while the main thread reads the account.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/servers.h"
#include "tests/transport/retriever_fixture.h"

namespace oxm::test {
namespace {

// Message i as the maildir file holds it (LF line ends), with `lines` body lines.
std::string mailFile(int i, int lines = 3) {
  std::string body;
  for (int k = 1; k <= lines; ++k) body += "line " + std::to_string(k) + " of message " + std::to_string(i) + "\n";
  if (i % 3 == 0) body += ".a line that starts with a dot\n.\n";
  return "From: sender" + std::to_string(i) + "@example.com\nTo: alice@example.com\nSubject: msg " +
         std::to_string(i) + "\nDate: Thu, 01 Jan 2026 00:00:00 +0000\n\n" + body;
}
// What the server serves for it: CR LF line ends.
std::string served(const std::string& file) {
  std::string out;
  for (char c : file) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

class RetrieverDovecotTest : public RetrieverTest {
 protected:
  void SetUp() override {
    RetrieverTest::SetUp();
    setStepScale(1.0);  // a real server: the real time-outs
  }
  void add(std::initializer_list<int> numbers, int lines = 3) {
    std::vector<std::string> files;
    for (int i : numbers) {
      files.push_back(mailFile(i, lines));
      sent_[i] = served(files.back());
    }
    dovecot_->addMessages("alice", files);
  }
  // Removes message i's file from the server's maildir.
  void removeOnServer(int i) {
    const std::string needle = "Subject: msg " + std::to_string(i) + "\n";
    for (const auto& e : std::filesystem::directory_iterator(dovecot_->dir() + "/home/alice/Maildir/cur")) {
      if (readHostFile(e.path()).find(needle) != std::string::npos) std::filesystem::remove(e.path());
    }
  }
  bool retrieve(const std::function<bool(OxRetriever&, OxRASController&)>& call = {}) {
    OxRetriever retriever;
    recorder = RetrieverRecorder();
    EXPECT_TRUE(retriever.registerNotify(&recorder));
    OxRASController ras;
    return call ? call(retriever, ras) : retriever.RetrieveMessages(account_.get(), &ras, "");
  }
  // The stored texts by message number (from the subject); each number must appear once.
  std::map<int, std::string> storedByNumber() {
    std::map<int, std::string> out;
    for (const Stored& s : stored()) {
      const size_t at = s.text.find("Subject: msg ");
      const int n = at == std::string::npos ? -1 : std::atoi(s.text.c_str() + at + 13);
      EXPECT_EQ(out.count(n), 0u) << "message " << n << " stored twice";
      out[n] = s.text;
    }
    return out;
  }
  void expectStored(std::initializer_list<int> numbers) {
    std::map<int, std::string> want;
    for (int i : numbers) want[i] = sent_[i];
    EXPECT_EQ(storedByNumber(), want);
  }

  std::unique_ptr<Dovecot> dovecot_;
  std::map<int, std::string> sent_;
  RetrieverRecorder recorder;
};

#define OXM_DOVECOT_OR_SKIP()                        \
  std::string why;                                   \
  dovecot_ = Dovecot::start("localhost", &why);      \
  if (!dovecot_) GTEST_SKIP() << why;                \
  pointAt("127.0.0.1", dovecot_->port())

TEST_F(RetrieverDovecotTest, NewKnownAndDeletedMessagesOverThreeRuns) {
  OXM_DOVECOT_OR_SKIP();
  add({1, 2, 3});
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:3," + std::to_string(sent_[1].size() + sent_[2].size() + sent_[3].size()) +
                                 " n K0 n K0 n K0 K4:3");
  expectStored({1, 2, 3});

  // One gone from the server, two new: only those arrive.
  removeOnServer(1);
  add({4, 5});
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:2," + std::to_string(sent_[4].size() + sent_[5].size()) + " n K0 n K0 K4:2");
  expectStored({1, 2, 3, 4, 5});

  // The last one received is gone too: the UID list alone tells the known ones.
  removeOnServer(5);
  add({6});
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:1," + std::to_string(sent_[6].size()) + " n K0 K4:1");
  expectStored({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(uidList().size(), 4u);  // 2, 3, 4 and 6 are on the server

  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 E:OXMDL_ERR_RTV_NOTHING_NEW");
  EXPECT_EQ(stored().size(), 6u);
  EXPECT_EQ(dovecot_->messageCount("alice"), 4);
}

TEST_F(RetrieverDovecotTest, PartialMessagesCompletedBySelectedRetrieval) {
  OXM_DOVECOT_OR_SKIP();
  OxAccountInfoInterface::Attributes a;
  a.bPartialRetrievingEnabled = true;
  a.uiPartialRetrievingLines = 2;
  a.mask = uint64_t{3} << 9;
  ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  add({1, 2}, 10);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events.substr(0, 6), "C1 C2 ");
  EXPECT_NE(recorder.events.find("n K1 n K1 K4:2"), std::string::npos) << recorder.events;
  std::vector<Stored> partial = stored();
  ASSERT_EQ(partial.size(), 2u);
  for (const Stored& s : partial) {
    EXPECT_EQ(s.partial, 1);
    EXPECT_NE(s.text.find("line 2 of message"), std::string::npos);
    EXPECT_EQ(s.text.find("line 3 of message"), std::string::npos);
  }
  const std::wstring last = lastUid();

  EXPECT_TRUE(retrieve([&](OxRetriever& r, OxRASController& ras) {
    return r.RetrieveSelectedMessages({partial[0].id, partial[1].id}, account_.get(), &ras, "");
  }));
  const std::vector<Stored> whole = stored();
  ASSERT_EQ(whole.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(whole[i].id, partial[i].id);
    EXPECT_EQ(whole[i].partial, 0);
  }
  expectStored({1, 2});
  EXPECT_EQ(lastUid(), last);
}

TEST_F(RetrieverDovecotTest, DeleteFromServerAndClearingTheServer) {
  OXM_DOVECOT_OR_SKIP();
  // Each message deleted once stored.
  OxAccountInfoInterface::Attributes a;
  a.bMessageLeavingEnabled = true;
  a.mask = uint64_t{1} << 8;
  ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  add({1, 2, 3});
  EXPECT_TRUE(retrieve());
  expectStored({1, 2, 3});
  EXPECT_EQ(dovecot_->messageCount("alice"), 0);

  // Kept on the server; clearing deletes what was received and nothing newer.
  a.bMessageLeavingEnabled = false;
  a.mask = uint64_t{1} << 8;
  ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  add({4, 5});
  EXPECT_TRUE(retrieve());
  expectStored({1, 2, 3, 4, 5});
  EXPECT_EQ(dovecot_->messageCount("alice"), 2);
  add({6});
  EXPECT_TRUE(retrieve([&](OxRetriever& r, OxRASController& ras) {
    return r.ClearMessagesOnPopServer(account_.get(), &ras, "");
  }));
  EXPECT_EQ(dovecot_->messageCount("alice"), 1);
  EXPECT_TRUE(uidList().empty());
  EXPECT_EQ(accountFile("UID.list"), "");
}

TEST_F(RetrieverDovecotTest, RetrievalOnAWorkerWhileTheMainThreadReadsTheAccount) {
  OXM_DOVECOT_OR_SKIP();
  std::vector<int> numbers;
  for (int i = 1; i <= 60; ++i) numbers.push_back(i);
  std::vector<std::string> files;
  for (int i : numbers) {
    files.push_back(mailFile(i));
    sent_[i] = served(files.back());
  }
  dovecot_->addMessages("alice", files);

  std::atomic<bool> done{false};
  bool result = false;
  std::thread worker([&] {
    result = retrieve();
    done = true;
  });
  // Every failure is counted (a failed assertion must not leave the worker unjoined).
  int reads = 0;
  std::vector<std::string> failures;
  auto check = [&](bool ok, const char* what) {
    if (!ok) failures.push_back(std::string(what) + " " + std::to_string(GetOxMiddleError()));
    return ok;
  };
  while (!done) {
    OxAccountInfoInterface::Attributes a;
    a.mask = 0x00BCDF7E;
    if (check(account_->GetAccountInfoAttributes(&a), "settings")) check(a.strPopUserName == L"alice", "user");
    std::unique_ptr<OxStorageInterface> storage(account_->OpenStorage());
    if (!check(storage != nullptr, "storage")) continue;
    std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
    std::vector<unsigned long> folders;
    if (check(root != nullptr, "root")) check(root->GetFolderIds(&folders), "folders");
    std::unique_ptr<OxFolderInterface> inbox(storage->OpenFolder(inbox_));
    std::vector<unsigned long> messages;
    if (check(inbox != nullptr, "inbox")) check(inbox->GetMessageIds(&messages), "messages");
    ++reads;
  }
  worker.join();
  EXPECT_EQ(failures, std::vector<std::string>{});
  EXPECT_TRUE(result);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(stored().size(), 60u);
}

}  // namespace
}  // namespace oxm::test
