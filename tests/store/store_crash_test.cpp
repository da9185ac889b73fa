// Killed processes: after each kill of a child that files messages the next open, or one recovery,
// keeps every message whose creation or import had returned, once, with its text.
#include <fcntl.h>
#include <signal.h>

#include <random>

#include "store/folder.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

class StoreCrashTest : public StoreTest {
 protected:
  // The child's work, forever, journaled after each step returned: c created, i imported, m moved,
  // r about to remove, R removed.
  [[noreturn]] void work(unsigned seed) {
    const int fd = ::open(root_.host("journal").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    StoragePtr s(openStorageInterface(L"S"));
    if (!s || fd < 0) _exit(3);
    auto journal = [fd](char kind, unsigned long id) {
      const std::string line = kind + (" " + std::to_string(id)) + "\n";
      if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) _exit(5);
    };
    std::mt19937 rng(seed);
    std::vector<FolderPtr> folders;
    for (unsigned long t : trays_) folders.emplace_back(s->OpenFolder(t));
    put("import.eml", mailText("imported"));
    for (;;) {
      OxFolderInterface* f = folders[rng() % folders.size()].get();
      Ids ids;
      if (!f->GetMessageIds(&ids)) _exit(4);
      const unsigned action = rng() % 10;
      if (ids.size() > 12 && action < 4) {
        const unsigned long id = ids[rng() % ids.size()];
        journal('r', id);
        if (!f->RemoveMessage(id)) _exit(6);
        journal('R', id);
      } else if (!ids.empty() && action < 6) {
        const unsigned long id = ids[rng() % ids.size()];
        if (!f->MoveMessage(id, folders[rng() % folders.size()].get())) _exit(7);
        journal('m', id);
      } else if (action < 8) {
        OxMessageImporter importer;
        if (!importer.SetSource({L"import.eml"}) || !importer.SetDestination(f) || !importer.Fire(nullptr)) _exit(10);
        Ids after;
        if (!f->GetMessageIds(&after) || after.size() != ids.size() + 1) _exit(11);
        journal('i', after.back());
      } else {
        unsigned long id = 0;
        if (!f->CreateMessage(&id)) _exit(8);
        MessagePtr m(s->OpenMessage(id));
        if (!m || !m->Write(mailText("crash " + std::to_string(id)))) _exit(9);
        journal('c', id);
      }
    }
  }

  // Reopens, recovers once if needed and checks the journal against the store.
  void check(const std::string& what) {
    reopenAndMend(what, true);
    if (HasFatalFailure()) return;
    std::map<unsigned long, char> state;
    std::istringstream in(readHostFile(root_.host("journal")));
    char kind;
    for (unsigned long id; in >> kind >> id;) state[id] = kind == 'm' ? state[id] : kind;
    for (auto [msg, last] : state) {
      if (last == 'c' || last == 'i') {
        ASSERT_EQ(text(msg), mailText(last == 'i' ? "imported" : "crash " + std::to_string(msg))) << what;
      } else if (last == 'R' && MessagePtr(storage_->OpenMessage(msg))) {
        // Made anew under the same identifier by a later creation (journaled then): readable.
        ASSERT_NE(text(msg), "(unreadable)") << what << ": message " << msg;
      }
    }
    closeAll();
  }
};

TEST_F(StoreCrashTest, RandomKillsAndKillsAtTheNthStep) {
  closeAll();
  std::mt19937 rng(20240506);
  int kills = 0;
  // Odd rounds kill at chosen steps of the platform: the Nth write, rename, delete or flush.
  const fault::Op ops[] = {fault::Op::Write, fault::Op::Rename, fault::Op::Delete, fault::Op::Flush};
  for (int round = 0; round < 320; ++round) {
    const bool atStep = round % 2 == 1;
    const int nth = 1 + static_cast<int>(rng() % 120);
    const pid_t pid = spawn([&]() -> int {
      fault::reset();
      if (atStep) fault::killAtNth(ops[(round / 2) % 4], nth);
      work(static_cast<unsigned>(round) * 7919u);
    });
    if (!atStep) {
      usleep(std::uniform_int_distribution<int>(0, 15000)(rng));
      kill(pid, SIGKILL);
    }
    const int status = waitFor(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child stopped with " << WEXITSTATUS(status);
    ++kills;
    check("round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(kills, 320);
  EXPECT_GT(recoveries_, 5) << "some kills must have needed recovery";
}

// Imports of six files killed at every fifth write, rename or flush: the next open repairs the
// batch (and drops its lock); no message is there twice or blank, a returned import brought all.
TEST_F(StoreCrashTest, ImportBatchKilledAtEveryNthStep) {
  constexpr int kFiles = 6, kStride = 5;
  for (int i = 0; i < 3; ++i) addMessage(tray(0).get(), mailText("before " + std::to_string(i)));
  closeAll();
  int kills = 0, run = 0;
  for (fault::Op op : {fault::Op::Write, fault::Op::Rename, fault::Op::Flush}) {
    for (int n = 1;; n += kStride) {
      auto subject = [run = ++run](int k) { return "import " + std::to_string(run) + " " + std::to_string(k); };
      std::vector<std::wstring> sources;
      for (int k = 0; k < kFiles; ++k) {
        put("imp" + std::to_string(k) + ".eml", mailText(subject(k)));
        sources.push_back(L"imp" + std::to_wstring(k) + L".eml");
      }
      const int status = childStatus([&]() -> int {
        StoragePtr s(openStorageInterface(L"S"));
        FolderPtr to(s ? s->OpenFolder(trays_[0]) : nullptr);
        if (!to) _exit(3);
        fault::reset();
        fault::killAtNth(op, n);
        OxMessageImporter importer;
        _exit(importer.SetSource(sources) && importer.SetDestination(to.get()) && importer.Fire(nullptr) ? 0 : 1);
      });
      const std::string when = "op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(n);
      reopen();
      EXPECT_FALSE(has("S/Batch.lock")) << when << ": the repair left the batch's lock";
      EXPECT_EQ(blankMessage(), "") << when;
      EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 0, 0) << when;
      std::map<std::string, int> seen;
      for (const auto& [id, folders] : listing()) {
        const std::string t = text(id);
        const size_t at = t.find("Subject: ") + 9;
        seen[t.substr(at, t.find("\r\n", at) - at)] += static_cast<int>(folders.size());
      }
      for (int i = 0; i < 3; ++i) EXPECT_EQ(seen["before " + std::to_string(i)], 1) << when;
      for (int k = 0; k < kFiles; ++k) {
        EXPECT_EQ(seen[subject(k)], WIFEXITED(status) ? 1 : std::min(seen[subject(k)], 1)) << when << ": " << k;
      }
      closeAll();
      if (HasFailure()) return;
      if (!WIFSIGNALED(status)) break;  // ended before the nth call: next kind of step
      ++kills;
    }
  }
  EXPECT_GE(kills, 6);
}

}  // namespace
}  // namespace oxm
