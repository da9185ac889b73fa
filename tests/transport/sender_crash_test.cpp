// An outbox of 100 sent by a child killed at random points, run again until the outbox is empty:
// every message filed once and delivered at least once; the duplicates SMTP cannot avoid counted.
#include <map>
#include <random>

#include "platform/fault.h"
#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

constexpr int kMessages = 100;
constexpr int kKills = 20;

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

TEST_F(SenderCrashTest, KilledRunsEndWithEveryMessageFiledOnce) {
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
  const auto got = exim_->deliveries(kMessages);
  for (const auto& d : got) ++delivered[numberOf(d.data)];
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
