// Folders: the tree, limits, notifications, message lists and header caches.
#include <cstring>

#include "platform/clock.h"
#include "store/folder.h"
#include "store/headercache.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
class FolderTest : public StoreTest {};

struct Recorder : OxFolderInterface::Notify {
  void FolderChanged(unsigned long id) override { folders.push_back(id); }
  void MessageChanged(unsigned long id) override { messages.push_back(id); }
  std::vector<unsigned long> folders;
  std::vector<unsigned long> messages;
};

using Ids = std::vector<unsigned long>;

TEST_F(FolderTest, TreeVirtualFoldersAndNames) {
  Ids children;
  ASSERT_TRUE(root_folder_->GetFolderIds(&children));
  EXPECT_EQ(children, (Ids{1, 2, 3, 4, 0x10001, 0x10002}));
  OxFolderInterface::FolderAttributes attr;
  attr.reserved = 77;
  ASSERT_TRUE(root_folder_->ReadFolderAttributes(1, &attr));
  EXPECT_EQ(attr.name, L"\u53D7\u4FE1\u30C8\u30EC\u30A4");
  EXPECT_EQ(attr.reserved, 77u) << "the leading word is the caller's";
  FolderPtr inbox = tray(0);
  ASSERT_TRUE(inbox->ReadFolderAttributes(0x10001, &attr)) << "virtual names from any folder";
  EXPECT_EQ(attr.name, L"\u90E8\u5206\u53D7\u4FE1\u30C8\u30EC\u30A4");
  ASSERT_TRUE(inbox->ReadFolderAttributes(0x10002, &attr));
  EXPECT_EQ(attr.name, L"\u672A\u8AAD\u30E1\u30FC\u30EB\u30C8\u30EC\u30A4");
  EXPECT_FALSE(inbox->ReadFolderAttributes(2, &attr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  EXPECT_FALSE(root_folder_->ReadFolderAttributes(1, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  ASSERT_TRUE(inbox->GetFolderIds(&children));
  EXPECT_TRUE(children.empty()) << "only the root lists the virtual folders";

  EXPECT_EQ(inbox->OpenFolder(0x10000), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER);
  EXPECT_EQ(inbox->OpenFolder(2), nullptr);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  FolderPtr unread(inbox->OpenFolder(0x10002));
  ASSERT_TRUE(unread);
  FolderPtr viaRoot(root_folder_->OpenFolder(1));
  ASSERT_TRUE(viaRoot);
  EXPECT_TRUE(root_folder_->FlushMessageHeader());

  // Rename, with the names' rules.
  attr.name = L"Mail";
  ASSERT_TRUE(root_folder_->WriteFolderAttributes(1, attr));
  EXPECT_EQ(file("S/TREE/00/00.fld").substr(0, 11), "0001\tMail\r\n");
  attr.name = L"two\r\nlines";
  EXPECT_FALSE(root_folder_->WriteFolderAttributes(1, attr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_FLD);
  attr.name = L"x";
  EXPECT_FALSE(root_folder_->WriteFolderAttributes(9, attr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  fault::setFreeSpace(511999);
  EXPECT_FALSE(root_folder_->WriteFolderAttributes(1, attr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::setFreeSpace(512000);
  EXPECT_TRUE(root_folder_->WriteFolderAttributes(1, attr));
}

TEST_F(FolderTest, CreateRemoveAndMoveFoldersWithNotifications) {
  Recorder rootSeen;
  Recorder inboxSeen;
  ASSERT_TRUE(root_folder_->RegisterNotify(&rootSeen));
  FolderPtr inbox = tray(0);
  ASSERT_TRUE(inbox->RegisterNotify(&inboxSeen));
  unsigned long sub = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"Sub", &sub));
  EXPECT_EQ(sub, 5u);
  EXPECT_EQ(inboxSeen.folders, Ids{5});
  EXPECT_EQ(file("S/TREE/05/00.fdb"), std::string(4000, '\xFF'));
  EXPECT_EQ(file("S/TREE/01/00.fld"), "0005\tSub\r\n");
  EXPECT_FALSE(inbox->CreateFolder(L"x", nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  unsigned long bad = 0;
  EXPECT_FALSE(inbox->CreateFolder(std::wstring(L"a\0b", 3), &bad));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_FLD);

  // Move Sub under the root: both sides hear of it.
  {
    FolderPtr open(inbox->OpenFolder(sub));
    EXPECT_FALSE(inbox->MoveFolder(sub, root_folder_.get()));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDER_OPEN);
    EXPECT_FALSE(inbox->RemoveFolder(sub));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDER_OPEN);
    // A folder cannot go inside itself.
    unsigned long deeper = 0;
    ASSERT_TRUE(open->CreateFolder(L"Deeper", &deeper));
    FolderPtr deep(open->OpenFolder(deeper));
    open.reset();
    EXPECT_FALSE(inbox->MoveFolder(sub, deep.get()));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  }
  EXPECT_FALSE(inbox->MoveFolder(sub, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  ASSERT_TRUE(inbox->MoveFolder(sub, root_folder_.get()));
  EXPECT_EQ(inboxSeen.folders, (Ids{5, 5}));
  EXPECT_EQ(rootSeen.folders, Ids{5});
  EXPECT_EQ(file("S/TREE/01/00.fld"), "");
  EXPECT_EQ(file("S/TREE/00/00.fld").substr(file("S/TREE/00/00.fld").size() - 10), "0005\tSub\r\n");

  // Remove it with a message in it: the message goes, its sub-folder stays untouched.
  FolderPtr subFolder(root_folder_->OpenFolder(sub));
  unsigned long id = addMessage(subFolder.get(), "x");
  subFolder.reset();
  EXPECT_EQ(file("S/DATA/Status.txt"), "0001\t1");
  EXPECT_FALSE(inbox->RemoveFolder(sub));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  EXPECT_FALSE(root_folder_->RemoveFolder(0x10001));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER);
  ASSERT_TRUE(root_folder_->RemoveFolder(sub));
  EXPECT_EQ(rootSeen.folders, (Ids{5, 5}));
  EXPECT_FALSE(hostFileExists(root_.host("S/TREE/05/00.fld")));
  EXPECT_FALSE(hostFileExists(root_.host("S/DATA/00"))) << "the message and its directory are gone";
  EXPECT_EQ(file("S/DATA/Status.txt"), "0001\t0");
  EXPECT_EQ(file("S/TREE/Status.txt"), "0007\t6") << "Sub gone, Deeper still counted";
  EXPECT_TRUE(hostFileExists(root_.host("S/TREE/06/00.fld")));
  EXPECT_EQ(storage_->OpenMessage(id), nullptr);

  EXPECT_TRUE(root_folder_->UnregisterNotify(&rootSeen));
  EXPECT_TRUE(inbox->UnregisterNotify(&inboxSeen));
}

TEST_F(FolderTest, TwentyUserFoldersAtMostAndFreeSpace) {
  fault::setFreeSpace(511999);
  unsigned long id = 0;
  EXPECT_FALSE(root_folder_->CreateFolder(L"f", &id));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  EXPECT_FALSE(hostFileExists(root_.host("S/TREE/05")));
  fault::setFreeSpace(std::nullopt);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(root_folder_->CreateFolder(L"f" + std::to_wstring(i), &id));
  EXPECT_EQ(id, 24u);
  EXPECT_EQ(file("S/TREE/Status.txt"), "0019\t19");
  EXPECT_EQ(storage_->GetUserFolderCnt(), 20u);
  EXPECT_FALSE(root_folder_->CreateFolder(L"one more", &id));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDER_LIMIT);
  EXPECT_FALSE(hostFileExists(root_.host("S/TREE/19")));
  // Identifiers whose files exist are skipped.
  ASSERT_TRUE(root_folder_->RemoveFolder(24));
  ASSERT_TRUE(root_folder_->RemoveFolder(22));
  closeAll();
  writeHostFile(root_.host("S/TREE/Status.txt"), "0015\t17");
  ASSERT_TRUE(hostFileExists(root_.host("S/TREE/15/00.msg")));
  reopen();
  ASSERT_TRUE(root_folder_->CreateFolder(L"again", &id));
  EXPECT_EQ(id, 0x16u) << "0x15 still has its files";
  EXPECT_EQ(file("S/TREE/Status.txt"), "0017\t18");
}

TEST_F(FolderTest, MessageNotificationsReachTheVirtualFolders) {
  FolderPtr inbox = tray(0);
  FolderPtr unread(root_folder_->OpenFolder(0x10002));
  FolderPtr partial(root_folder_->OpenFolder(0x10001));
  Recorder inboxSeen, unreadSeen, partialSeen;
  ASSERT_TRUE(inbox->RegisterNotify(&inboxSeen));
  EXPECT_FALSE(inbox->RegisterNotify(&unreadSeen));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOTIFY_BUSY);
  EXPECT_FALSE(inbox->UnregisterNotify(&unreadSeen));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOTIFY_UNKNOWN);
  EXPECT_FALSE(inbox->RegisterNotify(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  ASSERT_TRUE(unread->RegisterNotify(&unreadSeen));
  ASSERT_TRUE(partial->RegisterNotify(&partialSeen));
  // A second interface on the same folder has its own slot.
  FolderPtr inbox2 = tray(0);
  Recorder second;
  ASSERT_TRUE(inbox2->RegisterNotify(&second));

  unsigned long a = addMessage(inbox.get(), "a");
  unsigned long b = addMessage(inbox.get(), "b");
  EXPECT_EQ(inboxSeen.messages, (Ids{a, b}));
  EXPECT_EQ(second.messages, (Ids{a, b}));
  {
    MessagePtr m(storage_->OpenMessage(b));
    OxMessageInterface::Attributes attr;
    attr.mask = OxMessageInterface::ATTR_UNREAD;
    attr.flags[0] = 1;
    ASSERT_TRUE(m->SetAttributes(attr));
    ASSERT_TRUE(m->SetAttributes(attr)) << "no change: no notification";
    attr.mask = OxMessageInterface::ATTR_PARTIAL | OxMessageInterface::ATTR_UNREAD;
    attr.flags[2] = 1;
    ASSERT_TRUE(m->SetAttributes(attr));
  }
  EXPECT_EQ(inboxSeen.messages, (Ids{a, b, b, b}));
  EXPECT_EQ(unreadSeen.messages, Ids{b});
  EXPECT_EQ(partialSeen.messages, Ids{b});
  EXPECT_EQ(inbox->GetUnreadCount(), 1u);
  Ids listed;
  ASSERT_TRUE(unread->GetMessageIds(&listed));
  EXPECT_EQ(listed, Ids{b});

  // Removal through a virtual folder tells the owner and the virtual folders concerned;
  // removal through the folder itself tells no one.
  inbox2.reset();
  ASSERT_TRUE(unread->RemoveMessage(b));
  EXPECT_EQ(inboxSeen.messages, (Ids{a, b, b, b, b}));
  EXPECT_EQ(unreadSeen.messages, (Ids{b, b}));
  EXPECT_EQ(partialSeen.messages, (Ids{b, b}));
  ASSERT_TRUE(inbox->RemoveMessage(a));
  EXPECT_EQ(inboxSeen.messages.size(), 5u);
  EXPECT_FALSE(unread->RemoveMessage(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_ENTRY_FREE);
  EXPECT_FALSE(unread->CreateMessage(&a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER) << "a virtual folder has no messages of its own";
  // The interfaces' destructors unregister their notifications.
}

TEST_F(FolderTest, RemoveAndMoveCheckEveryIdentifierFirst) {
  FolderPtr inbox = tray(0);
  FolderPtr sent = tray(2);
  unsigned long a = addMessage(inbox.get(), mailText("first"));
  unsigned long b = addMessage(inbox.get(), mailText("second"));
  unsigned long c = addMessage(sent.get(), "c");
  ASSERT_TRUE(storage_->RestoreFolderMessageHeader(trays_[0]));
  Ids both{a, c};
  EXPECT_FALSE(inbox->RemoveMessage(both));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_ENTRY_FREE);
  EXPECT_EQ(ids(inbox.get()), (Ids{a, b})) << "nothing removed";
  {
    MessagePtr open(storage_->OpenMessage(b));
    Ids ab{a, b};
    EXPECT_FALSE(inbox->MoveMessage(ab, sent.get()));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGE_OPEN);
    EXPECT_FALSE(storage_->RemoveMessage(b));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGE_OPEN);
    EXPECT_FALSE(storage_->MoveMessage(b, trays_[2]));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGE_OPEN);
  }
  EXPECT_EQ(ids(inbox.get()), (Ids{a, b}));
  EXPECT_FALSE(storage_->MoveMessage(b, 0x10002));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_FOLDER);

  // Move b to the sent tray: list line, header record and entry go along; the file stays.
  ASSERT_TRUE(storage_->MoveMessage(b, trays_[2]));
  EXPECT_EQ(ids(inbox.get()), Ids{a});
  EXPECT_EQ(ids(sent.get()), (Ids{c, b}));
  EXPECT_EQ(file("S/DATA/Entry.dat").substr(b * 4, 4), std::string("\x03\x00\x00\x00", 4));
  MessagePtr moved(sent->OpenMessage(b));
  ASSERT_TRUE(moved);
  OxMessageInterface::Attributes attr;
  attr.mask = OxMessageInterface::ATTR_SUBJECT;
  ASSERT_TRUE(moved->GetAttributes(&attr));
  EXPECT_EQ(attr.subject, L"second");
  moved.reset();
  EXPECT_EQ(file("S/TREE/01/00.fdb").size(), 4000u + 1180u) << "the source cache is compacted";

  Ids both2{a, a};
  ASSERT_TRUE(inbox->RemoveMessage(both2)) << "a repeated identifier is removed once";
  EXPECT_TRUE(ids(inbox.get()).empty());
  EXPECT_EQ(file("S/DATA/Status.txt"), "0003\t2");
  Ids none;
  EXPECT_TRUE(inbox->RemoveMessage(none));
  EXPECT_EQ(file("S/TREE/01/00.fdb"), std::string(4000, '\xFF'));
}

// A .msg of n lines and a .fdb with the given slots for folder 1, written by hand.
void writeFolder(const std::string& hostDir, size_t lines, const std::vector<uint32_t>& slots) {
  std::string msg;
  for (size_t i = 0; i < lines; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04zX\t0\t0\r\n", i + 100);
    msg += buf;
  }
  writeHostFile(hostDir + "/00.msg", msg);
  std::vector<uint32_t> table(1000, 0xFFFFFFFFu);
  std::copy(slots.begin(), slots.end(), table.begin());
  std::string fdb(reinterpret_cast<const char*>(table.data()), 4000);
  fdb.append(slots.size() * 1180, '\0');
  writeHostFile(hostDir + "/00.fdb", fdb);
}

TEST_F(FolderTest, ThousandMessagesAndThousandHeaderRecords) {
  closeAll();
  std::vector<uint32_t> slots;
  for (uint32_t i = 0; i < 1000; ++i) slots.push_back(100 + i);
  writeFolder(root_.host("S/TREE/01"), 1000, slots);
  reopen();
  FolderPtr inbox = tray(0);
  EXPECT_EQ(inbox->GetRemainMessageCount(), 0u);
  unsigned long id = 0;
  EXPECT_FALSE(inbox->CreateMessage(&id));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FOLDER_FULL);
  EXPECT_EQ(ids(inbox.get()).size(), 1000u);
  EXPECT_EQ(file("S/DATA/Status.txt"), "0000\t0") << "nothing was made";

  // 999 messages but 1000 records (one deleted, not yet compacted): the plain creation fails
  // on the header cache and takes its list line back; the message file stays.
  inbox.reset();
  closeAll();
  slots[500] = 0x8000FFFFu;
  writeFolder(root_.host("S/TREE/01"), 999, slots);
  reopen();
  inbox = tray(0);
  EXPECT_EQ(inbox->GetRemainMessageCount(), 1u);
  EXPECT_FALSE(inbox->CreateMessage(&id));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_HEADER_FULL);
  EXPECT_EQ(ids(inbox.get()).size(), 999u);
  EXPECT_TRUE(hostFileExists(root_.host("S/DATA/00/00.eml")));
  // The sized creation compacts first and succeeds.
  ASSERT_TRUE(inbox->CreateMessage(&id, 100));
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(ids(inbox.get()).size(), 1000u);
  EXPECT_EQ(file("S/TREE/01/00.fdb").size(), 4000u + 1000u * 1180u);
}

TEST_F(FolderTest, SizedCreationNeedsRoomForCacheAndMessage) {
  FolderPtr inbox = tray(0);
  // Empty cache: (0 + 5180 + 8191) / 8192 = 1 block; 4096 bytes: (4096 + 8447) / 8192 = 1 block;
  // 2 * 8192 + 0x83000 = 552960 bytes must be exceeded.
  unsigned long id = 0;
  fault::setFreeSpace(552960);
  EXPECT_FALSE(inbox->CreateMessage(&id, 4096));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::setFreeSpace(552961);
  EXPECT_TRUE(inbox->CreateMessage(&id, 4096));
  // 4 records: (4 * 1180 + 5180 + 8191) / 8192 = 2; 10000 bytes: 2; 4 * 8192 + 0x83000.
  fault::setFreeSpace(std::nullopt);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(inbox->CreateMessage(&id));
  fault::setFreeSpace(4 * 8192 + 0x83000);
  EXPECT_FALSE(inbox->CreateMessage(&id, 10000));
  fault::setFreeSpace(4 * 8192 + 0x83000 + 1);
  EXPECT_TRUE(inbox->CreateMessage(&id, 10000));
  fault::setFreeSpace(511999);
  Ids one{id};
  EXPECT_TRUE(inbox->RemoveMessage(one)) << "removal makes room and needs none";
  EXPECT_EQ(ids(inbox.get()).size(), 4u);
  fault::setFreeSpace(std::nullopt);
}

TEST_F(FolderTest, LoadMessageHeaderCasesAndDates) {
  setFixedClock(SYSTEMTIME{2024, 1, 1, 1, 0, 0, 0, 0}, -540);
  FolderPtr inbox = tray(0);
  Ids made;
  for (int i = 0; i < 3; ++i) made.push_back(addMessage(inbox.get(), mailText("s" + std::to_string(i))));
  ASSERT_TRUE(storage_->RestoreFolderMessageHeader(trays_[0]));
  std::vector<FolderMsgHeader> buf(4);
  // Three records: exactly three is the one-read case; more fails; null fails.
  ASSERT_TRUE(inbox->LoadMessageHeader(buf.data(), 3));
  EXPECT_EQ(buf[2].messageId, made[2]);
  EXPECT_EQ(fieldText(buf[2].subject, 31), L"s2");
  // X-Date 2024-05-06 07:08:09 local (+9:00) is stored as 22:08:09 on the 5th and loaded back.
  EXPECT_EQ(buf[0].date.wDay, 6);
  EXPECT_EQ(buf[0].date.wHour, 7);
  EXPECT_EQ(file("S/TREE/01/00.fdb").substr(4000 + 1160 + 6, 4), std::string("\x05\x00\x16\x00", 4));
  EXPECT_FALSE(inbox->LoadMessageHeader(buf.data(), 4));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_FDB);
  EXPECT_FALSE(inbox->LoadMessageHeader(nullptr, 3));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  // Fewer asked than the list holds: a caller whose list predates the last creation gets the
  // records of that list.
  buf.assign(4, FolderMsgHeader{});
  ASSERT_TRUE(inbox->LoadMessageHeader(buf.data(), 2));
  EXPECT_EQ(buf[0].messageId, made[0]);
  EXPECT_EQ(buf[1].messageId, made[1]);
  EXPECT_EQ(buf[2].messageId, 0u) << "nothing beyond the count";

  // A record with an impossible date is zeroed in the one-read case (milliseconds kept).
  inbox.reset();
  closeAll();
  std::string fdb = file("S/TREE/01/00.fdb");
  const char badDate[16] = {'\xE8', '\x07', 13, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0};
  std::memcpy(&fdb[4000 + 1180 + 1160], badDate, 16);
  // Bytes beyond the records: the one-read case refuses them.
  writeHostFile(root_.host("S/TREE/01/00.fdb"), fdb);
  reopen();
  inbox = tray(0);
  ASSERT_TRUE(inbox->LoadMessageHeader(buf.data(), 3));
  EXPECT_EQ(buf[1].date.wYear, 0);
  EXPECT_EQ(buf[1].date.wMonth, 0);
  EXPECT_EQ(buf[1].date.wMilliseconds, 5);
  EXPECT_EQ(buf[0].date.wYear, 2024);
  inbox.reset();
  closeAll();
  writeHostFile(root_.host("S/TREE/01/00.fdb"), fdb + "junk");
  reopen();
  inbox = tray(0);
  EXPECT_FALSE(inbox->LoadMessageHeader(buf.data(), 3));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_HEADER_COUNT);
}

