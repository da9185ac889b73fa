// The retriever against a real Dovecot: new, known and deleted messages over several runs,
// partial retrieval and its completion, deleting from the server, clearing the server.
#include <gtest/gtest.h>

#include "tests/transport/retriever_fixture.h"

namespace oxm::test {
namespace {

class RetrieverDovecotRunsTest : public DovecotRetrieverTest {
 protected:
  bool retrieve(const std::function<bool(OxRetriever&, OxRASController&)>& call = {}) {
    OxRetriever retriever;
    recorder = RetrieverRecorder();
    EXPECT_TRUE(retriever.registerNotify(&recorder));
    OxRASController ras;
    return call ? call(retriever, ras) : retriever.RetrieveMessages(account_.get(), &ras, "");
  }
  std::string size(std::initializer_list<int> numbers) {
    size_t total = 0;
    for (int i : numbers) total += want_[i].size();
    return std::to_string(total);
  }
  void setting(int bit, const std::function<void(OxAccountInfoInterface::Attributes&)>& set) {
    OxAccountInfoInterface::Attributes a;
    a.mask = uint64_t{1} << bit;
    set(a);
    ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  }

  RetrieverRecorder recorder;
};

TEST_F(RetrieverDovecotRunsTest, NewKnownAndDeletedMessagesOverThreeRuns) {
  add(1, 3);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:3," + size({1, 2, 3}) + " n K0 n K0 n K0 K4:3");
  EXPECT_EQ(storedOnce("first"), wanted(1, 3));

  // One gone from the server, two new: only those arrive.
  std::filesystem::remove(onServer()[1]);
  add(4, 5);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:2," + size({4, 5}) + " n K0 n K0 K4:2");
  EXPECT_EQ(storedOnce("second"), wanted(1, 5));

  // The last one received is gone too: the UID list alone tells the known ones.
  std::filesystem::remove(onServer()[5]);
  add(6, 6);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:1," + size({6}) + " n K0 K4:1");
  EXPECT_EQ(storedOnce("third"), wanted(1, 6));
  EXPECT_EQ(uidList().size(), 4u);  // 2, 3, 4 and 6 are on the server

  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 E:OXMDL_ERR_RTV_NOTHING_NEW");
  EXPECT_EQ(stored().size(), 6u);
  EXPECT_EQ(onServer().size(), 4u);
}

TEST_F(RetrieverDovecotRunsTest, PartialMessagesCompletedBySelectedRetrieval) {
  setting(9, [](auto& a) {
    a.bPartialRetrievingEnabled = true;
    a.uiPartialRetrievingLines = 2;
    a.mask = uint64_t{3} << 9;  // both
  });
  add(1, 2, 10);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(recorder.events, "C1 C2 K7:2," + size({1, 2}) + " n K1 n K1 K4:2");
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
  EXPECT_EQ(storedOnce("completed"), wanted(1, 2));
  EXPECT_EQ(lastUid(), last);
}

TEST_F(RetrieverDovecotRunsTest, DeleteFromServerAndClearingTheServer) {
  // Each message deleted once stored.
  setting(8, [](auto& a) { a.bMessageLeavingEnabled = true; });
  add(1, 3);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(storedOnce("deleting"), wanted(1, 3));
  EXPECT_EQ(onServer().size(), 0u);

  // Kept on the server; clearing deletes what was received and nothing newer.
  setting(8, [](auto& a) { a.bMessageLeavingEnabled = false; });
  add(4, 5);
  EXPECT_TRUE(retrieve());
  EXPECT_EQ(storedOnce("keeping"), wanted(1, 5));
  EXPECT_EQ(onServer().size(), 2u);
  add(6, 6);
  EXPECT_TRUE(retrieve([&](OxRetriever& r, OxRASController& ras) {
    return r.ClearMessagesOnPopServer(account_.get(), &ras, "");
  }));
  EXPECT_EQ(onServer().size(), 1u);
  EXPECT_TRUE(uidList().empty());
  EXPECT_EQ(accountFile("UID.list"), "");
}

}  // namespace
}  // namespace oxm::test
