// Drafts of replies, replies to all, follow-ups and forwards, and drafts from mailto URLs.
#include "codec/quote_email.h"
#include "frame/registry_value.h"
#include "tests/codec/codec_fixture.h"
#include "tests/codec/encode_cases.h"

namespace oxm {
namespace {

using namespace test;
using Names = std::vector<std::wstring>;
using Addresses = std::list<std::wstring>;

const std::wstring kOwn = L"me@example.jp";
const std::wstring kQuoted = L">line 1\r\n>line 2\r\n";
const std::wstring kForwarded =
    L"メールを転送します。\r\n----Forwarded Message\r\n" + kQuoted + L"\r\n----End of Forwarded Message\r\n";

Email received() {
  Email m;
  m.from = L"taro@example.jp";
  m.fromName = L"\"Taro\"";
  m.to = {L"me@example.jp", L"jiro@example.jp"};
  m.cc = {L"saburo@example.jp"};
  m.bcc = {L"hidden@example.jp"};
  m.subject = L"Lunch";
  m.body = L"line 1\r\nline 2\r\n";
  m.date = SYSTEMTIME{2026, 1, 5, 2, 9, 8, 7, 0};
  m.messageId = L"id1@example.jp";
  m.inReplyTo = m.references = L"id0@example.jp";
  for (const wchar_t* name : {L"a.jpg", L"b.jpg", L"c.pdf"}) m.enclosures.push_back(attachment(L"", name));
  return m;
}

// The received message turned into a draft of `kind`, changed first by `change`.
Email draft(int kind, void (*change)(Email&) = nullptr) {
  Email m = received();
  if (change) change(m);
  EXPECT_TRUE(QuoteEmail().Convertmaildata(kind, kOwn, &m));
  return m;
}

// "To|Cc|Bcc|Subject" of a draft, each list comma-separated.
std::wstring head(const Email& m) {
  std::wstring s;
  for (const Addresses* list : {&m.to, &m.cc, &m.bcc}) {
    for (const std::wstring& a : *list) s += (s.empty() || s.back() == L'|' ? L"" : L",") + a;
    s += L"|";
  }
  return s + m.subject;
}

TEST_F(CodecTest, ReplyAddressesSubjectAndQuotedBody) {
  Email m = draft(QuoteEmail::REPLY);
  EXPECT_EQ(m.from, kOwn);
  EXPECT_EQ(head(m), L"taro@example.jp|||Re: Lunch");
  EXPECT_EQ(m.body, L"2026年01月02日09時08分07秒\r\n\"Taro\"さんは書きました。\r\n" + kQuoted)
      << "each line quoted, the final line end not followed by a \">\"";
  EXPECT_EQ(m.messageId, L"id1@example.jp") << "kept, so that the encoder writes In-Reply-To";
  EXPECT_TRUE(m.enclosures.empty()) << "a reply carries no enclosures";

  // Reply-To wins over From; a subject already starting "RE:" stays; "Fw:" gets "Re: ".
  m = draft(QuoteEmail::REPLY, [](Email& r) {
    r.replyTo = L"list@example.jp";
    r.subject = L"RE: Lunch";
    r.fromName.clear();
  });
  EXPECT_EQ(head(m), L"list@example.jp|||RE: Lunch");
  EXPECT_NE(m.body.find(L"taro@example.jpさんは"), std::wstring::npos) << "the sender's address without a name";
  EXPECT_TRUE(m.replyTo.empty());
  m = draft(QuoteEmail::REPLY, [](Email& r) {
    r.subject = L"Fw: Lunch";
    r.senderLabel = L"太郎";
  });
  EXPECT_EQ(m.subject, L"Re: Fw: Lunch");
  EXPECT_NE(m.body.find(L"秒\r\n太郎さんは"), std::wstring::npos) << "the caller's label comes first";


  // A two-line body whose lines end in CR LF, without a final one after the second.
  QuoteEmail quote;
  std::wstring body = L"a\r\nb";
  quote.Editmail_bodydata(QuoteEmail::REPLY, L"D\r\n", L"N", &body);
  EXPECT_EQ(body, L"D\r\nNさんは書きました。\r\n>a\r\n>b");
  body = L"unchanged";
  quote.Editmail_bodydata(9, L"D\r\n", L"N", &body);
  EXPECT_EQ(body, L"unchanged") << "an unknown kind";
}

TEST_F(CodecTest, ForwardsAndFollowUps) {
  Email m = draft(QuoteEmail::FORWARD);
  EXPECT_EQ(head(m), L"|||Fw: Lunch");
  EXPECT_EQ(m.body, L"2026年01月02日09時08分07秒\r\n\"Taro\"さんが送信した" + kForwarded);
  EXPECT_TRUE(m.messageId.empty() && m.inReplyTo.empty() && m.references.empty()) << "a forward is no reply";
  EXPECT_EQ(names(m.enclosures, false), (Names{L"a.jpg", L"b.jpg", L"c.pdf"})) << "all travel";

  m = draft(QuoteEmail::FORWARD_SENT, [](Email& r) { r.subject = L"Fw: Lunch"; });
  EXPECT_EQ(m.subject, L"Fw: Fw: Lunch");
  EXPECT_EQ(m.body, L"2026年01月02日09時08分07秒\r\n\"Taro\"が送信した" + kForwarded);

  for (int kind : {QuoteEmail::FOLLOW_UP, QuoteEmail::FOLLOW_UP_SENT}) {
    m = draft(kind);
    EXPECT_EQ(head(m), L"me@example.jp,jiro@example.jp|saburo@example.jp|hidden@example.jp|Re: Lunch");
    EXPECT_EQ(m.from, kOwn);
    EXPECT_EQ(m.body, L"\"Taro\"が2026年01月02日09時08分07秒\r\nに送信したメールのフォローです。\r\n" + kQuoted);
  }

  m = draft(42);
  EXPECT_EQ(head(m) + L"|" + m.body + L"|" + m.from, L"|||Lunch|line 1\r\nline 2\r\n|" + kOwn);
  EXPECT_EQ(failure(QuoteEmail().Convertmaildata(QuoteEmail::REPLY, kOwn, nullptr)), OXMDL_ERR_MIME_NULL_ARG);
}

TEST_F(CodecTest, EnclosuresOfDraftsAndTheFilesIdList) {
  Email m = draft(QuoteEmail::REPLY, [](Email& r) { r.pictureMail = true; });
  EXPECT_EQ(names(m.enclosures, false), Names{L"a.jpg"}) << "a picture mail keeps its first picture";
  EXPECT_TRUE(m.relatedFiles.empty()) << "no FilesID value";

  const auto filesId = [](const wchar_t* value) {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", L"FilesID", value));
  };
  filesId(L"2:0;2");
  m = draft(QuoteEmail::REPLY);
  EXPECT_TRUE(m.enclosures.empty());
  EXPECT_EQ(names(m.relatedFiles, false), (Names{L"a.jpg", L"c.pdf"})) << "positions of the original";
  m = draft(QuoteEmail::FORWARD);
  EXPECT_EQ(m.enclosures.size(), 3u);
  // Unusable lists change nothing: fewer numbers than the count, a zero count, no colon; a
  // number past the list is skipped.
  for (const auto& [value, related] : std::vector<std::pair<const wchar_t*, Names>>{
           {L"2:1", {}}, {L"0:1", {}}, {L"1", {}}, {L"1:x", {}}, {L"3:0,1,9", {L"a.jpg", L"b.jpg"}}}) {
    filesId(value);
    EXPECT_EQ(names(draft(QuoteEmail::FORWARD).relatedFiles, false), related) << value;
  }
  filesId(L"1:0");
  EXPECT_TRUE(draft(QuoteEmail::FORWARD, [](Email& r) { r.enclosures.clear(); }).relatedFiles.empty())
      << "without enclosures the list is not looked at";
}

TEST_F(CodecTest, MailtoUrls) {
  EmlCompose codec;
  Email m;
  ASSERT_TRUE(codec.ParseMailto("mailto:taro%40example.jp?body=a%20b", &m));
  EXPECT_EQ(head(m) + L"|" + m.body, L"taro@example.jp||||a b");
  // "?" right after the scheme: the addresses come from the parameters only; names compare
  // without case; a later subject wins; unknown parameters are ignored.
  ASSERT_TRUE(codec.ParseMailto("MAILTO:?To=a@example.jp&cc=b@example.jp,c@example.jp&BCC=d@example.jp"
                                "&subject=one&x-foo=bar&subject=%93%FA%96%7B",
                                &m));
  EXPECT_EQ(head(m), L"a@example.jp|b@example.jp,c@example.jp|d@example.jp|日本") << "percent escapes of Shift_JIS text";
  EXPECT_TRUE(m.body.empty()) << "the record was cleared";
  // Addresses are split like a header: a comma inside quotes does not split.
  ASSERT_TRUE(codec.ParseMailto("mailto:%22Doe%2C%20J%22%20%3Cj@example.jp%3E,k@example.jp?to=l@example.jp", &m));
  EXPECT_EQ(m.to, (Addresses{L"j@example.jp", L"k@example.jp", L"l@example.jp"}));

  m.subject = L"old";
  EXPECT_EQ(failure(codec.ParseMailto("http://example.jp/", &m)), OXMDL_ERR_MIME_DECODE);
  EXPECT_TRUE(m.subject.empty() && m.to.empty());
  EXPECT_EQ(failure(codec.ParseMailto("mailt", &m)), OXMDL_ERR_MIME_DECODE);
  EXPECT_EQ(failure(codec.ParseMailto("mailto:a@example.jp", nullptr)), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_TRUE(codec.ParseMailto("mailto:", &m));
}

}  // namespace
}  // namespace oxm
