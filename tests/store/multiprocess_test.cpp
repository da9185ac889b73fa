// Two processes adding messages to the same folders at once lose nothing: every process reads
// again what another one changed before it changes it. A process that lists and reads while
// another imports never fails.
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "store/folder.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
class MultiProcessTest : public StoreTest {};

TEST_F(MultiProcessTest, TwoWritersLoseNothing) {
  // The parent keeps the storage open meanwhile: it must see the children's work too.
  FolderPtr inbox = tray(0);
  unsigned long before = addMessage(inbox.get(), mailText("parent"));
  constexpr int kEach = 120;
  pid_t pids[2];
  for (int child = 0; child < 2; ++child) {
    pids[child] = fork();
    ASSERT_GE(pids[child], 0);
    if (pids[child] == 0) {
      StoragePtr s(openStorageInterface(L"S"));
      FolderPtr f(s ? s->OpenFolder(1) : nullptr);
      FolderPtr other(s ? s->OpenFolder(child == 0 ? 2 : 3) : nullptr);
      if (!f || !other) _exit(2);
      for (int i = 0; i < kEach; ++i) {
        unsigned long id = 0;
        OxFolderInterface* into = i % 4 == 3 ? other.get() : f.get();
        if (!into->CreateMessage(&id)) _exit(3);
        MessagePtr m(s->OpenMessage(id));
        if (!m || !m->Write(mailText("child" + std::to_string(child) + " " + std::to_string(i)))) _exit(4);
      }
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << WEXITSTATUS(status);
  }
  std::vector<unsigned long> listed = ids(inbox.get());
  EXPECT_EQ(listed.size(), 1u + 2u * (kEach - kEach / 4));
  EXPECT_EQ(listed.front(), before);
  std::set<std::string> texts;
  for (unsigned long id : listed) {
    MessagePtr m(storage_->OpenMessage(id));
    std::string text;
    ASSERT_TRUE(m && m->Read(&text));
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), listed.size()) << "every message its own";
  FolderPtr send = tray(1);
  FolderPtr sent = tray(2);
  EXPECT_EQ(ids(send.get()).size(), static_cast<size_t>(kEach / 4));
  EXPECT_EQ(ids(sent.get()).size(), static_cast<size_t>(kEach / 4));
  char status[16];
  std::snprintf(status, sizeof status, "%04X\t%X", 1 + 2 * kEach, 1 + 2 * kEach);
  EXPECT_EQ(file("S/DATA/Status.txt"), status);
  EXPECT_EQ(storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat")), "");
  // And the parent can still add to the folder it kept open.
  unsigned long after = addMessage(inbox.get(), "after");
  EXPECT_EQ(ids(inbox.get()).back(), after);
}

}  // namespace
}  // namespace oxm

namespace oxm {
namespace {

using namespace test;
class ReaderWriterTest : public StoreTest {};

// What a list view does over and over while another process imports: the list, the header
// records, and a few messages opened and read. Returns "" or the first failure.
std::string readOnce(OxStorageInterface* s, unsigned long folderId, size_t* seen) {
  FolderPtr f(s->OpenFolder(folderId));
  if (!f) return "open folder " + std::to_string(GetOxMiddleError());
  std::vector<unsigned long> ids;
  if (!f->GetMessageIds(&ids)) return "list " + std::to_string(GetOxMiddleError());
  std::vector<FolderMsgHeader> headers(ids.size());
  if (!ids.empty() && !f->LoadMessageHeader(headers.data(), ids.size())) {
    return "headers of " + std::to_string(ids.size()) + ": " + std::to_string(GetOxMiddleError());
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    if (headers[i].messageId != ids[i]) return "record " + std::to_string(i) + " is another message's";
  }
  for (size_t i = ids.size() > 3 ? ids.size() - 3 : 0; i < ids.size(); ++i) {
    MessagePtr m(s->OpenMessage(ids[i]));
    std::string text;
    if (!m || !m->Read(&text)) return "read " + std::to_string(ids[i]) + ": " + std::to_string(GetOxMiddleError());
  }
  *seen = ids.size();
  return "";
}

TEST_F(ReaderWriterTest, AReaderIsNeverDisturbedByAnImportInAnotherProcess) {
  constexpr int kMessages = 500;
  writeHostFile(root_.host("one.eml"), mailText("imported", "text\r\n"));
  const unsigned long inboxId = trays_[0];
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    StoragePtr s(openStorageInterface(L"S"));
    FolderPtr f(s ? s->OpenFolder(inboxId) : nullptr);
    if (!f) _exit(2);
    OxMessageImporter importer;
    if (!importer.SetSource(std::vector<std::wstring>(kMessages, L"one.eml")) || !importer.SetDestination(f.get()) ||
        !importer.Fire(nullptr)) {
      _exit(3);
    }
    _exit(0);
  }
  int failures = 0;
  int reads = 0;
  std::string first;
  size_t seen = 0;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    // A storage opened afresh each time, as a new oxmail process does.
    StoragePtr s(openStorageInterface(L"S"));
    const std::string problem = s ? readOnce(s.get(), inboxId, &seen) : "open " + std::to_string(GetOxMiddleError());
    ++reads;
    if (!problem.empty() && failures++ == 0) first = problem;
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the importer failed: " << WEXITSTATUS(status);
  EXPECT_EQ(failures, 0) << "of " << reads << " reads; the first: " << first;
  EXPECT_GT(reads, 5) << "the reader ran alongside the import";
  StoragePtr s(openStorageInterface(L"S"));
  ASSERT_EQ(readOnce(s.get(), inboxId, &seen), "");
  EXPECT_EQ(seen, static_cast<size_t>(kMessages));
}

}  // namespace
}  // namespace oxm
