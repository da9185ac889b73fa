// Recovery of message lists, header caches and the entry index; damaged files give their codes.
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
class RecoveryTest : public StoreTest {};
using Ids = std::vector<unsigned long>;

TEST_F(RecoveryTest, DeletedOrDamagedListsAndCachesAreRebuilt) {
  FolderPtr inbox = tray(0);
  FolderPtr sent = tray(2);
  unsigned long sub = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"Sub", &sub));
  FolderPtr subFolder(inbox->OpenFolder(sub));
  Ids a{addMessage(inbox.get(), mailText("a1")), addMessage(inbox.get(), mailText("a2"))};
  Ids s{addMessage(sent.get(), mailText("s1"))};
  Ids n{addMessage(subFolder.get(), mailText("n1"))};
  {
    MessagePtr m(storage_->OpenMessage(a[1]));
    OxMessageInterface::Attributes attr;
    attr.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_PARTIAL;
    attr.flags[0] = 1;
    attr.flags[2] = 1;
    ASSERT_TRUE(m->SetAttributes(attr));
  }
  inbox.reset();
  sent.reset();
  subFolder.reset();
  closeAll();
  // Lose the inbox's list, garble the sent tray's cache and the sub-folder's list.
  ASSERT_EQ(::unlink(root_.host("S/TREE/01/00.msg").c_str()), 0);
  writeHostFile(root_.host("S/TREE/03/00.fdb"), "short");
  writeHostFile(root_.host("S/TREE/05/00.msg"), "garbage\r\n");
  writeHostFile(root_.host("S/TREE/05/00.fdb"), std::string(4000, '\x00'));
  reopen();
  EXPECT_EQ(storage_->OpenFolder(trays_[0]), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_MSG);
  EXPECT_EQ(storage_->OpenFolder(trays_[2]), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_FDB);
  EXPECT_TRUE(storage_->CheckWantRecoverEntry(GetOxMiddleError()));
  EXPECT_EQ(storage_->OpenFolder(sub), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_MSG);

  ASSERT_TRUE(storage_->RecoverMessageEntryAll()) << std::hex << GetOxMiddleError();
  inbox = tray(0);
  sent = tray(2);
  subFolder.reset(storage_->OpenFolder(sub));
  ASSERT_TRUE(inbox && sent && subFolder);
  EXPECT_EQ(ids(inbox.get()), a);
  EXPECT_EQ(ids(sent.get()), s);
  EXPECT_EQ(ids(subFolder.get()), n);
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0000\t0\t0\r\n0001\t1\t1\r\n") << "flags from the message files";
  EXPECT_EQ(inbox->GetUnreadCount(), 1u);
  std::vector<FolderMsgHeader> h(2);
  ASSERT_TRUE(inbox->LoadMessageHeader(h.data(), 2));
  EXPECT_EQ(fieldText(h[1].subject, 31), L"a2");
  EXPECT_EQ(fieldText(h[0].fromAddress, 256), L"sender@example.jp");
}

TEST_F(RecoveryTest, UnusableMessageFilesGoWithTheirEntries) {
  FolderPtr inbox = tray(0);
  Ids made;
  for (int i = 0; i < 4; ++i) made.push_back(addMessage(inbox.get(), mailText("m" + std::to_string(i))));
  inbox.reset();
  closeAll();
  // Bad magic, too short, missing; the fourth stays good.
  std::string bad = file("S/DATA/01/00.eml");
  bad[0] = 'X';
  writeHostFile(root_.host("S/DATA/01/00.eml"), bad);
  writeHostFile(root_.host("S/DATA/02/00.eml"), "short");
  ASSERT_EQ(::unlink(root_.host("S/DATA/03/00.eml").c_str()), 0);
  reopen();
  ASSERT_TRUE(storage_->RecoverMessageEntry(trays_[0])) << std::hex << GetOxMiddleError();
  inbox = tray(0);
  EXPECT_EQ(ids(inbox.get()), Ids{made[0]});
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/01"))) << "file and emptied directory gone";
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/02")));
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/03")));
  EXPECT_EQ(file("S/DATA/Entry.dat").substr(4, 12), std::string(12, '\xFF'));
  EXPECT_EQ(file("S/DATA/Status.txt"), "0004\t1") << "the count follows what is left";
  EXPECT_EQ(storage_->OpenMessage(made[1]), nullptr);
  EXPECT_FALSE(storage_->RecoverMessageEntry(0x10000));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER);
  EXPECT_FALSE(storage_->RecoverMessageEntry(40));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_FLD);
  EXPECT_FALSE(hostFileExists(root_.host("S/TREE/28/00.msg"))) << "no files for a folder that is not there";
}

