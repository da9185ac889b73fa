// Killed processes: a child imports, creates, writes, moves and removes messages and is killed at
// random moments and at the Nth write, rename or delete. After each kill the next open, or one
// recovery, leaves every folder readable, every message whose creation or import (with its text)
// had returned true there once, and no message without its text.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "store/folder.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

class StoreCrashTest : public StoreTest {
 protected:
  void journal(int fd, char kind, unsigned long id) {
    char line[32];
    int n = std::snprintf(line, sizeof line, "%c %lu\n", kind, id);
    if (::write(fd, line, static_cast<size_t>(n)) != n) _exit(5);
  }

  // The child's work, forever: journal lines are written only after the step returned true
  // ("c" created and written, "i" imported, "m" moved, "r" about to remove, "R" removed).
  [[noreturn]] void work(unsigned seed) {
    int fd = ::open(root_.host("journal").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    StoragePtr s(openStorageInterface(L"S"));
    if (!s || fd < 0) _exit(3);
    std::mt19937 rng(seed);
    std::vector<FolderPtr> folders;
    for (unsigned long t : trays_) folders.emplace_back(s->OpenFolder(t));
    writeHostFile(root_.host("import.eml"), mailText("imported"));
    for (;;) {
      OxFolderInterface* f = folders[rng() % folders.size()].get();
      std::vector<unsigned long> ids;
      if (!f->GetMessageIds(&ids)) _exit(4);
      const unsigned action = rng() % 10;
      if (ids.size() > 12 && action < 4) {
        unsigned long id = ids[rng() % ids.size()];
        journal(fd, 'r', id);
        if (!f->RemoveMessage(id)) _exit(6);
        journal(fd, 'R', id);
      } else if (!ids.empty() && action < 6) {
        unsigned long id = ids[rng() % ids.size()];
        if (!f->MoveMessage(id, folders[rng() % folders.size()].get())) _exit(7);
        journal(fd, 'm', id);
      } else if (action < 8) {
        // The importer's path: a sized creation, the attributes, then the text.
        OxMessageImporter importer;
        if (!importer.SetSource({L"import.eml"}) || !importer.SetDestination(f) || !importer.Fire(nullptr)) _exit(10);
        std::vector<unsigned long> after;
        if (!f->GetMessageIds(&after) || after.size() != ids.size() + 1) _exit(11);
        journal(fd, 'i', after.back());
      } else {
        unsigned long id = 0;
        if (!f->CreateMessage(&id)) _exit(8);
        MessagePtr m(s->OpenMessage(id));
        if (!m || !m->Write(mailText("crash " + std::to_string(id)))) _exit(9);
        journal(fd, 'c', id);
      }
    }
  }

  // "" when every listed message has its text, else the first that has none.
  std::string blankMessage() {
    for (unsigned long folder : allFolders(storage_.get())) {
      FolderPtr f(storage_->OpenFolder(folder));
      std::vector<unsigned long> listed;
      if (!f || !f->GetMessageIds(&listed)) return "folder " + std::to_string(folder) + " unreadable";
      for (unsigned long id : listed) {
        MessagePtr m(storage_->OpenMessage(id));
        std::string text;
        if (!m || !m->Read(&text) || text.empty()) return "message " + std::to_string(id) + " without text";
      }
    }
    return "";
  }

  // Reopens, recovers once if needed and checks the journal against the store.
  void check(const std::string& what) {
    reopen();
    std::string problem = storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat"));
    if (problem.empty()) problem = blankMessage();
    if (!problem.empty()) {
      ++recoveries_;
      ASSERT_TRUE(storage_->RecoverMessageEntryAll()) << what << ": " << problem << std::hex << " " << GetOxMiddleError();
      ASSERT_EQ(storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat")), "") << what << " after " << problem;
      ASSERT_EQ(blankMessage(), "") << what << " after " << problem;
    }
    std::map<unsigned long, char> state;
    std::istringstream in(readHostFile(root_.host("journal")));
    char kind;
    unsigned long id;
    while (in >> kind >> id) {
      if (kind == 'c' || kind == 'i' || kind == 'r' || kind == 'R') state[id] = kind;
    }
    for (auto [msg, last] : state) {
      MessagePtr m(storage_->OpenMessage(msg));
      if (last == 'c' || last == 'i') {
        ASSERT_TRUE(m) << what << ": message " << msg << " lost";
        std::string text;
        ASSERT_TRUE(m->Read(&text)) << what << ": message " << msg;
        ASSERT_EQ(text, last == 'i' ? mailText("imported") : mailText("crash " + std::to_string(msg))) << what;
      } else if (last == 'R') {
        // Removed, or made anew under the same identifier by a later creation (journaled then).
        if (m) {
          std::string text;
          ASSERT_TRUE(m->Read(&text));
        }
      }
    }
    closeAll();
  }

  int recoveries_ = 0;
};

TEST_F(StoreCrashTest, RandomKillsAndKillsAtTheNthStep) {
  closeAll();
  std::mt19937 rng(20240506);
  int kills = 0;
  // Kills at chosen steps of the platform: the Nth write, rename or delete of the child.
  const fault::Op ops[] = {fault::Op::Write, fault::Op::Rename, fault::Op::Delete, fault::Op::Flush};
  for (int round = 0; round < 320; ++round) {
    const bool atStep = round % 2 == 1;
    const fault::Op op = ops[(round / 2) % 4];
    const int nth = 1 + static_cast<int>(rng() % 120);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      fault::reset();
      if (atStep) fault::killAtNth(op, nth);
      work(static_cast<unsigned>(round) * 7919u);
    }
    if (!atStep) usleep(std::uniform_int_distribution<int>(0, 15000)(rng));
    int status = 0;
    if (!atStep) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child stopped with " << WEXITSTATUS(status);
    ++kills;
    check("round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
  reopen();
  EXPECT_EQ(kills, 320);
  EXPECT_GT(recoveries_, 5) << "some kills must have needed recovery";
  std::printf("kills %d, recoveries %d\n", kills, recoveries_);
}

// Imports of kFiles files, each killed at every kStride-th write, rename or flush of its run:
// the next open repairs what the batch left (and drops its lock file); the messages filed
// before are there once, an import that returned brought every file once, and none is there
// twice or without its text.
TEST_F(StoreCrashTest, ImportBatchKilledAtEveryNthStep) {
  constexpr int kFiles = 6;
  constexpr int kStride = 5;
  FolderPtr inbox = tray(0);
  for (int i = 0; i < 3; ++i) addMessage(inbox.get(), mailText("before " + std::to_string(i)));
  inbox.reset();
  closeAll();
  // How often each subject is filed in the store.
  auto subjects = [&] {
    std::map<std::string, int> seen;
    for (unsigned long folder : allFolders(storage_.get())) {
      FolderPtr f(storage_->OpenFolder(folder));
      std::vector<unsigned long> ids;
      if (!f || !f->GetMessageIds(&ids)) continue;
      for (unsigned long id : ids) {
        MessagePtr m(storage_->OpenMessage(id));
        std::string text;
        if (!m || !m->Read(&text)) continue;
        const size_t at = text.find("Subject: ") + 9;
        ++seen[text.substr(at, text.find("\r\n", at) - at)];
      }
    }
    return seen;
  };
  int kills = 0, run = 0;
  for (fault::Op op : {fault::Op::Write, fault::Op::Rename, fault::Op::Flush}) {
    for (int n = 1;; n += kStride) {
      ++run;
      std::vector<std::wstring> sources;
      for (int k = 0; k < kFiles; ++k) {
        const std::string name = "imp" + std::to_string(run) + "_" + std::to_string(k) + ".eml";
        writeHostFile(root_.host(name), mailText("import " + std::to_string(run) + " " + std::to_string(k)));
        sources.emplace_back(name.begin(), name.end());
      }
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        StoragePtr s(openStorageInterface(L"S"));
        FolderPtr to(s ? s->OpenFolder(trays_[0]) : nullptr);
        if (!to) _exit(3);
        fault::reset();
        fault::killAtNth(op, n);
        OxMessageImporter importer;
        _exit(importer.SetSource(sources) && importer.SetDestination(to.get()) && importer.Fire(nullptr) ? 0 : 1);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      const std::string when = "op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(n);
      reopen();
      EXPECT_FALSE(hostFileExists(root_.host("S/Batch.lock"))) << when << ": the repair left the batch's lock";
      EXPECT_EQ(blankMessage(), "") << when;
      const std::map<std::string, int> seen = subjects();
      auto times = [&](const std::string& subject) { return seen.count(subject) ? seen.at(subject) : 0; };
      for (int i = 0; i < 3; ++i) EXPECT_EQ(times("before " + std::to_string(i)), 1) << when;
      for (int k = 0; k < kFiles; ++k) {
        const std::string subject = "import " + std::to_string(run) + " " + std::to_string(k);
        const int count = times(subject);
        if (WIFEXITED(status)) {
          EXPECT_EQ(WEXITSTATUS(status), 0) << when;
          EXPECT_EQ(count, 1) << when << ": " << subject;
        } else {
          EXPECT_LE(count, 1) << when << ": " << subject;
        }
      }
      closeAll();
      if (HasFailure()) return;
      if (!WIFSIGNALED(status)) break;  // the import ended before the nth call: next kind of step
      ++kills;
    }
  }
  EXPECT_GE(kills, 6);
}

}  // namespace
}  // namespace oxm
