// Retrievals from Dovecot in a child killed at the Nth write, rename, flush, delete, send or
// receive, run again until one ends by itself: then every message is stored once, byte for byte.
#include <random>

#include "platform/fault.h"
#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

class RetrieverCrashTest : public DovecotRetrieverTest {
 protected:
  // One retrieval in a child killed at the nth call of `op`: 0 it went through, 1 failed, -1 killed.
  int runChild(fault::Op op, int n) {
    account_.reset();  // the child opens its own
    const int result = killedRun(L"Mail", op, n, [](OxAccountInfoInterface* account, OxRASController* ras) {
      return OxRetriever().RetrieveMessages(account, ras, "");
    });
    account_.reset(OxAccountInfoInterface::OpenAccountInfo(L"Mail", L""));
    return result;
  }
};

// 200 messages, 30 kills at random points.
TEST_F(RetrieverCrashTest, KilledRetrievalsEndWithEveryMessageOnce) {
  constexpr int kMessages = 200, kKills = 30;
  for (int i = 1; i <= kMessages; ++i) add(i, i, 1 + i % 7);
  const fault::Op ops[] = {fault::Op::Write,  fault::Op::Rename, fault::Op::Flush,
                           fault::Op::Delete, fault::Op::Recv,   fault::Op::Send};
  std::mt19937 rng(20261207);
  int kills = 0;
  for (int runs = 0; kills < kKills; ++runs) {
    const fault::Op op = ops[rng() % std::size(ops)];
    const int n = 1 + static_cast<int>(rng() % 120);
    const int result = runChild(op, n);
    kills += result == -1;
    const std::string when = "after run " + std::to_string(runs) + " (" + describeRun(op, n, result) + ")";
    storedOnce(when, result == -1);
    if (HasFailure()) return;
    if (result == 0 && storedOnce(when).size() == static_cast<size_t>(kMessages)) break;
  }
  // Runs without a kill until one goes through.
  for (int i = 0; i < 3 && storedOnce("finishing").size() < static_cast<size_t>(kMessages); ++i) {
    runChild(fault::Op::Write, 0);
  }
  EXPECT_GT(kills, 0);
  EXPECT_EQ(storedOnce("at the end"), want_);
}

// Deleting runs killed at every 7th write, rename or flush: what the server deleted is stored.
TEST_F(RetrieverCrashTest, DeletingRetrievalKilledAtEveryNthStepLosesNothingTheServerDeleted) {
  pointAt(dovecot_->port(), [](OxAccountInfoInterface::Attributes& a) {
    a.bMessageLeavingEnabled = true;
    a.mask |= uint64_t{1} << 8;
  });
  int kills = 0;
  for (fault::Op op : {fault::Op::Write, fault::Op::Rename, fault::Op::Flush}) {
    for (int n = 1;; n += 7) {
      const int first = static_cast<int>(want_.size()) + 1;
      for (int i = first; i < first + 5; ++i) add(i, i, 1 + i % 7);
      const int result = runChild(op, n);
      const std::string when = describeRun(op, n, result);
      const std::map<int, std::string> stored = storedOnce(when, result == -1);
      const std::map<int, std::string> server = onServer();
      for (const auto& [i, text] : want_) {
        if (!server.count(i)) {
          EXPECT_EQ(stored.count(i) ? stored.at(i) : "<lost>", text) << when << ": message " << i;
        }
      }
      // A whole run fetches what the killed one left on the server.
      EXPECT_EQ(runChild(op, 0), 0) << when;
      EXPECT_TRUE(onServer().empty()) << when;
      EXPECT_EQ(storedOnce(when + ", run again"), want_);
      if (HasFailure()) return;
      if (result != -1) break;  // the run ended before the nth call: next kind of step
      ++kills;
    }
  }
  EXPECT_GE(kills, 6);
}

}  // namespace
}  // namespace oxm::test