TEST_F(RecoveryTest, EntryIndexRebuiltFromOlderEntryLists) {
  closeAll();
  ASSERT_EQ(::unlink(root_.host("S/DATA/Entry.dat").c_str()), 0);
  ASSERT_EQ(::mkdir(root_.host("S/DATA/05").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(root_.host("S/DATA/06").c_str(), 0777), 0);
  writeHostFile(root_.host("S/DATA/05/Entry.txt"), "0A\t0003\r\n");
  // A message file with its text; the status counts none, so the open checks the whole store.
  writeHostFile(root_.host("S/DATA/05/0A.eml"), std::string("OXMAILEMLFMT\x02\x10\0\0", 16) + std::string(240, '\0') +
                                                   mailText("old"));
  writeHostFile(root_.host("S/DATA/Entry.dat_tmp"), "stale");
  reopen();
  const std::string entry = file("S/DATA/Entry.dat");
  ASSERT_EQ(entry.size(), 262144u);
  EXPECT_EQ(entry.substr(10260, 4), std::string("\x03\x00\x00\x00", 4));
  EXPECT_EQ(entry.substr(0, 10260), std::string(10260, '\xFF'));
  EXPECT_EQ(entry.substr(10264), std::string(262144 - 10264, '\xFF'));
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/05/Entry.txt")));
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/06"))) << "an empty directory without a list goes";
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/Entry.dat_tmp")));
  EXPECT_EQ(file("S/DATA/Status.txt"), "0000\t1");
  EXPECT_EQ(file("S/TREE/03/00.msg"), "0A05\t0\t0\r\n") << "listed in the folder its entry names";

  // A garbled list stops the open; the list stays for another try.
  closeAll();
  ASSERT_EQ(::unlink(root_.host("S/DATA/Entry.dat").c_str()), 0);
  writeHostFile(root_.host("S/DATA/05/Entry.txt"), "0A\t0003\r\nZZ");
  EXPECT_EQ(openStorageInterface(L"S"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY);
  EXPECT_TRUE(hostFileExists(root_.host("S/DATA/05/Entry.txt")));
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/Entry.dat")));
  writeHostFile(root_.host("S/DATA/05/Entry.txt"), std::string(70000, '0'));
  EXPECT_EQ(openStorageInterface(L"S"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY) << "an oversized list";
  fault::setFreeSpace(511999);
  EXPECT_EQ(openStorageInterface(L"S"), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  writeHostFile(root_.host("S/DATA/05/Entry.txt"), "");
  reopen();
}

TEST_F(RecoveryTest, DamagedFilesGiveTheirCodesNeverACrash) {
  closeAll();
  const std::string fld = file("S/TREE/00/00.fld");
  struct Case {
    const char* path;
    std::string content;
    unsigned long folder;
    unsigned code;
  };
  const Case cases[] = {
      {"S/TREE/00/00.fld", "0001\tno line end", 0, OXMDL_ERR_STG_FILE_FMTILLGL_FLD},
      {"S/TREE/00/00.fld", std::string(2 << 20, 'x'), 0, OXMDL_ERR_STG_FILE_FMTILLGL_FLD},
      {"S/TREE/01/00.msg", "0001\tx\r\n", 1, OXMDL_ERR_STG_FILE_FMTILLGL_MSG},
      {"S/TREE/01/00.msg", std::string(2 << 20, '0'), 1, OXMDL_ERR_STG_FILE_FMTILLGL_MSG},
      {"S/TREE/01/00.fdb", std::string(3999, '\xFF'), 1, OXMDL_ERR_STG_FILE_FMTILLGL_FDB},
      {"S/TREE/01/00.fdb", std::string(4, '\x07') + std::string(3996, '\xFF'), 1, OXMDL_ERR_STG_FILE_FMTILLGL_FDB},
      {"S/TREE/01/00.fdb", std::string(4, '\xFF') + std::string(4, '\x01') + std::string(3992, '\xFF'), 1,
       OXMDL_ERR_STG_FILE_FMTILLGL_FDB},
  };
  for (const Case& c : cases) {
    const std::string keep = file(c.path);
    writeHostFile(root_.host(c.path), c.content);
    StoragePtr s(openStorageInterface(L"S"));
    ASSERT_TRUE(s);
    FolderPtr f(s->OpenFolder(c.folder));
    EXPECT_EQ(f, nullptr) << c.path;
    EXPECT_EQ(GetOxMiddleError(), c.code) << c.path;
    writeHostFile(root_.host(c.path), keep);
  }
  reopen();
  EXPECT_EQ(file("S/TREE/00/00.fld"), fld);
  // Status files that are oversized, garbage, cut short or gone are made again at the open:
  // the count from what the tree holds, new identifiers from 0 (the allocators skip used ones).
  const std::pair<const char*, std::string> statuses[] = {
      {"S/TREE/Status.txt", std::string(100, '1')}, {"S/TREE/Status.txt", "00"},  {"S/TREE/Status.txt", "\xC3\x28zz"},
      {"S/DATA/Status.txt", "0000"},                {"S/DATA/Status.txt", ""},    {"S/DATA/Status.txt", "\t\t\t"},
  };
  for (const auto& [path, content] : statuses) {
    closeAll();
    writeHostFile(root_.host(path), content);
    reopen();
    EXPECT_EQ(file(path), std::string(path).find("TREE") != std::string::npos ? "0000\t5" : "0000\t0") << content;
  }
  closeAll();
  ASSERT_EQ(::unlink(root_.host("S/DATA/Status.txt").c_str()), 0);
  reopen();
  EXPECT_EQ(file("S/DATA/Status.txt"), "0000\t0") << "a missing one too";
}

}  // namespace
}  // namespace oxm
