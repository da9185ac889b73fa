// The old-message check: its argument and limit codes, the candidate order, the messages it skips.
#include "store/folder.h"
#include "store/oldmessage.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using OldMessageTest = StoreTest;

struct Limits : OldMessageAccount {
  unsigned readLimits(OldMessageLimits* out) override {
    *out = limits;
    return code;
  }
  OldMessageLimits limits;
  unsigned code = OXMDL_ERR_NONE;
};

TEST_F(OldMessageTest, EqualTimesGoDeepestFirstAndAnOpenMessageStays) {
  unsigned long sub = 0, deeper = 0;
  ASSERT_TRUE(tray(0)->CreateFolder(L"nested", &sub));
  ASSERT_TRUE(FolderPtr(storage_->OpenFolder(sub))->CreateFolder(L"deeper", &deeper));
  // Read messages at 10:minute on a day of January 2024.
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
