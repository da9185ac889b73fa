// Folders: the tree, limits, notifications, message lists, header caches and the old-message check.
#include <cstring>

#include "platform/clock.h"
#include "store/folder.h"
#include "store/headercache.h"
#include "store/message_maker.h"
#include "store/oldmessage.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using FolderTest = StoreTest;
using I = OxMessageInterface;

struct Recorder : OxFolderInterface::Notify {
  void FolderChanged(unsigned long id) override { folders.push_back(id); }
  void MessageChanged(unsigned long id) override { messages.push_back(id); }
  Ids folders, messages;
};

TEST_F(FolderTest, TreeVirtualFoldersNamesAndTheFolderLimit) {
  Ids children;
  ASSERT_TRUE(root_folder_->GetFolderIds(&children));
  EXPECT_EQ(children, (Ids{1, 2, 3, 4, 0x10001, 0x10002}));
  OxFolderInterface::FolderAttributes attr;
  FolderPtr inbox = tray(0);
  ASSERT_TRUE(inbox->ReadFolderAttributes(0x10001, &attr)) << "virtual names from any folder";
  EXPECT_EQ(attr.name, L"\u90E8\u5206\u53D7\u4FE1\u30C8\u30EC\u30A4");
  ASSERT_TRUE(inbox->GetFolderIds(&children));
  EXPECT_TRUE(children.empty()) << "only the root lists the virtual folders";
  EXPECT_TRUE(failsWith(inbox->OpenFolder(0x10000), OXMDL_ERR_STG_NO_FOLDER));
  EXPECT_TRUE(failsWith(inbox->OpenFolder(2), OXMDL_ERR_STG_NOT_CHILD));
  inbox.reset();
  unsigned long id = 0;
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(root_folder_->CreateFolder(L"f" + std::to_wstring(i), &id));
  EXPECT_EQ(id, 24u);
  EXPECT_TRUE(failsWith(root_folder_->CreateFolder(L"one more", &id), OXMDL_ERR_STG_FOLDER_LIMIT));
  EXPECT_TRUE(filesAre({{"S/TREE/Status.txt", "0019\t19"}, {"S/TREE/19", kAbsent}}));
  ASSERT_TRUE(root_folder_->RemoveFolder(24) && root_folder_->RemoveFolder(22));
  rewrite("S/TREE/Status.txt", "0015\t17");
  ASSERT_TRUE(root_folder_->CreateFolder(L"again", &id));
  EXPECT_EQ(id, 0x16u) << "0x15 still has its files";
  EXPECT_EQ(file("S/TREE/Status.txt"), "0017\t18");
}

