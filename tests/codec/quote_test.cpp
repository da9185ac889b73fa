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

// The received message turned into a draft of `kind`, changed first by `change`.
Email draft(int kind, void (*change)(Email&) = nullptr) {
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

TEST_F(CodecTest, DraftsOfEachKindAndFromMailtoUrls) {
  const std::wstring date = L"2026年01月02日09時08分07秒\r\n", quoted = L">line 1\r\n>line 2\r\n";
  const std::wstring forwarded =
      L"メールを転送します。\r\n----Forwarded Message\r\n" + quoted + L"\r\n----End of Forwarded Message\r\n";
  const std::wstring reply = date + L"\"Taro\"さんは書きました。\r\n" + quoted;
  const std::wstring followUp = L"\"Taro\"が" + date + L"に送信したメールのフォローです。\r\n" + quoted;
  const std::wstring keptHead = L"me@example.jp,jiro@example.jp|saburo@example.jp|hidden@example.jp|Re: Lunch";
  const Names all{L"a.jpg", L"b.jpg", L"c.pdf"};
  const struct { int kind; void (*change)(Email&); std::wstring head, body; Names enclosures; } cases[] = {
      {QuoteEmail::REPLY, nullptr, L"taro@example.jp|||Re: Lunch", reply, {}},
      {QuoteEmail::REPLY,
       [](Email& r) {
         r.replyTo = L"list@example.jp";
         r.subject = L"RE: Lunch";
         r.fromName.clear();
       },
       L"list@example.jp|||RE: Lunch", date + L"taro@example.jpさんは書きました。\r\n" + quoted, {}},
      {QuoteEmail::REPLY,
       [](Email& r) {
         r.subject = L"Fw: Lunch";
         r.senderLabel = L"太郎";
         r.pictureMail = true;
       },
       L"taro@example.jp|||Re: Fw: Lunch", date + L"太郎さんは書きました。\r\n" + quoted, {L"a.jpg"}},
      {QuoteEmail::FORWARD, nullptr, L"|||Fw: Lunch", date + L"\"Taro\"さんが送信した" + forwarded, all},
      {QuoteEmail::FORWARD_SENT, [](Email& r) { r.subject = L"Fw: Lunch"; }, L"|||Fw: Fw: Lunch",
       date + L"\"Taro\"が送信した" + forwarded, all},
      {QuoteEmail::FOLLOW_UP, nullptr, keptHead, followUp, {}},
      {QuoteEmail::FOLLOW_UP_SENT, nullptr, keptHead, followUp, {}},
      {42, nullptr, L"|||Lunch", L"line 1\r\nline 2\r\n", all},
  };
  for (const auto& k : cases) {
    const Email m = draft(k.kind, k.change);
    EXPECT_EQ(head(m) + L"|" + m.from + L"|" + m.replyTo, k.head + L"|" + kOwn + L"|") << k.kind;
    EXPECT_EQ(m.body, k.body) << k.kind;
    EXPECT_EQ(names(m.enclosures, false), k.enclosures) << k.kind;
    const bool forward = k.kind == QuoteEmail::FORWARD || k.kind == QuoteEmail::FORWARD_SENT;
    EXPECT_EQ(m.messageId + m.inReplyTo + m.references, forward ? L"" : L"id1@example.jpid0@example.jpid0@example.jp");
  }
  // "FilesID": the original's enclosures at the listed positions become related files.
  for (const auto& [value, related] : std::vector<std::pair<const wchar_t*, Names>>{
           {L"3:0;2,9", {L"a.jpg", L"c.pdf"}}, {L"2:1", {}}, {L"0:1", {}}, {L"1", {}}, {L"1:x", {}}, {L"1:0", {L"a.jpg"}}}) {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", L"FilesID", value));
    const Email m = draft(QuoteEmail::REPLY);
    EXPECT_EQ(names(m.relatedFiles, false), related) << value << ": positions of the original";
  }
  EXPECT_TRUE(draft(QuoteEmail::FORWARD, [](Email& r) { r.enclosures.clear(); }).relatedFiles.empty())
      << "without enclosures \"1:0\" is not looked at";
  Email m;
  ASSERT_TRUE(codec_.ParseMailto("MAILTO:?To=a@example.jp&cc=b@example.jp,c@example.jp&BCC=d@example.jp"
                                "&subject=one&x-foo=bar&subject=%93%FA%96%7B",
                                &m));
  EXPECT_EQ(head(m) + L"|" + m.body, L"a@example.jp|b@example.jp,c@example.jp|d@example.jp|日本|")
      << "parameters only; names without case; the later subject";
  ASSERT_TRUE(codec_.ParseMailto("mailto:%22Doe%2C%20J%22%20%3Cj@example.jp%3E,k@example.jp?to=l@example.jp", &m));
  EXPECT_EQ(m.to, (Addresses{L"j@example.jp", L"k@example.jp", L"l@example.jp"})) << "a quoted comma";
  EXPECT_EQ(failure(codec_.ParseMailto("http://example.jp/", &m)), OXMDL_ERR_MIME_DECODE);
  EXPECT_TRUE(m.to.empty()) << "cleared on failure too";
  EXPECT_TRUE(codec_.ParseMailto("mailto:", &m));
}

}  // namespace
}  // namespace oxm
