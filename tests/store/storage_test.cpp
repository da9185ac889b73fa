// Opening and releasing storages, the refusals to close, and the storage interface's checks.
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
class StorageTest : public StoreTest {};

TEST_F(StorageTest, OpensShareOneStorageAndTheLastReleaseClosesIt) {
  StoragePtr second(openStorageInterface(L"S"));
  ASSERT_TRUE(second);
  unsigned long id = addMessage(root_folder_.get(), "hello");
  closeAll();  // the first interface goes; the second still works
  EXPECT_TRUE(StorageSet::instance().isOpen(L"S"));
  MessagePtr m(second->OpenMessage(id));
  ASSERT_TRUE(m);
  std::string text;
  EXPECT_TRUE(m->Read(&text));
  EXPECT_EQ(text, "hello");

  // While a message or folder interface lives, the last release is refused and the storage
  // stays usable; a later open and release close it.
  SetOxMiddleError(0);
  second.reset();
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGESET);
  EXPECT_TRUE(StorageSet::instance().isOpen(L"S"));
  text.clear();
  EXPECT_TRUE(m->SeekToHead() && m->Read(&text));
  EXPECT_EQ(text, "hello");
  m.reset();
  // The refused release kept the storage at count 0: the next open and release close it.
  EXPECT_TRUE(StorageSet::instance().isOpen(L"S"));
  StoragePtr(openStorageInterface(L"S")).reset();
  EXPECT_FALSE(StorageSet::instance().isOpen(L"S"));
  reopen();
  FolderPtr f(storage_->OpenFolder(trays_[0]));
  SetOxMiddleError(0);
  storage_.reset();
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDERSET);
  EXPECT_TRUE(StorageSet::instance().isOpen(L"S"));
  root_folder_.reset();
  f.reset();
  StoragePtr again(openStorageInterface(L"S"));
  again.reset();
  EXPECT_FALSE(StorageSet::instance().isOpen(L"S"));

  // Letting go before the directory is removed: refused while an interface, a folder or a
  // message holds the storage; a storage kept at count 0 is closed once they are gone.
  EXPECT_TRUE(StorageSet::instance().letGo(L"S"));  // not open at all
  reopen();
  EXPECT_FALSE(StorageSet::instance().letGo(L"S"));
  id = addMessage(root_folder_.get(), "held");
  m.reset(storage_->OpenMessage(id));
  closeAll();
  EXPECT_FALSE(StorageSet::instance().letGo(L"S"));
  EXPECT_TRUE(StorageSet::instance().isOpen(L"S"));
  m.reset();
  EXPECT_TRUE(StorageSet::instance().letGo(L"S"));
  EXPECT_FALSE(StorageSet::instance().isOpen(L"S"));
  reopen();  // a later open starts afresh
  EXPECT_EQ(ids(root_folder_.get()).size(), 2u);

  // Releasing something that is not open.
  OxStorage* stray = reinterpret_cast<OxStorage*>(&text);
  EXPECT_EQ(StorageSet::instance().release(stray), OXMDL_ERR_STG_NOT_OPEN);
}

TEST_F(StorageTest, RangeChecksCountsAndRecoverableCodes) {
  SetOxMiddleError(0);
  EXPECT_EQ(storage_->OpenFolder(0x10000), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER);
  EXPECT_EQ(storage_->OpenFolder(kPartialFolder), nullptr) << "the storage opens only real folders";
  EXPECT_EQ(storage_->OpenMessage(0x10000), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_MESSAGE);
  EXPECT_EQ(storage_->OpenMessage(77), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_ENTRY_FREE);
  EXPECT_EQ(storage_->OpenFolder(99), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_FLD) << "a folder that does not exist";
  EXPECT_FALSE(storage_->RemoveMessage(0x10000));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_MESSAGE);
  EXPECT_FALSE(storage_->RemoveMessage(5));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_ENTRY_FREE);

  EXPECT_FALSE(OxStorageInterface::CreateStorage(L"X"));
  EXPECT_FALSE(OxStorageInterface::DestroyStorage(L"S"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_ENTRY_FREE) << "they set no code";

  EXPECT_EQ(storage_->GetUserFolderCnt(), 0u) << "a fresh storage has five folders";
  FolderPtr inbox = tray(0);
  unsigned long a = 0;
  unsigned long b = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"a", &a));
  ASSERT_TRUE(root_folder_->CreateFolder(L"b", &b));
  EXPECT_EQ(storage_->GetUserFolderCnt(), 2u);
  EXPECT_EQ(file("S/TREE/Status.txt"), "0007\t7");

  EXPECT_TRUE(storage_->CheckWantRecoverEntry(0x02000047));
  EXPECT_TRUE(storage_->CheckWantRecoverEntry(0x02000046));
  EXPECT_TRUE(storage_->CheckWantRecoverEntry(0x02004714));
  EXPECT_TRUE(storage_->CheckWantRecoverEntry(0x0200471D));
  EXPECT_FALSE(storage_->CheckWantRecoverEntry(0x02000048));
  EXPECT_FALSE(storage_->CheckWantRecoverEntry(0x02000045));
  EXPECT_EQ(storage_->GetErrorInfo(), GetOxMiddleError());

  // Interfaces without an object answer false / null / 0 and leave the code alone.
  SetOxMiddleError(0x02000001);
  OxStorageInterface none(nullptr);
  EXPECT_EQ(none.OpenRootFolder(), nullptr);
  EXPECT_FALSE(none.RecoverMessageEntryAll());
  EXPECT_EQ(none.GetUserFolderCnt(), 0u);
  OxFolderInterface noFolder(nullptr);
  EXPECT_FALSE(noFolder.FlushMessageHeader());
  EXPECT_EQ(noFolder.GetErrorInfo(), OXMDL_ERR_NONE);
  OxMessageInterface noMessage(nullptr);
  EXPECT_FALSE(noMessage.SeekToHead());
  EXPECT_EQ(noMessage.GetErrorInfo(), OXMDL_ERR_NONE);
  EXPECT_EQ(GetOxMiddleError(), 0x02000001u);
}

TEST_F(StorageTest, OpenMendsStatusAndIndexFilesAndKeepsTheOtherCodes) {
  closeAll();
  // A status file that does not parse is made again from the tree.
  test::writeHostFile(root_.host("S/DATA/Status.txt"), "zz");
  reopen();
  EXPECT_EQ(file("S/DATA/Status.txt"), "0000\t0");
  closeAll();
  // A Status.txt left only as its backup by a crash is restored as it was.
  ASSERT_EQ(::unlink(root_.host("S/TREE/Status.txt").c_str()), 0);
  test::writeHostFile(root_.host("S/TREE/Status.txt_bak"), "0007\t5");
  reopen();
  EXPECT_EQ(file("S/TREE/Status.txt"), "0007\t5");
  // Entry.dat of the wrong size is set aside and made again.
  closeAll();
  test::writeHostFile(root_.host("S/DATA/Entry.dat"), std::string(1000, '\x01'));
  reopen();
  EXPECT_EQ(file("S/DATA/Entry.dat"), std::string(262144, '\xFF'));
  EXPECT_EQ(file("S/Quarantine/Entry.dat"), std::string(1000, '\x01'));
  // What is not damage keeps its code, and a failed open leaves nothing behind.
  closeAll();
  fault::failNth(fault::Op::Map, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(openStorageInterface(L"S"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY);
  EXPECT_FALSE(StorageSet::instance().isOpen(L"S"));
  reopen();
}

}  // namespace
}  // namespace oxm
