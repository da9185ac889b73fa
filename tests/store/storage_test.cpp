// Opening, releasing and recovering storages: refusals to close, range checks, damaged files' codes.
#include "frame/scope_guard.h"
#include "platform/fault.h"
#include "store/batch.h"
#include "store/message_maker.h"
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using StorageTest = StoreTest;

TEST_F(StorageTest, OpensShareOneStorageAndTheLastReleaseClosesIt) {
  StorageSet& set = StorageSet::instance();
  StoragePtr second(openStorageInterface(L"S"));
  ASSERT_TRUE(second);
  const unsigned long id = addMessage(root_folder_.get(), "hello");
  closeAll();
  MessagePtr m(second->OpenMessage(id));
  ASSERT_TRUE(m);
  // While a message or folder lives the last release is refused, the storage usable at count 0.
  SetOxMiddleError(0);
  second.reset();
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGESET);
  std::string t;
  EXPECT_TRUE(m->Read(&t) && t == "hello");
  m.reset();
  EXPECT_TRUE(set.isOpen(L"S"));
  StoragePtr(openStorageInterface(L"S")).reset();
  EXPECT_FALSE(set.isOpen(L"S"));
  reopen();
  FolderPtr f(storage_->OpenFolder(trays_[0]));
  SetOxMiddleError(0);
  closeAll();
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDERSET);
  f.reset();
  EXPECT_TRUE(set.letGo(L"S"));
  EXPECT_FALSE(set.isOpen(L"S"));
  reopen();
  EXPECT_FALSE(set.letGo(L"S"));
  m.reset(storage_->OpenMessage(id));
  closeAll();
  EXPECT_FALSE(set.letGo(L"S"));
  m.reset();
  EXPECT_TRUE(set.letGo(L"S"));
  EXPECT_TRUE(set.letGo(L"S")) << "not open at all";
  reopen();
  EXPECT_EQ(set.release(reinterpret_cast<OxStorage*>(&f)), OXMDL_ERR_STG_NOT_OPEN);
}

// Flushes on: a message made whole in a batch has its data flushed before it is named; its
// directory entry is still committed before the batch deletes a message.
TEST_F(StorageTest, BatchCommitsNewEntriesBeforeADelete) {
  const bool sync = syncEnabled();
  ScopeGuard restore([sync] { setSyncEnabled(sync); });
  setSyncEnabled(true);
  FolderPtr inbox = tray(0);
  const unsigned long old1 = addMessage(inbox.get(), mailText("1")), old2 = addMessage(inbox.get(), mailText("2"));
  StoreBatch batch(storage_.get());
  const auto flushesOf = [](const std::function<bool()>& step) {
    const long before = fault::calls(fault::Op::Flush);
    EXPECT_TRUE(step());
    return fault::calls(fault::Op::Flush) - before;
  };
  const long alone = flushesOf([&] { return inbox->RemoveMessage(old1); });
  unsigned long made = 0;
  ASSERT_TRUE(MessageMaker::create(*inbox, OxMessageInterface::Attributes{}, mailText("3"), &made));
  EXPECT_GT(flushesOf([&] { return inbox->RemoveMessage(old2); }), alone) << "the new entry first";
  EXPECT_EQ(batch.finish(), OXMDL_ERR_NONE);
}

TEST_F(StorageTest, RangeChecksCountsAndRecoverableCodes) {
  EXPECT_EQ(storage_->OpenFolder(kPartialFolder), nullptr) << "the storage opens only real folders";
  EXPECT_TRUE(failsWith(storage_->OpenMessage(0x10000), OXMDL_ERR_STG_NO_MESSAGE));
  EXPECT_TRUE(failsWith(storage_->OpenMessage(77), OXMDL_ERR_STG_ENTRY_FREE));
  // These two set no code.
  EXPECT_TRUE(failsWith(OxStorageInterface::CreateStorage(L"X"), OXMDL_ERR_STG_ENTRY_FREE));
  EXPECT_TRUE(failsWith(OxStorageInterface::DestroyStorage(L"S"), OXMDL_ERR_STG_ENTRY_FREE));
  EXPECT_EQ(storage_->GetUserFolderCnt(), 0u) << "a fresh storage has five folders";
  unsigned long a = 0;
  ASSERT_TRUE(tray(0)->CreateFolder(L"a", &a));
  EXPECT_EQ(storage_->GetUserFolderCnt(), 1u) << "sub-folders count";
  for (unsigned code : {0x02000047u, 0x02000046u, 0x02004714u, 0x0200471Du, 0x02000048u, 0x02000045u}) {
    EXPECT_EQ(storage_->CheckWantRecoverEntry(code), code != 0x02000048u && code != 0x02000045u) << std::hex << code;
  }
}

