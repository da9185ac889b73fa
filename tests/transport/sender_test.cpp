// The sender over a real Exim: an outbox of 50 with one recipient refused, the one-message forms,
// and the reasons a run does not start.
#include "transport/sender.h"

#include <set>

#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

TEST_F(SenderTest, OutboxOfFiftyWithTheTenthRecipientRefused) {
  for (int i = 1; i <= 50; ++i) add(outboxText(i, i == 10 ? "refused@example.jp" : "bob@example.jp"));
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 1);
  EXPECT_EQ(recorder_.count(1), 49);
  EXPECT_EQ(recorder_.count(0, SMTP_ADDRESS_ERR), 1);
  EXPECT_EQ(recorder_.count(2, 0) + recorder_.count(2, SENDER_CANCEL_ERROR), 0);
  EXPECT_EQ(recorder_.events.front(), (std::pair<int, unsigned>{4, 1}));
  EXPECT_EQ(recorder_.events.back(), (std::pair<int, unsigned>{3, 0}));
  EXPECT_EQ(texts(outbox_), std::vector<std::string>{outboxText(10, "refused@example.jp")}) << "left untouched";
  // Each filed copy is the delivered text, with its Message-Id and the line "." unstuffed.
  const std::vector<std::string> filed = texts(sent_);
  const auto delivered = exim_->deliveries(49);
  ASSERT_EQ(delivered.size(), 49u);
  std::multiset<std::string> wire, copies;
  for (const auto& d : delivered) wire.insert(d.data);
  for (const std::string& f : filed) {
    copies.insert(f + "\r\n");
    EXPECT_NE(f.find("\r\n.\r\nend\r\n"), std::string::npos);
    EXPECT_NE(f.find("Message-Id: <"), std::string::npos);
  }
  EXPECT_TRUE(wire == copies);
}

TEST_F(SenderTest, RunsThatDoNotStart) {
  add(outboxText(1));
  connmgr::failEstablish(CONNMGR_STATUS_CONNECTIONFAILED);
  EXPECT_EQ(sender_.SendMultiMail(account_.get(), &controller_, L""), 0);
  EXPECT_EQ(recorder_.events, (Events{{4, 1}, {2, SENDER_CONNECT_ERROR}}));
  connmgr::reset();
  recorder_.events.clear();
  EXPECT_EQ(sender_.SendMultiMail(nullptr, &controller_, L""), 0);
  EXPECT_EQ(recorder_.events, (Events{{2, SENDER_ACCOUNTINFO_ERROR}}));
}

TEST_F(SenderTest, OneMessageForms) {
  // A message record: encoded, sent and filed; the outbox is not touched.
  add(outboxText(7));
  Email mail;
  mail.from = L"alice@example.jp";
  mail.to = {L"carol@example.jp"};
  mail.subject = L"one";
  mail.body = L"one message\r\n";
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &mail, L""), 1);
  EXPECT_EQ(recorder_.events, (Events{{4, 1}, {4, 2}, {1, 0}}));
  auto got = exim_->deliveries(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rcptTo, "<carol@example.jp>");
  ASSERT_EQ(texts(sent_).size(), 1u);
  EXPECT_EQ(got[0].data, texts(sent_)[0] + "\r\n");
  EXPECT_EQ(texts(outbox_).size(), 1u);
  // An encoded message with its envelope: the caller's text comes back as it was.
  exim_->clear();
  std::string text = "Subject: raw\r\n\r\n.\r\n";
  RawEmail_S raw{"alice@example.jp", {"dave@example.jp"}, &text};
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &raw), 0);
  EXPECT_EQ(text, "Subject: raw\r\n\r\n.\r\n");
  got = exim_->deliveries(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, "Subject: raw\r\n\r\n.\r\n\r\n");
  EXPECT_EQ(texts(sent_).size(), 2u);
  // No room in the sent folder: the old-message check may not remove the two unread copies.
  recorder_.events.clear();
  OxAccountInfoInterface::Attributes a;
  a.bRemoveOldMessageEnabled = 1;
  a.ulRemoveOldMessageCnt = 1;
  a.mask = (uint64_t{1} << 23) | (uint64_t{1} << 24);
  ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  OxMessageInterface::Attributes unread;
  unread.mask = OxMessageInterface::ATTR_UNREAD;
  unread.flags[0] = 1;
  std::vector<unsigned long> ids;
  ASSERT_TRUE(std::unique_ptr<OxFolderInterface>(storage_->OpenFolder(sent_))->GetMessageIds(&ids));
  for (unsigned long id : ids) {
    ASSERT_TRUE(std::unique_ptr<OxMessageInterface>(storage_->OpenMessage(id))->SetAttributes(unread));
  }
  exim_->clear();
  EXPECT_EQ(sender_.SendOneMail(account_.get(), &mail, L""), 0);
  ASSERT_FALSE(recorder_.events.empty());
  EXPECT_EQ(recorder_.events.back(), (std::pair<int, unsigned>{2, SENDER_FREESPACE_ERROR}));
  EXPECT_TRUE(exim_->deliveries(0).empty());
}

}  // namespace
}  // namespace oxm::test
