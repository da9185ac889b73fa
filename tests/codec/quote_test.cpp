// Drafts of replies, replies to all, follow-ups and forwards, and drafts from mailto URLs.
#include "codec/emlcompose.h"
#include "codec/quote_email.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;

const std::wstring kOwn = L"me@example.jp";

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
  m.inReplyTo = L"id0@example.jp";
  m.references = L"id0@example.jp";
  Enclosure a;
  a.name = L"a.jpg";
  Enclosure b;
  b.name = L"b.jpg";
  Enclosure c;
  c.name = L"c.pdf";
  m.enclosures = {a, b, c};
  return m;
}

std::vector<std::wstring> names(const std::list<Enclosure>& list) {
  std::vector<std::wstring> out;
  for (const Enclosure& e : list) out.push_back(e.name);
  return out;
}

TEST_F(CodecTest, ReplyAddressesSubjectAndQuotedBody) {
  QuoteEmail quote;
  Email m = received();
  ASSERT_TRUE(quote.Convertmaildata(QuoteEmail::REPLY, kOwn, &m));
  EXPECT_EQ(m.from, kOwn);
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"taro@example.jp"}));
  EXPECT_TRUE(m.cc.empty());
  EXPECT_TRUE(m.bcc.empty());
  EXPECT_EQ(m.subject, L"Re: Lunch");
  EXPECT_EQ(m.body, L"2026年01月02日09時08分07秒\r\n\"Taro\"さんは書きました。\r\n>line 1\r\n>line 2\r\n")
      << "each line quoted, the final line end not followed by a \">\"";
  EXPECT_EQ(m.messageId, L"id1@example.jp") << "kept, so that the encoder writes In-Reply-To";
  EXPECT_TRUE(m.enclosures.empty()) << "a reply carries no enclosures";

  // Reply-To wins over From; a subject already starting "RE:" stays; "Fw:" gets "Re: ".
  m = received();
  m.replyTo = L"list@example.jp";
  m.subject = L"RE: Lunch";
  m.fromName.clear();
  quote.Convertmaildata(QuoteEmail::REPLY, kOwn, &m);
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"list@example.jp"}));
  EXPECT_EQ(m.subject, L"RE: Lunch");
  EXPECT_TRUE(m.body.find(L"taro@example.jpさんは") != std::wstring::npos) << "the sender's address without a name";
  EXPECT_TRUE(m.replyTo.empty());
  m = received();
  m.subject = L"Fw: Lunch";
  m.senderLabel = L"太郎";
  quote.Convertmaildata(QuoteEmail::REPLY, kOwn, &m);
  EXPECT_EQ(m.subject, L"Re: Fw: Lunch");
  EXPECT_TRUE(m.body.find(L"秒\r\n太郎さんは") != std::wstring::npos) << "the caller's label comes first";

  // Reply to all: the old To list then the old Cc list, the user's own address not removed.
  m = received();
  quote.Convertmaildata(QuoteEmail::REPLY_ALL, kOwn, &m);
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"taro@example.jp"}));
  EXPECT_EQ(m.cc, (std::list<std::wstring>{L"me@example.jp", L"jiro@example.jp", L"saburo@example.jp"}));

  // A two-line body whose lines end in CR LF, without a final one after the second.
  std::wstring body = L"a\r\nb";
  quote.Editmail_bodydata(QuoteEmail::REPLY, L"D\r\n", L"N", &body);
  EXPECT_EQ(body, L"D\r\nNさんは書きました。\r\n>a\r\n>b");
  body = L"unchanged";
  quote.Editmail_bodydata(9, L"D\r\n", L"N", &body);
  EXPECT_EQ(body, L"unchanged") << "an unknown kind";
}