TEST_F(FolderTest, CreateRemoveAndMoveFoldersWithNotifications) {
  Recorder rootSeen, inboxSeen;
  FolderPtr inbox = tray(0);
  ASSERT_TRUE(root_folder_->RegisterNotify(&rootSeen) && inbox->RegisterNotify(&inboxSeen));
  unsigned long sub = 0;
  fault::setFreeSpace(511999);
  EXPECT_TRUE(failsWith(inbox->CreateFolder(L"Sub", &sub), OXMDL_ERR_STG_DISK_FULL));
  EXPECT_FALSE(has("S/TREE/05"));
  fault::setFreeSpace(512000);
  ASSERT_TRUE(inbox->CreateFolder(L"Sub", &sub));
  fault::setFreeSpace(std::nullopt);
  EXPECT_EQ(std::pair(sub, inboxSeen.folders), std::pair(5ul, Ids{5}));
  {
    FolderPtr open(inbox->OpenFolder(sub));
    EXPECT_TRUE(failsWith(inbox->RemoveFolder(sub), OXMDL_ERR_STG_FOLDER_OPEN));
    unsigned long deeper = 0;
    ASSERT_TRUE(open->CreateFolder(L"Deeper", &deeper));
    FolderPtr deep(open->OpenFolder(deeper));
    open.reset();
    EXPECT_TRUE(failsWith(inbox->MoveFolder(sub, deep.get()), OXMDL_ERR_STG_NOT_CHILD));
  }
  ASSERT_TRUE(inbox->MoveFolder(sub, root_folder_.get()));
  EXPECT_EQ(std::pair(inboxSeen.folders, rootSeen.folders), std::pair(Ids{5, 5}, Ids{5}));
  EXPECT_EQ(file("S/TREE/01/00.fld"), "");
  const unsigned long id = addMessage(FolderPtr(root_folder_->OpenFolder(sub)).get(), "x");
  ASSERT_TRUE(root_folder_->RemoveFolder(sub));
  EXPECT_EQ(rootSeen.folders, (Ids{5, 5}));
  EXPECT_TRUE(filesAre({{"S/TREE/05/00.fld", kAbsent}, {"S/DATA/00", kAbsent}, {"S/DATA/Status.txt", "0001\t0"},
                        {"S/TREE/Status.txt", "0007\t6"}, {"S/TREE/06/00.fld", ""}}));
  EXPECT_EQ(storage_->OpenMessage(id), nullptr);
  EXPECT_TRUE(failsWith(storage_->OpenFolder(sub), OXMDL_ERR_STG_NOFILE_FLD)) << "what it read before is gone too";
}

TEST_F(FolderTest, MessageNotificationsReachTheVirtualFolders) {
  FolderPtr inbox = tray(0), unread(root_folder_->OpenFolder(0x10002)), partial(root_folder_->OpenFolder(0x10001));
  Recorder inboxSeen, unreadSeen, partialSeen;
  auto seen = [&] { return std::vector{inboxSeen.messages, unreadSeen.messages, partialSeen.messages}; };
  ASSERT_TRUE(inbox->RegisterNotify(&inboxSeen));
  EXPECT_TRUE(failsWith(inbox->RegisterNotify(&unreadSeen), OXMDL_ERR_STG_NOTIFY_BUSY));
  EXPECT_TRUE(failsWith(inbox->UnregisterNotify(&unreadSeen), OXMDL_ERR_STG_NOTIFY_UNKNOWN));
  ASSERT_TRUE(unread->RegisterNotify(&unreadSeen) && partial->RegisterNotify(&partialSeen));
  const unsigned long a = addMessage(inbox.get(), "a"), b = addMessage(inbox.get(), "b");
  setAttr(b, Attr{.mask = I::ATTR_UNREAD, .flags = {1}});
  setAttr(b, Attr{.mask = I::ATTR_UNREAD, .flags = {1}});
  setAttr(b, Attr{.mask = I::ATTR_UNREAD | I::ATTR_PARTIAL, .flags = {1, 0, 1}});
  EXPECT_EQ(seen(), (std::vector<Ids>{{a, b, b, b}, {b}, {b}}));
  EXPECT_EQ(ids(unread.get()), Ids{b});
  ASSERT_TRUE(unread->RemoveMessage(b));
  EXPECT_EQ(seen(), (std::vector<Ids>{{a, b, b, b, b}, {b, b}, {b, b}}));
  ASSERT_TRUE(inbox->RemoveMessage(a));
  EXPECT_EQ(inboxSeen.messages.size(), 5u);
  unsigned long id = 0;
  const Attr attrs{.mask = I::ATTR_FILE_MASK | I::ATTR_HEADER_MASK, .flags = {1, 1, 1, 0},
                   .numericAttribute = 1, .time = {2024, 5, 1, 6, 7, 8, 9, 0}, .text = "uid-7",
                   .fromAddress = L"from@example.jp", .subject = L"s", .date = {2024, 5, 1, 6, 7, 8, 9, 0}};
  ASSERT_TRUE(MessageMaker::create(*inbox, attrs, std::string("Subject: x\0cut", 14), &id));
  EXPECT_EQ(seen(), (std::vector<Ids>{{a, b, b, b, b, id, id}, {b, b, id}, {b, b, id}}));
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0002\t1\t1\r\n");
  EXPECT_EQ(file("S/DATA/02/00.eml").substr(16, 26), std::string("\x01\x01\x01\0\xE8\x07\x05\0\x01\0\x06\0\x07\0\x08\0\x09\0\0\0uid-7\0", 26));
  EXPECT_EQ(file("S/DATA/02/00.eml").substr(256), "Subject: x") << "the text, up to its first NUL";
  // Where no file without a name can be made, the file is made under its name, whole all the same.
  fault::failNth(fault::Op::Open, 1, ERROR_NOT_SUPPORTED);
  ASSERT_TRUE(MessageMaker::create(*inbox, attrs, "Subject: y", &id));
  EXPECT_EQ(file("S/DATA/03/00.eml").substr(256), "Subject: y");
  Attr got{.mask = I::ATTR_HEADER_MASK | I::ATTR_NUMERIC};
  ASSERT_TRUE(MessagePtr(storage_->OpenMessage(id))->GetAttributes(&got));
  EXPECT_EQ(describe(got), "to  from from@example.jp name  subject s date 2024-05-06 07:08:09.000 w1 numeric 1");
}

