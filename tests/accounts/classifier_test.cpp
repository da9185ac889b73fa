// The classifier through a real account: which rule a received message meets, and where it lands.
#include "accounts/classifier.h"

#include "platform/fault.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Rule = OxClassificationParamInterface::Attributes;
using Ids = std::vector<unsigned long>;

const std::wstring kSubject = L"\u4ef6\u540d";
const std::string kDate = "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\n";

Rule rule(const std::wstring& field, const std::wstring& keyword, unsigned long folder, uint32_t target) {
  return Rule{L"r", field, keyword, static_cast<uint32_t>(folder), target, 0};
}
std::string message(const std::string& from, const std::string& subject) {
  return "From: " + from + "\r\nTo: taro@example.jp\r\nCc: list@example.org\r\nSubject: " + subject + "\r\n" + kDate +
         "\r\nbody\r\n";
}

class ClassifierTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(createWorkWithTrays());
    std::unique_ptr<OxFolderInterface> root(storage_->OpenRootFolder());
    ASSERT_TRUE(root->CreateFolder(L"Lists", &lists_) && root->CreateFolder(L"Sales", &sales_) &&
                root->CreateFolder(L"Gone", &gone_));
    inbox_ = readKeys(*work_, OxAccountInfoInterface::Mask::ulJusinTrayID).ulJusinTrayID;
  }
  void setRules(const std::vector<Rule>& rules) {
    std::unique_ptr<OxClassificationParamInterface> p(work_->OpenClassificationParamInterface());
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
    const Ids before[] = {ids(inbox_), ids(lists_), ids(sales_)};
    EXPECT_TRUE(OxClassifier().SaveToFolder(text, "uid-1", false, work_.get())) << std::hex << GetOxMiddleError();
    const unsigned long folders[] = {inbox_, lists_, sales_};
    for (int i = 0; i < 3; ++i) {
      if (ids(folders[i]).size() == before[i].size() + 1) return folders[i];
    }
    return ~0ul;
  }
  unsigned long inbox_ = 0, lists_ = 0, sales_ = 0, gone_ = 0;
};

TEST_F(ClassifierTest, RulesMatchByFieldAndTargetInFileOrderAndSavesFailWhole) {
  // "Subject" is no field the rules know, and target 2 is never a received message: both come first and miss.
  setRules({rule(kSubject, L"SALE", sales_, 1), rule(L"Subject", L"weekly", sales_, 1), rule(kSubject, L"report", sales_, 2),
            rule(L"From", L"news desk", lists_, 1), rule(L"Cc", L"list@", lists_, 1),
            rule(L"X-ML-name", L"tokyo-users", lists_, 1), rule(kSubject, L"memo", sales_, 3)});
  const struct { std::string text; unsigned long folder; } cases[] = {
      {message("a@example.jp", "big sale today"), sales_},
      {"From: \"News Desk\" <desk@example.org>\r\nSubject: hello\r\n" + kDate + "\r\nx\r\n", lists_},  // the name
      {message("a@example.jp", "weekly report"), lists_},  // the Cc rule
      {"From: a@example.jp\r\nSubject: x\r\nX-ML-Name: tokyo-users\r\n" + kDate + "\r\nx\r\n", lists_},
      {"From: a@example.jp\r\nSubject: memo\r\n" + kDate + "\r\nx\r\n", sales_},
  };
  for (const auto& c : cases) EXPECT_EQ(save(c.text), c.folder) << c.text;
  // No account, a folder that is gone, what a received message is stored with, failed writes.
  std::string text = message("a@example.jp", "x");
  EXPECT_OXM_FAIL(OxClassifier().SaveToFolder(text, "u", false, nullptr), OXMDL_ERR_CLS_NO_ACCOUNT);
  setRules({rule(kSubject, L"lunch", gone_, 1)});
  ASSERT_TRUE(std::unique_ptr<OxFolderInterface>(storage_->OpenRootFolder())->RemoveFolder(gone_));
  EXPECT_EQ(save(message("a@example.jp", "Lunch?")), inbox_);
  const unsigned long id = ids(inbox_).back();
  EXPECT_TRUE(OxClassifier().MoveToFolder(id, work_.get())) << std::hex << GetOxMiddleError();
  EXPECT_EQ(ids(inbox_).back(), id);
  // A message of a kind that no rule takes part in is not read for its text.
  auto readsOfMove = [&] {
    fault::reset();
    EXPECT_TRUE(OxClassifier().MoveToFolder(id, work_.get())) << std::hex << GetOxMiddleError();
    return fault::calls(fault::Op::Read);
  };
  const long withRule = readsOfMove();
  setRules({rule(kSubject, L"lunch", gone_, 2)});  // target 2: messages not received
  EXPECT_LT(readsOfMove(), withRule);
  setRules({});
  text = message("\"Hanako\" <hanako@example.jp>", "hello");
  OxClassifier classifier;
  ASSERT_TRUE(classifier.SaveToFolder(text, "UIDL-0042", true, work_.get()));
  std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(ids(inbox_).back()));
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_FILE_MASK | OxMessageInterface::ATTR_HEADER_MASK;
  ASSERT_TRUE(m->GetAttributes(&a));
  EXPECT_EQ(std::make_tuple(a.numericAttribute, a.fromAddress, a.date.wHour), std::make_tuple(1u, L"hanako@example.jp", 0));
  {  // the same classifier given another account files by that account's rules into its storage
    ASSERT_TRUE(OxAccountCreator().CreateFolders(L"Home"));
    std::unique_ptr<OxAccountInfoInterface> home(open(L"Home"));
    std::unique_ptr<OxStorageInterface> homeStorage(home->OpenStorage());
    const unsigned long homeSent = readKeys(*home, OxAccountInfoInterface::Mask::ulSousinZumiTrayID).ulSousinZumiTrayID;
    std::unique_ptr<OxClassificationParamInterface> homeRules(home->OpenClassificationParamInterface());
    ASSERT_TRUE(homeRules && homeRules->SetAttributes({rule(kSubject, L"hello", homeSent, 1)}));
    std::unique_ptr<OxFolderInterface> f(homeStorage->OpenFolder(homeSent));
    const size_t workCount = ids(inbox_).size();
    ASSERT_TRUE(classifier.SaveToFolder(text, "h1", false, home.get()));
    Ids homeIds;
    EXPECT_TRUE(f->GetMessageIds(&homeIds));
    EXPECT_EQ(std::pair(homeIds.size(), ids(inbox_).size()), std::pair(size_t{1}, workCount));
  }
  fault::reset();  // a save that fails at any of its writes leaves no message behind and reports a code
  ASSERT_TRUE(classifier.SaveToFolder(text, "u0", false, work_.get()));
  const long writes = fault::calls(fault::Op::Write);
  ASSERT_GT(writes, 1);
  for (long n = 1; n <= writes; ++n) {
    const size_t before = ids(inbox_).size();
    text = message("a@example.jp", "write " + std::to_string(n));
    fault::failNth(fault::Op::Write, static_cast<int>(n), ERROR_ACCESS_DENIED);
    const bool saved = classifier.SaveToFolder(text, "u", false, work_.get());
    const unsigned code = GetOxMiddleError();
    fault::reset();
    EXPECT_EQ(ids(inbox_).size(), before + (saved ? 1 : 0)) << n;
    EXPECT_TRUE(saved || code != OXMDL_ERR_NONE) << n;
  }
}

}  // namespace
}  // namespace oxm::test
