// Retrievals from Dovecot and an outbox sent to Exim, in a child killed at the Nth write, rename,
// flush, delete, send or receive, run again until one ends by itself: then every message is
// stored (or filed) once, and every one sent was delivered at least once.
#include <map>
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

int numberOf(const std::string& text) { return subjectNumber(text, "Subject: message "); }

class SenderCrashTest : public SenderTest {
 protected:
  // One run in a child killed at the nth call of `op` (n 0: none): 0 done, 1 not, -1 killed.
  int runChild(fault::Op op, int n) {
    storage_.reset();
    account_.reset();  // the child opens its own
    const int result = killedRun(L"mail", op, n, [](OxAccountInfoInterface* account, OxRASController* ras) {
      return Sender().SendMultiMail(account, ras, L"") == 1;
    });
    account_ = open(L"mail");
    storage_.reset(account_->OpenStorage());
    return result;
  }

  // The sent folder by message number, each once; after a kill, copies without text and a list
  // that needs recovery are left for the next run to mend.
  std::map<int, int> filedOnce(const std::string& when, bool afterKill = false) {
    std::map<int, int> count;
    bool listed = false;
    const std::vector<std::string> all = texts(sent_, &listed);
    EXPECT_TRUE(listed || afterKill) << when << ": the sent folder cannot be listed";
    for (const std::string& text : all) {
      const int n = numberOf(text);
      if (n == 0) {
        EXPECT_TRUE(afterKill) << when << ": a filed message without its text";
        continue;
      }
      EXPECT_EQ(++count[n], 1) << when << ": message " << n << " filed twice";
    }
    return count;
  }
};

// An outbox of 100, 20 kills; the duplicates SMTP cannot avoid are counted.
TEST_F(SenderCrashTest, KilledRunsEndWithEveryMessageFiledOnce) {
  constexpr int kMessages = 100, kKills = 20;
  for (int i = 1; i <= kMessages; ++i) add(outboxText(i));
  const fault::Op ops[] = {fault::Op::Write,  fault::Op::Rename, fault::Op::Flush,
                           fault::Op::Delete, fault::Op::Send,   fault::Op::Recv};
  std::mt19937 rng(20261207);
  int kills = 0, runs = 0;
  auto outboxDone = [this] {
    bool listed = false;
    return texts(outbox_, &listed).empty() && listed;
  };
  for (; kills < kKills && !outboxDone(); ++runs) {
    const fault::Op op = ops[rng() % std::size(ops)];
    const int n = 1 + static_cast<int>(rng() % 150);
    const int result = runChild(op, n);
    kills += result == -1;
    filedOnce("after run " + std::to_string(runs) + " (" + describeRun(op, n, result) + ")", result == -1);
    if (HasFailure()) return;
  }
  // Runs without a kill until the outbox is empty.
  for (int i = 0; i < 3 && !outboxDone(); ++i) runChild(fault::Op::Write, 0);
  EXPECT_GT(kills, 0);
  EXPECT_TRUE(outboxDone());
  const std::map<int, int> filed = filedOnce("at the end");
  EXPECT_EQ(filed.size(), static_cast<size_t>(kMessages));
  // Delivered at least once each; the rest are the duplicates.
  std::map<int, int> delivered;
  for (const auto& d : exim_->deliveries(kMessages)) ++delivered[numberOf(d.data)];
  int duplicates = 0;
  for (int i = 1; i <= kMessages; ++i) {
    EXPECT_GE(delivered[i], 1) << "message " << i << " never reached the server";
    duplicates += std::max(0, delivered[i] - 1);
  }
  EXPECT_EQ(delivered.count(0), 0u) << "a delivery that is none of the messages";
  std::printf("sender crash test: %d kills in %d runs, %d duplicate deliveries of %d messages\n", kills, runs,
              duplicates, kMessages);
}

}  // namespace
}  // namespace oxm::test