TEST_F(FolderTest, RemoveAndMoveCheckEveryIdentifierFirst) {
  FolderPtr inbox = tray(0), sent = tray(2);
  const unsigned long a = addMessage(inbox.get(), mailText("first")), b = addMessage(inbox.get(), mailText("second"));
  const unsigned long c = addMessage(sent.get(), "c");
  ASSERT_TRUE(storage_->RestoreFolderMessageHeader(trays_[0]));
  EXPECT_TRUE(failsWith(inbox->RemoveMessage(idList({a, c})), OXMDL_ERR_STG_ENTRY_FREE));
  {
    MessagePtr open(storage_->OpenMessage(b));
    EXPECT_TRUE(failsWith(inbox->MoveMessage(idList({a, b}), sent.get()), OXMDL_ERR_STG_MESSAGE_OPEN));
  }
  EXPECT_EQ(ids(inbox.get()), (Ids{a, b})) << "nothing removed or moved";
  ASSERT_TRUE(storage_->MoveMessage(b, trays_[2]));
  EXPECT_EQ(file("S/DATA/Entry.dat").substr(b * 4, 4), std::string("\x03\x00\x00\x00", 4));
  Attr attr{.mask = I::ATTR_SUBJECT};
  ASSERT_TRUE(MessagePtr(sent->OpenMessage(b))->GetAttributes(&attr));
  EXPECT_EQ(attr.subject, L"second");
  EXPECT_EQ(file("S/TREE/01/00.fdb").size(), 4000u + 1180u) << "the source cache is compacted";
  ASSERT_TRUE(inbox->RemoveMessage(idList({a, a}))) << "a repeated identifier is removed once";
  EXPECT_TRUE(inbox->RemoveMessage(idList({})));
  EXPECT_TRUE(filesAre({{"S/DATA/Status.txt", "0003\t2"}, {"S/TREE/01/00.fdb", std::string(4000, '\xFF')}}));
}

