// The retriever against a real Dovecot: several runs, partial messages completed, deleting and
// clearing on the server, a retrieval on a worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

class RetrieverDovecotRunsTest : public DovecotRetrieverTest {
 protected:
  std::string size(std::initializer_list<int> numbers) {
    size_t total = 0;
    for (int i : numbers) total += want_[i].size();
    return std::to_string(total);
  }
};

TEST_F(RetrieverDovecotRunsTest, NewKnownAndDeletedMessagesOverThreeRuns) {
  add(1, 3);
  EXPECT_TRUE(run());
  EXPECT_EQ(recorder.events, "C1 C2 K7:3," + size({1, 2, 3}) + " n K0 n K0 n K0 K4:3");
  EXPECT_EQ(storedOnce("first"), wanted(1, 3));
  // One gone from the server, two new: only those arrive.
  std::filesystem::remove(onServer()[1]);
  add(4, 5);
  EXPECT_TRUE(run());
  EXPECT_EQ(recorder.events, "C1 C2 K7:2," + size({4, 5}) + " n K0 n K0 K4:2");
  EXPECT_EQ(storedOnce("second"), wanted(1, 5));
  std::list<std::wstring> uids;
  EXPECT_TRUE(account_->GetUIDL(&uids));
  EXPECT_EQ(uids.size(), 4u);  // 2, 3, 4 and 5 are on the server
  EXPECT_TRUE(run());
  EXPECT_EQ(recorder.events, "C1 C2 E:OXMDL_ERR_RTV_NOTHING_NEW");
  EXPECT_EQ(stored().size(), 5u);
  EXPECT_EQ(onServer().size(), 4u);
}

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
