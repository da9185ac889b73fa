// Processes that add to the same folders at once lose nothing; one reading beside an import never
// fails; what a batch holds back is merged with what another process wrote meanwhile.
#include <set>

#include "platform/fault.h"
#include "store/batch.h"
#include "store/folder.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using MultiProcessTest = StoreTest;

TEST_F(MultiProcessTest, TwoWritersLoseNothing) {
  // The parent keeps the storage open meanwhile: it must see the children's work too.
  FolderPtr inbox = tray(0);
  addMessage(inbox.get(), mailText("parent"));
  constexpr int kEach = 120;
  auto writer = [&](int child) -> int {
    StoragePtr s(openStorageInterface(L"S"));
    FolderPtr f(s ? s->OpenFolder(1) : nullptr), other(s ? s->OpenFolder(child == 0 ? 2 : 3) : nullptr);
    for (int i = 0; f && other && i < kEach; ++i) {
      unsigned long id = 0;
      if (!(i % 4 == 3 ? other : f)->CreateMessage(&id)) _exit(3);
      MessagePtr m(s->OpenMessage(id));
      if (!m || !m->Write(mailText("child" + std::to_string(child) + " " + std::to_string(i)))) _exit(4);
    }
    _exit(f && other ? 0 : 2);
  };
  const pid_t pids[] = {spawn([&] { return writer(0); }), spawn([&] { return writer(1); })};
  for (pid_t pid : pids) EXPECT_EQ(waitFor(pid), 0) << "a writer failed";
  const Ids listed = ids(inbox.get());
  EXPECT_EQ(listed.size(), 1u + 2u * (kEach - kEach / 4));
  std::set<std::string> texts;
  for (unsigned long id : listed) texts.insert(text(id));
  EXPECT_EQ(texts.size(), listed.size()) << "every message its own";
  EXPECT_EQ(ids(tray(1).get()).size() + ids(tray(2).get()).size(), size_t{kEach / 2});
  EXPECT_EQ(file("S/DATA/Status.txt"), "00F1\tF1") << "1 + 2 * 120 messages";
  EXPECT_EQ(problems(), "");
  const unsigned long after = addMessage(inbox.get(), "after");
  EXPECT_EQ(ids(inbox.get()).back(), after);
}

// What a list view does: the list, the header records, the last few messages read; "" or what failed.
std::string readOnce(OxStorageInterface* s, unsigned long folderId, size_t* seen) {
  auto fail = [](const std::string& what) { return what + " " + std::to_string(GetOxMiddleError()); };
  FolderPtr f(s->OpenFolder(folderId));
  Ids ids;
  if (!f || !f->GetMessageIds(&ids)) return fail("open or list");
  std::vector<FolderMsgHeader> headers(ids.size());
  if (!ids.empty() && !f->LoadMessageHeader(headers.data(), ids.size())) return fail("headers");
  for (size_t i = 0; i < ids.size(); ++i) {
    if (headers[i].messageId != ids[i]) return "record " + std::to_string(i) + " is another message's";
  }
  for (size_t i = ids.size() > 3 ? ids.size() - 3 : 0; i < ids.size(); ++i) {
    MessagePtr m(s->OpenMessage(ids[i]));
    std::string text;
    if (!m || !m->Read(&text)) return fail("read " + std::to_string(ids[i]));
  }
  *seen = ids.size();
  return "";
}

TEST_F(MultiProcessTest, AReaderIsNeverDisturbedByAnImportInAnotherProcess) {
  constexpr int kMessages = 500;
  put("one.eml", mailText("imported", "text\r\n"));
  const unsigned long inboxId = trays_[0];
  const pid_t pid = spawn([&]() -> int {
    StoragePtr s(openStorageInterface(L"S"));
    FolderPtr f(s ? s->OpenFolder(inboxId) : nullptr);
    OxMessageImporter importer;
    _exit(f && importer.SetSource(std::vector<std::wstring>(kMessages, L"one.eml")) &&
                  importer.SetDestination(f.get()) && importer.Fire(nullptr) ? 0 : 3);
  });
  int failures = 0, reads = 0, status = 0;
  std::string first;
  size_t seen = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
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
  EXPECT_EQ(seen, size_t{kMessages});
}