TEST_F(FolderTest, SizedCreationNeedsRoomAndAThousandHeaderRecordsAtMost) {
  // 8 KB blocks for the cache (3 * 1180 + 5180) and the message (10000 + 256): 4, plus 0x83000.
  FolderPtr inbox = tray(0);
  unsigned long id = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(inbox->CreateMessage(&id));
  fault::setFreeSpace(4 * 8192 + 0x83000);
  EXPECT_TRUE(failsWith(inbox->CreateMessage(&id, 10000), OXMDL_ERR_STG_DISK_FULL));
  fault::setFreeSpace(4 * 8192 + 0x83001);
  EXPECT_TRUE(inbox->CreateMessage(&id, 10000));
  fault::setFreeSpace(std::nullopt);
  std::string msg, table;
  char line[16];
  for (uint32_t i = 0; i < 1000; ++i) {
    if (i < 999) msg.append(line, std::snprintf(line, sizeof line, "%04X\t0\t0\r\n", i + 100));
    const uint32_t slot = i == 500 ? 0x8000FFFFu : 100 + i;
    table.append(reinterpret_cast<const char*>(&slot), 4);
  }
  inbox.reset();
  put("S/TREE/01/00.msg", msg);
  rewrite("S/TREE/01/00.fdb", table + std::string(1000 * 1180, '\0'));
  inbox = tray(0);
  EXPECT_EQ(inbox->GetRemainMessageCount(), 1u);
  EXPECT_TRUE(failsWith(inbox->CreateMessage(&id), OXMDL_ERR_STG_HEADER_FULL));
  EXPECT_EQ(ids(inbox.get()).size(), 999u);
  EXPECT_TRUE(has("S/DATA/04/00.eml"));
  // The sized creation compacts first (room for 999 records and 100 bytes: 146 blocks) and succeeds.
  fault::setFreeSpace(146 * 8192 + 0x83000);
  EXPECT_TRUE(failsWith(inbox->CreateMessage(&id, 100), OXMDL_ERR_STG_DISK_FULL));
  fault::setFreeSpace(146 * 8192 + 0x83001);
  ASSERT_TRUE(inbox->CreateMessage(&id, 100));
  EXPECT_EQ(id, 5u);
  EXPECT_EQ(file("S/TREE/01/00.fdb").size(), 4000u + 1000u * 1180u);
  EXPECT_TRUE(failsWith(inbox->CreateMessage(&id), OXMDL_ERR_STG_FOLDER_FULL));
}

TEST_F(FolderTest, LoadMessageHeaderCasesAndDates) {
  setFixedClock(SYSTEMTIME{2024, 1, 1, 1, 0, 0, 0, 0}, -540);
  FolderPtr inbox = tray(0);
  Ids made;
  for (int i = 0; i < 3; ++i) made.push_back(addMessage(inbox.get(), mailText("s" + std::to_string(i))));
  ASSERT_TRUE(storage_->RestoreFolderMessageHeader(trays_[0]));
  std::vector<FolderMsgHeader> buf(4);
  ASSERT_TRUE(inbox->LoadMessageHeader(buf.data(), 3));
  EXPECT_EQ(std::pair(Ids{buf[2].messageId}, fieldText(buf[2].subject, 31)), std::pair(Ids{made[2]}, std::wstring(L"s2")));
  // X-Date 2024-05-06 07:08:09 local (+9:00) is stored as 22:08:09 on the 5th and loaded back.
  EXPECT_EQ(when(buf[0].date).substr(0, 19), "2024-05-06 07:08:09");
  EXPECT_EQ(file("S/TREE/01/00.fdb").substr(4000 + 1160 + 6, 4), std::string("\x05\x00\x16\x00", 4));
  EXPECT_TRUE(failsWith(inbox->LoadMessageHeader(buf.data(), 4), OXMDL_ERR_STG_FILE_FMTILLGL_FDB));
  buf.assign(4, FolderMsgHeader{});
  ASSERT_TRUE(inbox->LoadMessageHeader(buf.data(), 2));
  EXPECT_EQ((Ids{buf[0].messageId, buf[1].messageId, buf[2].messageId}), (Ids{made[0], made[1], 0}));
  inbox.reset();
  std::string fdb = file("S/TREE/01/00.fdb");
  std::memcpy(&fdb[4000 + 1180 + 1160], "\xE8\x07\x0D\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x05\x00", 16);
  rewrite("S/TREE/01/00.fdb", fdb);
  ASSERT_TRUE(tray(0)->LoadMessageHeader(buf.data(), 3));
  EXPECT_EQ(when(buf[1].date) + " " + when(buf[0].date).substr(0, 4), "0000-00-00 00:00:00.005 w0 2024");
  rewrite("S/TREE/01/00.fdb", fdb + "junk");
  EXPECT_TRUE(failsWith(tray(0)->LoadMessageHeader(buf.data(), 3), OXMDL_ERR_STG_HEADER_COUNT));
}

