// Opening and releasing storages, the refusals to close, and the storage interface's checks.
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
  // Letting go (before removing the directory) closes one kept at count 0, refused while held.
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

TEST_F(StorageTest, RangeChecksCountsAndRecoverableCodes) {
  EXPECT_TRUE(failsWith(storage_->OpenFolder(0x10000), OXMDL_ERR_STG_NO_FOLDER));
  EXPECT_EQ(storage_->OpenFolder(kPartialFolder), nullptr) << "the storage opens only real folders";
  EXPECT_TRUE(failsWith(storage_->OpenMessage(0x10000), OXMDL_ERR_STG_NO_MESSAGE));
  EXPECT_TRUE(failsWith(storage_->OpenMessage(77), OXMDL_ERR_STG_ENTRY_FREE));
  EXPECT_TRUE(failsWith(storage_->OpenFolder(99), OXMDL_ERR_STG_NOFILE_FLD));
  EXPECT_TRUE(failsWith(storage_->RemoveMessage(0x10000), OXMDL_ERR_STG_NO_MESSAGE));
  EXPECT_TRUE(failsWith(storage_->RemoveMessage(5), OXMDL_ERR_STG_ENTRY_FREE));
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
  // Interfaces over nothing fail and leave the last error alone.
  SetOxMiddleError(0x02000001);
  OxStorageInterface none(nullptr);
  OxFolderInterface noFolder(nullptr);
  OxMessageInterface noMessage(nullptr);
  EXPECT_FALSE(none.OpenRootFolder() || none.RecoverMessageEntryAll() || none.GetUserFolderCnt() ||
               noFolder.FlushMessageHeader() || noMessage.SeekToHead());
  EXPECT_EQ((Ids{noFolder.GetErrorInfo(), noMessage.GetErrorInfo(), static_cast<unsigned long>(GetOxMiddleError())}),
            (Ids{OXMDL_ERR_NONE, OXMDL_ERR_NONE, 0x02000001}));
}

TEST_F(StorageTest, OpenMendsStatusAndIndexFilesAndKeepsTheOtherCodes) {
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
  reopen();
}

}  // namespace
}  // namespace oxm