// A batch writes the inbox list and DATA\Status.txt only at its end, merged with another process's
// removal and creation in between; a write that fails there keeps the lock for the next open's repair.
TEST_F(MultiProcessTest, ABatchHoldsItsIndexBackAndMergesAnotherProcessAtItsEnd) {
  FolderPtr inbox = tray(0);
  const unsigned long a = addMessage(inbox.get(), mailText("a")), b = addMessage(inbox.get(), mailText("b"));
  const std::string list = file("S/TREE/01/00.msg");
  ASSERT_EQ(list, "0000\t0\t0\r\n0001\t0\t0\r\n");
  // Another process, forked before the batch and let go in it: it opens the storage afresh (a
  // count behind the entry index is no damage while the batch runs: a repair there would count c
  // twice below), removes a and adds d.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t other = spawn([&]() -> int {
    close(go[1]);
    char ch;
    if (read(go[0], &ch, 1) != 0) return 2;
    inbox.reset();
    closeAll();
    StoragePtr s(openStorageInterface(L"S"));
    FolderPtr f(s ? s->OpenFolder(trays_[0]) : nullptr);
    unsigned long d = 0;
    if (!f || !f->RemoveMessage(a) || !f->CreateMessage(&d)) return 3;
    MessagePtr m(s->OpenMessage(d));
    return m && m->Write(mailText("d")) && d == 3 ? 0 : 4;
  });
  close(go[0]);
  {
    StoreBatch batch(storage_.get());
    const unsigned long c = addMessage(inbox.get(), mailText("c"));
    Attr flags{.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_PARTIAL};
    flags.flags[0] = flags.flags[2] = 1;
    setAttr(b, flags);
    EXPECT_EQ(ids(inbox.get()), (Ids{a, b, c}));
    EXPECT_TRUE(filesAre({{"S/TREE/01/00.msg", list}, {"S/DATA/Status.txt", "0002\t2"}}));
    close(go[1]);
    EXPECT_EQ(waitFor(other), 0);
    EXPECT_EQ(batch.finish(), OXMDL_ERR_NONE);
  }
  EXPECT_TRUE(filesAre({{"S/TREE/01/00.msg", "0001\t1\t1\r\n0003\t0\t0\r\n0002\t0\t0\r\n"},
                        {"S/DATA/Status.txt", "0004\t3"},
                        {"S/Batch.lock", kAbsent}}));
  {  // a creation and a removal that add up to nothing in the count still took an identifier;
     // a nested batch's end writes nothing, the outermost one's does
    StoreBatch batch(storage_.get());
    {
      StoreBatch inner(storage_.get());
      EXPECT_TRUE(inbox->RemoveMessage(addMessage(inbox.get(), mailText("gone"))));
      EXPECT_EQ(inner.finish(), OXMDL_ERR_NONE);
    }
    EXPECT_EQ(file("S/DATA/Status.txt"), "0004\t3");
    EXPECT_EQ(batch.finish(), OXMDL_ERR_NONE);
  }
  EXPECT_EQ(file("S/DATA/Status.txt"), "0005\t3");
  {
    StoreBatch batch(storage_.get());
    addMessage(inbox.get(), mailText("e"));
    fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
    EXPECT_EQ(batch.finish(), OXMDL_ERR_STG_DISK_FULL);
    fault::reset();
  }
  EXPECT_TRUE(has("S/Batch.lock"));
  inbox.reset();
  reopen();
  EXPECT_EQ(ids(tray(0).get()), (Ids{1, 3, 2, 5}));
  EXPECT_FALSE(has("S/Batch.lock"));
  EXPECT_EQ(problems(), "");
}

}  // namespace
}  // namespace oxm
