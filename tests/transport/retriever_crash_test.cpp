// A retrieval of 200 messages from Dovecot in a child process that is killed at random points
// (the Nth write, rename, flush, delete, send or receive), run again and again until one run
// ends by itself: then every message on the server is in the store exactly once, byte for byte.
// After each kill, nothing may be stored twice (checked where the folders can be read: a save
// that died may leave them for the next retrieval's recovery to mend).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "platform/fault.h"
#include "tests/support/servers.h"
#include "tests/transport/retriever_fixture.h"

namespace oxm::test {
namespace {

constexpr int kMessages = 200;
constexpr int kKills = 30;

std::string mailFile(int i) {
  std::string body;
  for (int k = 0; k < 1 + i % 7; ++k) body += "line " + std::to_string(k) + " of message " + std::to_string(i) + "\n";
  return "From: sender" + std::to_string(i) + "@example.com\nTo: alice@example.com\nSubject: msg " +
         std::to_string(i) + "\nDate: Thu, 01 Jan 2026 00:00:00 +0000\n\n" + body;
}
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

class RetrieverCrashTest : public RetrieverTest {
 protected:
  void SetUp() override {
    RetrieverTest::SetUp();
    setStepScale(1.0);
  }

  // One retrieval in a child that kills itself at the nth call of `op` (n 0: no kill). The
  // exit status: 0 the retrieval went through, 1 it failed, -1 killed.
  int runChild(fault::Op op, int n) {
    account_.reset();  // the child opens its own
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::unique_ptr<OxAccountInfoInterface> account(OxAccountInfoInterface::OpenAccountInfo(L"Mail", L""));
      if (!account) _exit(3);
      if (n > 0) fault::killAtNth(op, n);
      OxRetriever retriever;
      OxRASController ras;
      const bool ok = retriever.RetrieveMessages(account.get(), &ras, "");
      account.reset();
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    account_.reset(OxAccountInfoInterface::OpenAccountInfo(L"Mail", L""));
    if (WIFSIGNALED(status)) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }

  // The stored messages by number; a number seen twice is a failure. A message without its text
  // may only be the one in flight when the process died, made with or without its UID (the
  // next retrieval removes it).
  std::map<int, std::string> storedOnce(const std::string& when, bool afterKill = false) {
    std::map<int, std::string> out;
    const std::string inFlight = readHostFile(data("Mail/RecvUID.dat"));
    for (const Stored& s : stored()) {
      const size_t at = s.text.find("Subject: msg ");
      if (at == std::string::npos) {
        EXPECT_TRUE(afterKill && (s.uid == inFlight || s.uid.empty())) << when << ": a message without its text, uid '" << s.uid << "'";
        continue;
      }
      const int n = std::atoi(s.text.c_str() + at + 13);
      EXPECT_EQ(out.count(n), 0u) << when << ": message " << n << " stored twice";
      out[n] = s.text;
    }
    return out;
  }
};

TEST_F(RetrieverCrashTest, KilledRetrievalsEndWithEveryMessageOnce) {
  std::string why;
  std::unique_ptr<Dovecot> dovecot = Dovecot::start("localhost", &why);
  if (!dovecot) GTEST_SKIP() << why;
  pointAt("127.0.0.1", dovecot->port());
  std::vector<std::string> files;
  std::map<int, std::string> want;
  for (int i = 1; i <= kMessages; ++i) {
    files.push_back(mailFile(i));
    want[i] = crlf(files.back());
  }
  dovecot->addMessages("alice", files);

  const fault::Op ops[] = {fault::Op::Write, fault::Op::Rename, fault::Op::Flush,
                           fault::Op::Delete, fault::Op::Recv, fault::Op::Send};
  std::mt19937 rng(20261207);
  int kills = 0, runs = 0;
  for (; kills < kKills; ++runs) {
    const fault::Op op = ops[rng() % std::size(ops)];
    const int n = 1 + static_cast<int>(rng() % 120);
    const int result = runChild(op, n);
    if (result == -1) ++kills;
    const std::string when = "after run " + std::to_string(runs) + " (op " + std::to_string(static_cast<int>(op)) +
                             ", call " + std::to_string(n) + ", result " + std::to_string(result) + ")";
    storedOnce(when, result == -1);
    if (HasFailure()) return;
    if (result == 0 && storedOnce(when).size() == static_cast<size_t>(kMessages)) break;
  }
  // Runs without a kill until one goes through.
  for (int i = 0; i < 3 && storedOnce("finishing").size() < static_cast<size_t>(kMessages); ++i) runChild(fault::Op::Write, 0);
  EXPECT_GT(kills, 0);
  EXPECT_EQ(storedOnce("at the end"), want);
}

// Retrievals with deletion from the server, each of kBatch new messages and killed at every
// kStride-th write, rename or flush of its run: after each kill whatever the server no longer
// holds is in the store, nothing twice; the next whole run leaves every message stored once.
TEST_F(RetrieverCrashTest, DeletingRetrievalKilledAtEveryNthStepLosesNothingTheServerDeleted) {
  constexpr int kBatch = 5;
  constexpr int kStride = 7;
  std::string why;
  std::unique_ptr<Dovecot> dovecot = Dovecot::start("localhost", &why);
  if (!dovecot) GTEST_SKIP() << why;
  pointAt("127.0.0.1", dovecot->port(), [](OxAccountInfoInterface::Attributes& a) {
    a.bMessageLeavingEnabled = true;
    a.mask |= uint64_t{1} << 8;
  });
  // The message numbers still in the user's maildir.
  auto onServer = [&] {
    std::set<int> numbers;
    for (const char* sub : {"/cur", "/new"}) {
      std::error_code ec;
      for (const auto& f : std::filesystem::directory_iterator(dovecot->dir() + "/home/alice/Maildir" + sub, ec)) {
        const std::string text = readHostFile(f.path().string());
        const size_t at = text.find("Subject: msg ");
        if (at != std::string::npos) numbers.insert(std::atoi(text.c_str() + at + 13));
      }
    }
    return numbers;
  };
  std::map<int, std::string> want;
  int kills = 0;
  for (fault::Op op : {fault::Op::Write, fault::Op::Rename, fault::Op::Flush}) {
    for (int n = 1;; n += kStride) {
      std::vector<std::string> files;
      for (int k = 0; k < kBatch; ++k) {
        const int i = static_cast<int>(want.size()) + 1;
        files.push_back(mailFile(i));
        want[i] = crlf(files.back());
      }
      dovecot->addMessages("alice", files);
      const int result = runChild(op, n);
      const std::string when = "op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(n);
      const std::map<int, std::string> stored = storedOnce(when, result == -1);
      const std::set<int> server = onServer();
      for (const auto& [i, text] : want) {
        if (!server.count(i)) EXPECT_EQ(stored.count(i) ? stored.at(i) : "<lost>", text) << when << ": message " << i;
      }
      // A whole run fetches what the killed one left on the server.
      EXPECT_EQ(runChild(op, 0), 0) << when;
      EXPECT_EQ(onServer(), std::set<int>()) << when;
      EXPECT_EQ(storedOnce(when + ", run again"), want);
      if (HasFailure()) return;
      if (result != -1) break;  // the run ended before the nth call: next kind of step
      ++kills;
    }
  }
  EXPECT_GE(kills, 6);
}

}  // namespace
}  // namespace oxm::test
