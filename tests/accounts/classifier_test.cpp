// The classifier through a real account: rules in file order, the fields and targets they test,
// a rule whose folder was removed, and the attributes of a stored received message.
#include "accounts/classifier.h"

#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "accounts/account_info.h"
#include "platform/fault.h"
#include "store/storage_interface.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm {
namespace {

using Rule = OxClassificationParamInterface::Attributes;
using Ids = std::vector<unsigned long>;

const std::wstring kSubject = L"\u4ef6\u540d";

Rule rule(const std::wstring& name, const std::wstring& field, const std::wstring& keyword, unsigned long folder,
          uint32_t target) {
  Rule r;
  r.strName = name;
  r.strField = field;
  r.strKeyword = keyword;
  r.ulFolderID = static_cast<uint32_t>(folder);
  r.ulTarget = target;
  return r;
}

std::string message(const std::string& from, const std::string& subject, const std::string& extra = "") {
  return "From: " + from + "\r\nTo: taro@example.jp\r\nCc: list@example.org\r\nSubject: " + subject +
         "\r\nDate: Fri, 04 Dec 2026 09:30:00 +0900\r\n" + extra + "\r\nbody\r\n";
}

class ClassifierTest : public test::AccountsTest {
 protected:
  void SetUp() override {
    test::AccountsTest::SetUp();
    OxAccountCreator creator;
    ASSERT_TRUE(creator.CreateFolders(L"Work")) << std::hex << GetOxMiddleError();
    account_.reset(OxAccountInfoInterface::OpenAccountInfo(L"Work", L""));
    ASSERT_TRUE(account_);
    storage_.reset(account_->OpenStorage());
    ASSERT_TRUE(storage_);
    std::unique_ptr<OxFolderInterface> root(storage_->OpenRootFolder());
    ASSERT_TRUE(root->CreateFolder(L"Lists", &lists_));
    ASSERT_TRUE(root->CreateFolder(L"Sales", &sales_));
    ASSERT_TRUE(root->CreateFolder(L"Gone", &gone_));
    OxAccountInfoInterface::Attributes a;
    a.mask = uint64_t{1} << 28;
    ASSERT_TRUE(account_->GetAccountInfoAttributes(&a));
    inbox_ = a.ulJusinTrayID;
  }
  void TearDown() override {
    storage_.reset();
    account_.reset();
    test::AccountsTest::TearDown();
  }
  void setRules(const std::vector<Rule>& rules) {
    std::unique_ptr<OxClassificationParamInterface> p(account_->OpenClassificationParamInterface());
    ASSERT_TRUE(p && p->SetAttributes(rules)) << std::hex << GetOxMiddleError();
  }
  Ids ids(unsigned long folder) {
    std::unique_ptr<OxFolderInterface> f(storage_->OpenFolder(folder));
    Ids out;
    EXPECT_TRUE(f && f->GetMessageIds(&out));
    return out;
  }
  // Where one new message lands.
  unsigned long save(std::string text) {
    OxClassifier classifier;
    const Ids before[] = {ids(inbox_), ids(lists_), ids(sales_)};
    EXPECT_TRUE(classifier.SaveToFolder(text, "uid-1", false, account_.get())) << std::hex << GetOxMiddleError();
    const unsigned long folders[] = {inbox_, lists_, sales_};
    for (int i = 0; i < 3; ++i) {
      if (ids(folders[i]).size() == before[i].size() + 1) return folders[i];
    }
    return ~0ul;
  }