TEST_F(StorageTest, UnusableMessageFilesLostListsAndGarbledCaches) {
  Ids made;
  for (int i = 0; i < 5; ++i) made.push_back(addMessage(tray(0).get(), mailText("m" + std::to_string(i))));
  addMessage(tray(2).get(), mailText("s"));
  setAttr(made[1], Attr{.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_PARTIAL, .flags = {1, 0, 1}});
  // One folder's recovery: message files with bad magic, too short or missing go with their entries.
  closeAll();
  put("S/DATA/02/00.eml", "X" + file("S/DATA/02/00.eml").substr(1));
  put("S/DATA/03/00.eml", "short");
  remove("S/DATA/04/00.eml");
  reopen();
  ASSERT_TRUE(storage_->RecoverMessageEntry(trays_[0])) << std::hex << GetOxMiddleError();
  EXPECT_EQ(ids(tray(0).get()), (Ids{made[0], made[1]}));
  EXPECT_TRUE(filesAre({{"S/DATA/02", kAbsent}, {"S/DATA/03", kAbsent}, {"S/DATA/04", kAbsent},
                        {"S/DATA/Status.txt", "0006\t3"}}));
  EXPECT_EQ(file("S/DATA/Entry.dat").substr(8, 16), std::string(12, '\xFF') + std::string("\x03\0\0\0", 4));
  EXPECT_TRUE(failsWith(storage_->RecoverMessageEntry(40), OXMDL_ERR_STG_NOFILE_FLD));
  EXPECT_FALSE(has("S/TREE/28/00.msg")) << "no files for a folder that is not there";
  closeAll();
  remove("S/TREE/01/00.msg");
  rewrite("S/TREE/03/00.fdb", "short");
  EXPECT_TRUE(failsWith(storage_->OpenFolder(trays_[0]), OXMDL_ERR_STG_NOFILE_MSG));
  EXPECT_TRUE(failsWith(storage_->OpenFolder(trays_[2]), OXMDL_ERR_STG_FILE_FMTILLGL_FDB));
  ASSERT_TRUE(storage_->RecoverMessageEntryAll()) << std::hex << GetOxMiddleError();
  ASSERT_TRUE(tray(0) && tray(2));
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0000\t0\t0\r\n0001\t1\t1\r\n") << "flags from the message files";
}

TEST_F(StorageTest, EntryIndexRebuiltFromOlderEntryLists) {
  closeAll();
  remove("S/DATA/Entry.dat");
  std::filesystem::create_directories(root_.host("S/DATA/06"));
  std::filesystem::create_directories(root_.host("S/DATA/05"));
  put("S/DATA/05/Entry.txt", "0A\t0003\r\n");
  put("S/DATA/05/0A.eml", std::string("OXMAILEMLFMT\x02\x10\0\0", 16) + std::string(240, '\0') + mailText("old"));
  put("S/DATA/Entry.dat_tmp", "stale");
  reopen();
  EXPECT_TRUE(filesAre({{"S/DATA/Entry.dat", std::string(10260, '\xFF') + std::string("\x03\x00\x00\x00", 4) +
                                                 std::string(262144 - 10264, '\xFF')},
                        {"S/DATA/05/Entry.txt", kAbsent},
                        {"S/DATA/06", kAbsent},
                        {"S/DATA/Entry.dat_tmp", kAbsent},
                        {"S/DATA/Status.txt", "0000\t1"},
                        {"S/TREE/03/00.msg", "0A05\t0\t0\r\n"}}));
  closeAll();
  remove("S/DATA/Entry.dat");
  for (const std::string& list : {std::string("0A\t0003\r\nZZ"), std::string(70000, '0')}) {
    put("S/DATA/05/Entry.txt", list);
    EXPECT_TRUE(failsWith(openStorageInterface(L"S"), OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY)) << list.size();
    EXPECT_TRUE(filesAre({{"S/DATA/05/Entry.txt", list}, {"S/DATA/Entry.dat", kAbsent}})) << list.size();
  }
}

TEST_F(StorageTest, OpenMendsStatusAndIndexFilesAndRefusesOtherDamage) {
  // A Status.txt left only as its backup by a crash is restored as it was.
  closeAll();
  remove("S/TREE/Status.txt");
  rewrite("S/TREE/Status.txt_bak", "0007\t5");
  EXPECT_EQ(file("S/TREE/Status.txt"), "0007\t5");
  rewrite("S/DATA/Entry.dat", std::string(1000, '\x01'));
  EXPECT_TRUE(filesAre({{"S/DATA/Entry.dat", std::string(262144, '\xFF')},
                        {"S/Quarantine/Entry.dat", std::string(1000, '\x01')}}));
  closeAll();
  fault::failNth(fault::Op::Map, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(failsWith(openStorageInterface(L"S"), OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY));
  EXPECT_FALSE(StorageSet::instance().isOpen(L"S"));
  // An oversized message list is refused when the folder opens.
  const std::string list = file("S/TREE/01/00.msg");
  put("S/TREE/01/00.msg", std::string(2 << 20, '0'));
  {
    StoragePtr s(openStorageInterface(L"S"));
    ASSERT_TRUE(s);
    EXPECT_TRUE(failsWith(s->OpenFolder(1), OXMDL_ERR_STG_FILE_FMTILLGL_MSG));
  }
  put("S/TREE/01/00.msg", list);
  // Status files oversized, cut short or gone are made again: counted from the tree, identifiers from 0.
  const std::tuple<const char*, std::string, const char*> statuses[] = {
      {"S/TREE/Status.txt", std::string(100, '1'), "0000\t5"},
      {"S/TREE/Status.txt", "00", "0000\t5"},
      {"S/DATA/Status.txt", kAbsent, "0000\t0"}};
  for (const auto& [path, content, want] : statuses) {
    closeAll();
    content == kAbsent ? remove(path) : put(path, content);
    reopen();
    EXPECT_EQ(file(path), want) << content;
  }
}

}  // namespace
}  // namespace oxm