TEST_F(FolderTest, HeaderCacheThatMissesListedMessagesIsMadeAgainAtOpen) {
  // What a crash between the list write and the record append of a creation leaves: the folder
  // opens with its cache made again from the list, the record read from the message file.
  FolderPtr inbox = tray(0);
  unsigned long a = addMessage(inbox.get(), mailText("kept"));
  inbox.reset();
  closeAll();
  writeHostFile(root_.host("S/TREE/01/00.fdb"), std::string(4000, '\xFF'));
  reopen();
  inbox = tray(0);
  Ids listed;
  ASSERT_TRUE(inbox->GetMessageIds(&listed)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(listed, Ids{a});
  const std::string fdb = file("S/TREE/01/00.fdb");
  ASSERT_EQ(fdb.size(), 4000u + 1180u);
  EXPECT_EQ(fdb.substr(0, 8), std::string("\x00\x00\x00\x00\xFF\xFF\xFF\xFF", 8));
  FolderMsgHeader h{};
  ASSERT_TRUE(inbox->LoadMessageHeader(&h, 1));
  EXPECT_EQ(fieldText(h.subject, 31), L"kept");
  EXPECT_TRUE(storage_->CheckWantRecoverEntry(OXMDL_ERR_STG_HEADER_MISMATCH));
}

}  // namespace
}  // namespace oxm
