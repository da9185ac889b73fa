// The old-message check: counting both trays with their sub-folders, the candidate order, and
// the messages it must never remove.
#include "store/folder.h"
#include "store/oldmessage.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using Attr = OxMessageInterface::Attributes;

struct Limits : OldMessageAccount {
  unsigned readLimits(OldMessageLimits* out) override {
    *out = limits;
    return code;
  }
  OldMessageLimits limits;
  unsigned code = OXMDL_ERR_NONE;
};

class OldMessageTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    account_.limits = {6, trays_[0], trays_[2]};
  }
  // A message with the given flags and time (day of January 2024, hour, minute).
  unsigned long add(OxFolderInterface* f, bool unread, bool keep, int day, int minute) {
    unsigned long id = 0;
    EXPECT_TRUE(f->CreateMessage(&id));
    MessagePtr m(storage_->OpenMessage(id));
    Attr a;
    a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_KEEP | OxMessageInterface::ATTR_TIME;
    a.flags[0] = unread;
    a.flags[3] = keep;
    a.time = SYSTEMTIME{2024, 1, 0, WORD(day), 10, WORD(minute), 0, 0};
    EXPECT_TRUE(m->SetAttributes(a));
    return id;
  }
  bool exists(unsigned long id) { return MessagePtr(storage_->OpenMessage(id)) != nullptr; }
  Limits account_;
};

TEST_F(OldMessageTest, FitsWithoutRemovingAndCountsSubFolders) {
  FolderPtr inbox = tray(0);
  FolderPtr sent = tray(2);
  FolderPtr drafts = tray(3);
  unsigned long sub = 0;
  ASSERT_TRUE(sent->CreateFolder(L"sub", &sub));
  FolderPtr subFolder(sent->OpenFolder(sub));
  add(inbox.get(), false, false, 1, 0);
  add(subFolder.get(), false, false, 2, 0);
  add(drafts.get(), false, false, 3, 0) ;  // not counted: not a capped tray
  OldMessageCheck check(storage_.get(), &account_);
  unsigned long missing = 99;
  EXPECT_TRUE(check.Check(4, &missing)) << "2 + 4 = 6 fits a cap of 6";
  EXPECT_EQ(missing, 0u);
  EXPECT_FALSE(check.Check(1, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_OLD_NULL_ARG);
  account_.limits.receiveTray = 77;
  EXPECT_FALSE(check.Check(1, &missing));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOT_CHILD);
  account_.limits.receiveTray = trays_[0];
  account_.code = OXMDL_ERR_ACC_OPEN_MAILSTORE;
  EXPECT_FALSE(check.Check(1, &missing));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_ACC_OPEN_MAILSTORE);
}

TEST_F(OldMessageTest, RemovesTheOldestReadMessagesAndNeverTheOthers) {
  FolderPtr inbox = tray(0);
  FolderPtr sent = tray(2);
  unsigned long sub = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"nested", &sub));
  FolderPtr nested(inbox->OpenFolder(sub));
  unsigned long deeper = 0;
  ASSERT_TRUE(nested->CreateFolder(L"deeper", &deeper));
  FolderPtr deep(nested->OpenFolder(deeper));
  const unsigned long keptOldest = add(inbox.get(), false, true, 1, 0);     // flag byte 3: kept
  const unsigned long unreadOld = add(sent.get(), true, false, 1, 1);       // unread: kept
  const unsigned long sameA = add(inbox.get(), false, false, 2, 0);         // equal times:
  const unsigned long sameB = add(deep.get(), false, false, 2, 0);          // deep is collected first
  const unsigned long sentRead = add(sent.get(), false, false, 3, 0);
  const unsigned long newest = add(nested.get(), false, false, 9, 0);
  const unsigned long open = add(inbox.get(), false, false, 1, 30);         // old but open
  MessagePtr held(storage_->OpenMessage(open));
  account_.limits.cap = 7;

  OldMessageCheck check(storage_.get(), &account_);
  unsigned long missing = 0;
  // 7 messages + 3 incoming - 7 = 3 to remove: sameB, sameA (collection order), sentRead.
  EXPECT_TRUE(check.Check(3, &missing));
  EXPECT_EQ(missing, 3u);
  EXPECT_FALSE(exists(sameA));
  EXPECT_FALSE(exists(sameB));
  EXPECT_FALSE(exists(sentRead));
  EXPECT_TRUE(exists(keptOldest));
  EXPECT_TRUE(exists(unreadOld));
  EXPECT_TRUE(exists(newest));
  EXPECT_TRUE(exists(open));

  // 4 left + 5 incoming - 7 = 2 needed; only `newest` may go (`open` is skipped): 1 missing.
  EXPECT_FALSE(check.Check(5, &missing));
  EXPECT_EQ(missing, 1u);
  EXPECT_FALSE(exists(newest));
  EXPECT_TRUE(exists(open));
  held.reset();
  EXPECT_EQ(storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat")), "");
}

}  // namespace
}  // namespace oxm