  std::unique_ptr<OxAccountInfoInterface> account_;
  std::unique_ptr<OxStorageInterface> storage_;
  unsigned long inbox_ = 0, lists_ = 0, sales_ = 0, gone_ = 0;
};

TEST_F(ClassifierTest, RulesMatchByFieldInFileOrder) {
  setRules({rule(L"sale", kSubject, L"SALE", sales_, 1),
            rule(L"news", L"From", L"news desk", lists_, 1),
            rule(L"list", L"Cc", L"list@", lists_, 1),
            rule(L"odd", L"Subject", L"weekly", sales_, 1),
            rule(L"ml", L"X-ML-name", L"tokyo-users", lists_, 1)});
  // A keyword in capitals finds a lower-case subject; the first rule wins though the Cc rule
  // matches too.
  EXPECT_EQ(save(message("a@example.jp", "big sale today")), sales_);
  // "From" tests the display name when the address does not hold the keyword.
  EXPECT_EQ(save("From: \"News Desk\" <desk@example.org>\r\nTo: taro@example.jp\r\nSubject: hello\r\n"
                 "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\nx\r\n"),
            lists_);
  // The Cc rule; a field name that is not one of the five ("Subject") never matches.
  EXPECT_EQ(save(message("a@example.jp", "weekly report")), lists_);
  std::string noCc = "From: a@example.jp\r\nTo: taro@example.jp\r\nSubject: weekly\r\n"
                     "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\nx\r\n";
  EXPECT_EQ(save(noCc), inbox_);
  EXPECT_EQ(save("From: a@example.jp\r\nSubject: x\r\nX-ML-Name: tokyo-users\r\n"
                 "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\nx\r\n"),
            lists_);
}

TEST_F(ClassifierTest, TargetsSelectTheKindOfMessage) {
  // A rule for the other messages never files a received one.
  setRules({rule(L"other", kSubject, L"report", sales_, 2), rule(L"both", kSubject, L"memo", lists_, 3)});
  EXPECT_EQ(save(message("a@example.jp", "report")), inbox_);
  EXPECT_EQ(save(message("a@example.jp", "memo")), lists_);
}

TEST_F(ClassifierTest, ARuleWhoseFolderWasRemovedFallsBackToTheReceiveTray) {
  setRules({rule(L"gone", kSubject, L"lunch", gone_, 1)});
  std::unique_ptr<OxFolderInterface> root(storage_->OpenRootFolder());
  ASSERT_TRUE(root->RemoveFolder(gone_));
  EXPECT_EQ(save(message("a@example.jp", "Lunch?")), inbox_);
  // Sorting a stored message again to the vanished folder leaves it in place and succeeds.
  const unsigned long id = ids(inbox_).back();
  OxClassifier classifier;
  EXPECT_TRUE(classifier.MoveToFolder(id, account_.get())) << std::hex << GetOxMiddleError();
  EXPECT_EQ(ids(inbox_).back(), id);
}

TEST_F(ClassifierTest, StoredMessageCarriesTheReceivedAttributes) {
  setRules({});
  std::string text = message("\"Hanako\" <hanako@example.jp>", "hello");
  OxClassifier classifier;
  ASSERT_TRUE(classifier.SaveToFolder(text, "UIDL-0042", true, account_.get()));
  const unsigned long id = ids(inbox_).back();
  std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(id));
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_FILE_MASK | OxMessageInterface::ATTR_HEADER_MASK;
  ASSERT_TRUE(m->GetAttributes(&a));
  EXPECT_EQ(a.flags[0], 1) << "unread";
  EXPECT_EQ(a.flags[2], 1) << "partial";
  EXPECT_EQ(a.numericAttribute, 1u) << "received";
  EXPECT_EQ(a.text, "UIDL-0042");
  EXPECT_EQ(a.fromAddress, L"hanako@example.jp");
  EXPECT_EQ(a.toAddress, L"taro@example.jp");
  EXPECT_EQ(a.subject, L"hello");
  EXPECT_EQ(a.date.wYear, 2026);
  EXPECT_EQ(a.date.wHour, 0) << "09:30 +0900 is 00:30 UTC";
  std::string stored;
  ASSERT_TRUE(m->Read(&stored));
  EXPECT_EQ(stored, text);
  // A message without a Date gets a made-up line, stored with the text.
  std::string undated = "From: a@example.jp\r\nSubject: undated\r\n\r\nx\r\n";
  ASSERT_TRUE(classifier.SaveToFolder(undated, "u2", false, account_.get()));
  EXPECT_EQ(undated.compare(0, 6, "Date: "), 0);
}

// A save that fails at any of its writes leaves no message behind and reports a code.
TEST_F(ClassifierTest, ASaveFailingAtAnyWriteLeavesNoMessage) {
  setRules({});
  OxClassifier classifier;
  std::string text = message("a@example.jp", "first");
  fault::reset();
  ASSERT_TRUE(classifier.SaveToFolder(text, "u0", false, account_.get()));
  const long writes = fault::calls(fault::Op::Write);
  ASSERT_GT(writes, 1);
  for (long n = 1; n <= writes; ++n) {
    const size_t before = ids(inbox_).size();
    text = message("a@example.jp", "write " + std::to_string(n));
    fault::failNth(fault::Op::Write, static_cast<int>(n), ERROR_ACCESS_DENIED);
    const bool saved = classifier.SaveToFolder(text, "u", false, account_.get());
    const unsigned code = GetOxMiddleError();
    fault::reset();
    EXPECT_EQ(ids(inbox_).size(), before + (saved ? 1 : 0)) << "write " << n;
    if (!saved) EXPECT_NE(code, OXMDL_ERR_NONE) << "write " << n;
  }
}

TEST_F(ClassifierTest, MoveToFolderSortsAStoredMessageByItsKind) {
  setRules({});
  const unsigned long id = save(message("a@example.jp", "invoice 12"));
  ASSERT_EQ(id, inbox_);
  const unsigned long stored = ids(inbox_).back();
  setRules({rule(L"inv", kSubject, L"INVOICE", sales_, 1)});
  OxClassifier classifier;
  ASSERT_TRUE(classifier.MoveToFolder(stored, account_.get())) << std::hex << GetOxMiddleError();
  EXPECT_EQ(ids(sales_), Ids{stored});
  EXPECT_FALSE(classifier.MoveToFolder(stored, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_CLS_NO_ACCOUNT);
  std::string text = message("a@example.jp", "x");
  EXPECT_FALSE(classifier.SaveToFolder(text, "u", false, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_CLS_NO_ACCOUNT);
}

}  // namespace
}  // namespace oxm