TEST_F(FolderTest, HeaderCacheThatMissesListedMessagesIsMadeAgainAtOpen) {
  const unsigned long a = addMessage(tray(0).get(), mailText("kept"));
  rewrite("S/TREE/01/00.fdb", std::string(4000, '\xFF'));
  FolderPtr inbox = tray(0);
  EXPECT_EQ(ids(inbox.get()), Ids{a});
  const std::string fdb = file("S/TREE/01/00.fdb");
  EXPECT_EQ(std::pair(fdb.size(), fdb.substr(0, 8)), std::pair(size_t{5180}, std::string("\0\0\0\0\xFF\xFF\xFF\xFF", 8)));
  FolderMsgHeader h{};
  ASSERT_TRUE(inbox->LoadMessageHeader(&h, 1));
  EXPECT_EQ(fieldText(h.subject, 31), L"kept");
}

// The old-message check's account limits.
struct Limits : OldMessageAccount {
  unsigned readLimits(OldMessageLimits* out) override {
    *out = limits;
    return code;
  }
  OldMessageLimits limits;
  unsigned code = OXMDL_ERR_NONE;
};

TEST_F(FolderTest, OldMessageCheckTakesEqualTimesDeepestFirstAndSkipsAnOpenOne) {
  unsigned long sub = 0, deeper = 0;
  ASSERT_TRUE(tray(0)->CreateFolder(L"nested", &sub));
  ASSERT_TRUE(FolderPtr(storage_->OpenFolder(sub))->CreateFolder(L"deeper", &deeper));
  auto add = [&](unsigned long folder, int day, int minute) {
    const unsigned long id = addMessage(FolderPtr(storage_->OpenFolder(folder)).get(), "x");
    setAttr(id, Attr{.mask = OxMessageInterface::ATTR_TIME, .time = {2024, 1, 0, WORD(day), 10, WORD(minute), 0, 0}});
    return id;
  };
  const unsigned long sameA = add(trays_[0], 2, 0), sameB = add(deeper, 2, 0), later = add(trays_[2], 3, 0);
  const unsigned long open = add(trays_[0], 1, 30);
  MessagePtr held(storage_->OpenMessage(open));
  Limits account;
  account.limits = {4, trays_[0], trays_[2]};
  OldMessageCheck check(storage_.get(), &account);
  auto left = [&] {
    std::string s;
    for (unsigned long id : {sameA, sameB, later, open}) s += MessagePtr(storage_->OpenMessage(id)) ? "1" : "0";
    return s;
  };
  unsigned long missing = 9;
  // 4 + 1 - 4 = 1 to go: of the two at the same time the deeper one, the open one skipped.
  EXPECT_TRUE(check.Check(1, &missing));
  EXPECT_EQ(std::pair(missing, left()), std::pair(1ul, std::string("1011")));
  // 3 + 4 - 4 = 3 needed, two may go: one missing.
  EXPECT_FALSE(check.Check(4, &missing));
  EXPECT_EQ(std::pair(missing, left()), std::pair(1ul, std::string("0001")));
  EXPECT_TRUE(failsWith(check.Check(1, nullptr), OXMDL_ERR_OLD_NULL_ARG));
  account.code = OXMDL_ERR_ACC_OPEN_MAILSTORE;
  EXPECT_TRUE(failsWith(check.Check(1, &missing), OXMDL_ERR_ACC_OPEN_MAILSTORE));
  held.reset();
  EXPECT_EQ(problems(), "");
}

}  // namespace
}  // namespace oxm