TEST_F(CodecTest, ForwardsAndFollowUps) {
  QuoteEmail quote;
  Email m = received();
  quote.Convertmaildata(QuoteEmail::FORWARD, kOwn, &m);
  EXPECT_TRUE(m.to.empty() && m.cc.empty() && m.bcc.empty());
  EXPECT_EQ(m.subject, L"Fw: Lunch");
  EXPECT_EQ(m.body,
            L"2026年01月02日09時08分07秒\r\n\"Taro\"さんが送信したメールを転送します。\r\n"
            L"----Forwarded Message\r\n>line 1\r\n>line 2\r\n\r\n----End of Forwarded Message\r\n");
  EXPECT_TRUE(m.messageId.empty() && m.inReplyTo.empty() && m.references.empty()) << "a forward is no reply";
  EXPECT_EQ(names(m.enclosures), (std::vector<std::wstring>{L"a.jpg", L"b.jpg", L"c.pdf"})) << "all travel";

  m = received();
  m.subject = L"Fw: Lunch";
  quote.Convertmaildata(QuoteEmail::FORWARD_SENT, kOwn, &m);
  EXPECT_EQ(m.subject, L"Fw: Fw: Lunch");
  EXPECT_EQ(m.body,
            L"2026年01月02日09時08分07秒\r\n\"Taro\"が送信したメールを転送します。\r\n"
            L"----Forwarded Message\r\n>line 1\r\n>line 2\r\n\r\n----End of Forwarded Message\r\n");

  for (int kind : {QuoteEmail::FOLLOW_UP, QuoteEmail::FOLLOW_UP_2}) {
    m = received();
    quote.Convertmaildata(kind, kOwn, &m);
    EXPECT_EQ(m.to, (std::list<std::wstring>{L"me@example.jp", L"jiro@example.jp"}));
    EXPECT_EQ(m.cc, (std::list<std::wstring>{L"saburo@example.jp"}));
    EXPECT_EQ(m.bcc, (std::list<std::wstring>{L"hidden@example.jp"}));
    EXPECT_EQ(m.from, kOwn);
    EXPECT_EQ(m.subject, L"Re: Lunch");
    EXPECT_EQ(m.body, L"\"Taro\"が2026年01月02日09時08分07秒\r\nに送信したメールのフォローです。\r\n>line 1\r\n>line 2\r\n");
  }

  m = received();
  EXPECT_TRUE(quote.Convertmaildata(42, kOwn, &m));
  EXPECT_EQ(m.subject, L"Lunch");
  EXPECT_EQ(m.body, L"line 1\r\nline 2\r\n");
  EXPECT_EQ(m.from, kOwn);
  EXPECT_TRUE(m.to.empty());
  EXPECT_FALSE(quote.Convertmaildata(QuoteEmail::REPLY, kOwn, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
}

TEST_F(CodecTest, EnclosuresOfDraftsAndTheFilesIdList) {
  QuoteEmail quote;
  Email m = received();
  m.pictureMail = true;
  quote.Convertmaildata(QuoteEmail::REPLY, kOwn, &m);
  EXPECT_EQ(names(m.enclosures), (std::vector<std::wstring>{L"a.jpg"})) << "a picture mail keeps its first picture";
  EXPECT_TRUE(m.relatedFiles.empty()) << "no FilesID value";

  const wchar_t* const key = L"Software\\Tamarin\\OxMail";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, key, L"FilesID", L"2:0;2"));
  m = received();
  quote.Convertmaildata(QuoteEmail::REPLY, kOwn, &m);
  EXPECT_TRUE(m.enclosures.empty());
  EXPECT_EQ(names(m.relatedFiles), (std::vector<std::wstring>{L"a.jpg", L"c.pdf"})) << "positions of the original";
  m = received();
  quote.Convertmaildata(QuoteEmail::FORWARD, kOwn, &m);
  EXPECT_EQ(m.enclosures.size(), 3u);
  EXPECT_EQ(names(m.relatedFiles), (std::vector<std::wstring>{L"a.jpg", L"c.pdf"}));
  // Unusable lists change nothing: fewer numbers than the count, a zero count, no colon.
  for (const wchar_t* value : {L"2:1", L"0:1", L"1", L"1:x", L"3:0,1,9"}) {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, key, L"FilesID", value));
    m = received();
    quote.Convertmaildata(QuoteEmail::FORWARD, kOwn, &m);
    if (std::wstring(value) == L"3:0,1,9")
      EXPECT_EQ(names(m.relatedFiles), (std::vector<std::wstring>{L"a.jpg", L"b.jpg"})) << "9 is past the list";
    else
      EXPECT_TRUE(m.relatedFiles.empty()) << value;
  }
  // Without enclosures the list is not looked at.
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, key, L"FilesID", L"1:0"));
  m = received();
  m.enclosures.clear();
  quote.Convertmaildata(QuoteEmail::FORWARD, kOwn, &m);
  EXPECT_TRUE(m.relatedFiles.empty());
}

TEST_F(CodecTest, MailtoUrls) {
  EmlCompose codec;
  Email m;
  ASSERT_TRUE(codec.ParseMailto("mailto:taro%40example.jp?subject=Hello&body=a%20b", &m));
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"taro@example.jp"}));
  EXPECT_EQ(m.subject, L"Hello");
  EXPECT_EQ(m.body, L"a b");

  // "?" right after the scheme: the addresses come from the parameters only; names compare
  // without case; a later subject wins; unknown parameters are ignored.
  ASSERT_TRUE(codec.ParseMailto("MAILTO:?To=a@example.jp&cc=b@example.jp,c@example.jp&BCC=d@example.jp"
                                "&subject=one&x-foo=bar&subject=%93%FA%96%7B",
                                &m));
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"a@example.jp"}));
  EXPECT_EQ(m.cc, (std::list<std::wstring>{L"b@example.jp", L"c@example.jp"}));
  EXPECT_EQ(m.bcc, (std::list<std::wstring>{L"d@example.jp"}));
  EXPECT_EQ(m.subject, L"日本") << "percent escapes of Shift_JIS text";
  EXPECT_TRUE(m.body.empty()) << "the record was cleared";

  // Addresses are split like a header: a comma inside quotes does not split.
  ASSERT_TRUE(codec.ParseMailto("mailto:%22Doe%2C%20J%22%20%3Cj@example.jp%3E,k@example.jp?to=l@example.jp", &m));
  EXPECT_EQ(m.to, (std::list<std::wstring>{L"j@example.jp", L"k@example.jp", L"l@example.jp"}));

  m.subject = L"old";
  EXPECT_FALSE(codec.ParseMailto("http://example.jp/", &m));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_DECODE);
  EXPECT_TRUE(m.subject.empty() && m.to.empty());
  EXPECT_FALSE(codec.ParseMailto("mailt", &m));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_DECODE);
  EXPECT_FALSE(codec.ParseMailto("mailto:a@example.jp", nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_TRUE(codec.ParseMailto("mailto:", &m));
  EXPECT_TRUE(m.to.empty());
}

}  // namespace
}  // namespace oxm
