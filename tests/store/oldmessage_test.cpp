// The old-message check: counting both trays with their sub-folders, the candidate order, and
// the messages it must never remove.
#include "store/folder.h"
#include "store/oldmessage.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

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
  // A message with the given flags and time (day of January 2024 at 10:minute).
  unsigned long add(OxFolderInterface* f, bool unread, bool keep, int day, int minute) {
    unsigned long id = 0;
    EXPECT_TRUE(f->CreateMessage(&id));
    setAttr(id, Attr{.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_KEEP |
                             OxMessageInterface::ATTR_TIME,
                     .flags = {unread, 0, 0, keep},
                     .time = SYSTEMTIME{2024, 1, 0, WORD(day), 10, WORD(minute), 0, 0}});
    return id;
  }
  bool exists(unsigned long id) { return MessagePtr(storage_->OpenMessage(id)) != nullptr; }
  Limits account_;
};

TEST_F(OldMessageTest, FitsWithoutRemovingAndCountsSubFolders) {
  FolderPtr sent = tray(2);
  unsigned long sub = 0;
  ASSERT_TRUE(sent->CreateFolder(L"sub", &sub));
  add(tray(0).get(), false, false, 1, 0);
  add(FolderPtr(sent->OpenFolder(sub)).get(), false, false, 2, 0);
  add(tray(3).get(), false, false, 3, 0);  // not counted: not a capped tray
  OldMessageCheck check(storage_.get(), &account_);
  unsigned long missing = 99;
  EXPECT_TRUE(check.Check(4, &missing)) << "2 + 4 = 6 fits a cap of 6";
  EXPECT_EQ(missing, 0u);
  EXPECT_TRUE(failsWith(check.Check(1, nullptr), OXMDL_ERR_OLD_NULL_ARG));
  account_.limits.receiveTray = 77;
  EXPECT_TRUE(failsWith(check.Check(1, &missing), OXMDL_ERR_STG_NOT_CHILD));
  account_.limits.receiveTray = trays_[0];
  account_.code = OXMDL_ERR_ACC_OPEN_MAILSTORE;
  EXPECT_TRUE(failsWith(check.Check(1, &missing), OXMDL_ERR_ACC_OPEN_MAILSTORE));
}

TEST_F(OldMessageTest, RemovesTheOldestReadMessagesAndNeverTheOthers) {
  FolderPtr inbox = tray(0), sent = tray(2);
  unsigned long sub = 0, deeper = 0;
  ASSERT_TRUE(inbox->CreateFolder(L"nested", &sub));
  FolderPtr nested(inbox->OpenFolder(sub));
  ASSERT_TRUE(nested->CreateFolder(L"deeper", &deeper));
  const unsigned long keptOldest = add(inbox.get(), false, true, 1, 0);  // flag byte 3: kept
  const unsigned long unreadOld = add(sent.get(), true, false, 1, 1);    // unread: kept
  const unsigned long sameA = add(inbox.get(), false, false, 2, 0);      // equal times:
  const unsigned long sameB = add(FolderPtr(nested->OpenFolder(deeper)).get(), false, false, 2, 0);  // deeper first
  const unsigned long sentRead = add(sent.get(), false, false, 3, 0);
  const unsigned long newest = add(nested.get(), false, false, 9, 0);
  const unsigned long open = add(inbox.get(), false, false, 1, 30);  // old but open
  MessagePtr held(storage_->OpenMessage(open));
  account_.limits.cap = 7;
  OldMessageCheck check(storage_.get(), &account_);
  unsigned long missing = 0;
  // 7 messages + 3 incoming - 7 = 3 to remove: sameB, sameA (collection order), sentRead.
  EXPECT_TRUE(check.Check(3, &missing));
  EXPECT_EQ(missing, 3u);
  for (unsigned long id : {sameA, sameB, sentRead}) EXPECT_FALSE(exists(id)) << id;
  for (unsigned long id : {keptOldest, unreadOld, newest, open}) EXPECT_TRUE(exists(id)) << id;
  // 4 left + 5 incoming - 7 = 2 needed; only `newest` may go (`open` is skipped): 1 missing.
  EXPECT_FALSE(check.Check(5, &missing));
  EXPECT_EQ(missing, 1u);
  EXPECT_FALSE(exists(newest));
  EXPECT_TRUE(exists(open));
  held.reset();
  EXPECT_EQ(problems(), "");
}

}  // namespace
}  // namespace oxm
