// Header decoding: encoded words, addresses, the Date field and its replacement, the entry
// points' errors.
#include <vector>

#include "codec/emlcompose.h"
#include "codec/header_lines.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/memory.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;
using test::decode;

std::vector<std::wstring> v(const std::list<std::wstring>& l) { return {l.begin(), l.end()}; }

TEST_F(CodecTest, HeaderFieldsAndAddresses) {
  const Email e = decode(
      "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
      "To: a@example.jp, \"Doe, John\" <john@example.com>,\r\n"
      "\tc@example.jp (Carol)\r\n"
      "CC: \"Only\" <only@example.jp>\r\n"
      "Reply-To: \"Support\" <help@example.jp>\r\n"
      "Message-ID: <abc@example.jp>\r\n"
      "In-Reply-To: <r2@x>\r\n"
      "References: <r1@x>\r\n <r2@x>\r\n"
      "X-ML-Name: \"list\"\r\n"
      "X-Mailer: tamarin OxMail/1.40 (K-PRISM) [PictureMail]\r\n"
      "X-Feed-Download: 1\r\n"
      "Date: Tue, 4 Dec 2007 10:00:00 +0900\r\n"
      "\r\n"
      "body\r\n");
  EXPECT_EQ(e.from, L"yamada@example.jp");
  EXPECT_EQ(e.fromName, L"\"\u5c71\u7530\"") << "the decoded name keeps its double quotes";
  EXPECT_EQ(v(e.to), (std::vector<std::wstring>{L"a@example.jp", L"john@example.com", L"c@example.jp"}));
  EXPECT_EQ(v(e.cc), (std::vector<std::wstring>{L"only@example.jp"}));
  EXPECT_EQ(e.replyTo, L"help@example.jp");
  EXPECT_EQ(e.messageId, L"abc@example.jp");
  EXPECT_EQ(e.inReplyTo, L"r2@x");
  EXPECT_EQ(e.references, L"r2@x") << "the last bracketed id";
  EXPECT_EQ(e.mlName, L"list") << "quotes around the whole value go";
  EXPECT_TRUE(e.pictureMail);
  EXPECT_TRUE(e.feedDownload);
  EXPECT_EQ(e.feedDownloadValue, L"1");
  EXPECT_FALSE(e.feedMessage);
  EXPECT_EQ(e.body, L"body");
}

TEST_F(CodecTest, EncodedWords) {
  // Two words splitting one character decode to it, without a blank between them.
  EXPECT_EQ(decode("Subject: =?UTF-8?Q?=E6=97?=\n =?UTF-8?Q?=A5?=\n\n").subject, L"\u65e5");
  EXPECT_EQ(decode("Subject: Re: =?ISO-2022-JP?B?GyRCRnxL?= =?iso-2022-jp?b?XBsoQg==?=\n\n").subject,
            L"Re: \u65e5\u672c")
      << "a blank follows plain text; words of one run are joined before decoding";
  EXPECT_EQ(decode("Subject: =?iso-2022-jp?b?GyRCRnw=?= =?iso-2022-jp?b?S1wbKEI=?=\n\n").subject, L"\u65e5\u672c")
      << "each Base64 word decodes with its own padding";
  // A change of charset or encoding ends the run; the words still join without a blank.
  EXPECT_EQ(decode("Subject: =?UTF-8?Q?=E6=97=A5?==?EUC-JP?B?y9w=?=\n\n").subject, L"\u65e5\u672c");
  EXPECT_EQ(decode("Subject: a =?UTF-8?X?abc?= b\n\n").subject, L"a =?UTF-8?X?abc?= b")
      << "an unknown encoding stays as it was written";
  EXPECT_EQ(decode("Subject: a =?UTF-8?Q?abc\n\n").subject, L"a =?UTF-8?Q?abc") << "an unfinished word";
  EXPECT_EQ(decode("Subject: =?iso-8859-1?q?caf=E9_?=x\n\n").subject, L"caf\u3013x")
      << "other charsets stay as decoded bytes: 0xE9 reads as a lead, and with the blank as its "
         "trail it is no character";
  EXPECT_EQ(decode("Subject: \x1b$BF|\x1b(B\n\n").subject, L"\u65e5") << "undeclared JIS is detected";
  EXPECT_EQ(decode("Subject: \"quoted\"\n\n").subject, L"\"quoted\"") << "the subject keeps its quotes";
  EXPECT_EQ(decode("Subject: bad \x85\x40 pair\n\n").subject, L"bad \u3013 pair");
  // Without the blank rule (To, Cc, ...) plain text and words join as they are.
  EXPECT_EQ(decodeEncodedWords("x =?UTF-8?Q?y?= z", false), "xy z");
  EXPECT_EQ(decodeEncodedWords("=?UTF-8?Q?a=00b?=", false), "a") << "a decoded zero ends the word's text";
}

TEST_F(CodecTest, DateZonesAndShiftToDeviceTime) {
  Email e = decode("Date: Tue, 4 Dec 2007 10:00:00 +0900\n\n");
  EXPECT_EQ(e.date.wYear, 2007);
  EXPECT_EQ(e.date.wMonth, 12);
  EXPECT_EQ(e.date.wDay, 4);
  EXPECT_EQ(e.date.wDayOfWeek, 2);
  EXPECT_EQ(e.date.wHour, 10);
  EXPECT_EQ(e.date.wMinute, 0);
  EXPECT_EQ(e.timeZone, L"+0900");
  EXPECT_EQ(e.dateText, L"Tue, 4 Dec 2007 10:00:00 +0900");
  EXPECT_TRUE(e.synthesizedDate.empty());
  e = decode("Date: Tue, 4 Dec 2007 10:00:00 GMT\n\n");
  EXPECT_EQ(e.date.wHour, 19);
  EXPECT_EQ(e.timeZone, L"+0000");
  e = decode("Date: 4 Dec 2007 10:00:00 +900\n\n");
  EXPECT_EQ(e.timeZone, L"+0900");
  EXPECT_EQ(e.date.wHour, 10);
  // Comments go before anything is read; the shift carries into the next day.
  e = decode("Date: Tue, 4 Dec 2007 (a (nested) comment) 15:30:00 -0500 (EST)\n\n");
  EXPECT_EQ(e.dateText, L"Tue, 4 Dec 2007  15:30:00 -0500 ");
  EXPECT_EQ(e.timeZone, L"-0500");
  EXPECT_EQ(e.date.wDay, 5);
  EXPECT_EQ(e.date.wHour, 5);
  EXPECT_EQ(e.date.wMinute, 30);
  // Across a year; a named zone; blanks inside the time.
  e = decode("Date: Mon, 31 Dec 2007 20 : 15 : 09 EST\n\n");
  EXPECT_EQ(e.timeZone, L"-0500");
  EXPECT_EQ(e.date.wYear, 2008);
  EXPECT_EQ(e.date.wMonth, 1);
  EXPECT_EQ(e.date.wDay, 1);
  EXPECT_EQ(e.date.wHour, 10);
  EXPECT_EQ(e.date.wSecond, 9);
  // Military letters: a fixed shift, without the device's offset.
  e = decode("Date: 4 Dec 2007 10:00:00 Z\n\n");
  EXPECT_EQ(e.timeZone, L"Z");
  EXPECT_EQ(e.date.wHour, 10);
  e = decode("Date: 4 Dec 2007 10:00:00 N\n\n");
  EXPECT_EQ(e.date.wHour, 11);
  e = decode("Date: 4 Jul 2007 10:00:00 UTC\n\n");
  EXPECT_EQ(e.timeZone, L"+0000") << "UTC is not among the named zones, and gives +0000 all the same";
  EXPECT_EQ(e.date.wMonth, 7);
  EXPECT_EQ(e.date.wHour, 19);
  // Bounds as the device had them: hour 24 passes when there is nothing to move.
  e = decode("Date: 4 Jun 2007 24:00:00 +0900\n\n");
  EXPECT_EQ(e.date.wHour, 24);
  EXPECT_TRUE(e.synthesizedDate.empty());
}

TEST_F(CodecTest, BrokenDateIsReplacedByTheClock) {
  for (const char* bad : {"Date: garbage\n\n", "Date: 4 Dec 07 10:00:00 +0900\n\n", "Subject: no date\n\n"}) {
    const Email e = decode(bad);
    EXPECT_EQ(e.synthesizedDate, "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n") << bad;
    EXPECT_EQ(e.date.wYear, 2026);
    EXPECT_EQ(e.date.wHour, 12);
    EXPECT_EQ(e.timeZone, L"+0900");
  }
  EXPECT_TRUE(decode("X-Tmr-Rivulet\nDate: garbage\n\n").synthesizedDate.empty()) << "feed items keep theirs";

  EmlCompose c;
  Email e;
  std::string raw = "From: a@b\r\nDate: broken\r\nSubject: s\r\n\r\nbody";
  ASSERT_TRUE(c.DecodeForSave(&e, &raw));
  EXPECT_EQ(raw, "From: a@b\r\nDate: Fri, 02 Jan 2026 12:04:05 +0900\r\nSubject: s\r\n\r\nbody");
  raw = "From: a@b\r\n\r\nbody";
  ASSERT_TRUE(c.DecodeForSave(&e, &raw));
  EXPECT_EQ(raw, "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\nFrom: a@b\r\n\r\nbody");
  raw = "Date: Tue, 4 Dec 2007 10:00:00 +0900\r\n\r\nbody";
  ASSERT_TRUE(c.DecodeForSave(&e, &raw));
  EXPECT_EQ(raw, "Date: Tue, 4 Dec 2007 10:00:00 +0900\r\n\r\nbody") << "a usable Date stays";
}

TEST_F(CodecTest, EntryPointErrors) {
  EmlCompose c;
  Email e;
  e.subject = L"untouched";
  const std::string raw = "Subject: s\r\n\r\nb";
  EXPECT_FALSE(c.Decode(nullptr, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_FALSE(c.Decode(&e, nullptr));
  EXPECT_EQ(c.GetErrorInfo(), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_FALSE(c.DecodeHeader(&e, nullptr));
  // Free memory must exceed max(2 x length, 1 MiB).
  setFixedAvailPhys(1048576);
  EXPECT_FALSE(c.Decode(&e, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(e.subject, L"untouched");
  setFixedAvailPhys(1048577);
  EXPECT_TRUE(c.Decode(&e, &raw));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  setFixedAvailPhys(std::nullopt);
  // A failing heap probe ends the decode with the memory code and the caution lines.
  // (The text itself passes; the wide body, twice as large, does not.)
  setHeapProbeLimit(100000);
  debugCaptureStart();
  const std::string big = "Subject: big\n\n" + std::string(60000, 'x');
  EXPECT_FALSE(c.Decode(&e, &big));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(debugCaptured(),
            L"[EML] CAUTION !! ------->\r\n[EML] Cannot alloc Heap Memory\r\n[EML] alloc size :[120000]\r\n"
            L"[EML] CAUTION !! <-------\r\n");
  EXPECT_EQ(e.subject, L"big") << "what was decoded before stays";
  EXPECT_EQ(e.body, L"");
  debugCaptureStop();
  setHeapProbeLimit(std::nullopt);
  // A message without an empty line has no body and still decodes.
  const std::string headOnly = "Subject: only a header";
  EXPECT_TRUE(c.Decode(&e, &headOnly));
  EXPECT_EQ(e.subject, L"only a header");
  EXPECT_EQ(e.body, L"");
}

TEST_F(CodecTest, HeaderOnlyAndFieldLookup) {
  EmlCompose c;
  Email e;
  e.senderLabel = L"kept";
  e.subject = L"cleared";
  const std::string raw = "Subject: =?UTF-8?Q?a?=\r\n  b\r\nTo: x@y\r\n\r\nTo: body@line\r\n";
  ASSERT_TRUE(c.DecodeHeader(&e, &raw));
  EXPECT_EQ(e.subject, L"a  b");
  EXPECT_EQ(v(e.to), (std::vector<std::wstring>{L"x@y"}));
  EXPECT_EQ(e.senderLabel, L"kept");
  std::string out = "untouched";
  ASSERT_TRUE(c.GetHeaderField(raw, "SUBJECT", &out));
  EXPECT_EQ(out, "a  b");
  ASSERT_TRUE(c.GetHeaderField(raw, "to:", &out));
  EXPECT_EQ(out, "x@y") << "the body's line is not a header field";
  EXPECT_FALSE(c.GetHeaderField(raw, "Cc", &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NO_HEADER);
  EXPECT_FALSE(c.GetHeaderField(raw, "To", nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
  ASSERT_TRUE(c.GetHeader(raw, &out));
  EXPECT_EQ(out, "Subject: =?UTF-8?Q?a?=\r\n  b\r\nTo: x@y");
  out = "untouched";
  EXPECT_FALSE(c.GetHeader("no end\r\n", &out));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NO_HEADER);
  EXPECT_EQ(out, "untouched");
}

TEST_F(CodecTest, SingleAddressRules) {
  EmlCompose c;
  std::wstring address, name;
  struct Case {
    const wchar_t* in;
    const wchar_t* address;
    const wchar_t* name;
  } cases[] = {
      {L"\"Doe, John\" <john@example.com>", L"john@example.com", L"Doe, John"},
      {L"(Jane) <jane@x>", L"jane@x", L"Jane"},
      {L"jane@x (Jane Doe)", L"jane@x", L"Jane Doe"},
      {L"jane@x \"Jane\"", L"jane@x", L"Jane"},
      {L"<only@x>", L"only@x", L""},
      {L"  plain@x  ", L"plain@x", L""},
      {L"a <b> <c@x>", L"c@x", L"a <b>"},
  };
  for (const Case& k : cases) {
    ASSERT_TRUE(c.ParseAddress(k.in, &address, &name));
    EXPECT_EQ(address, k.address) << k.in;
    EXPECT_EQ(name, k.name) << k.in;
  }
  std::string a, n;
  ASSERT_TRUE(c.ParseAddress_S("\"\x8e\x52\x93\x63\" <y@x>", &a, &n));
  EXPECT_EQ(a, "y@x");
  EXPECT_EQ(n, "\x8e\x52\x93\x63");
  EXPECT_FALSE(c.ParseAddress_S("x", nullptr, &n));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_NULL_ARG);
}

TEST_F(CodecTest, OversizeNoticeAndSummary) {
  const Email e = decode("X-Oversize-Oxmail: 1\n\n");
  EXPECT_EQ(e.body.size(), 75u);
  EXPECT_EQ(e.body.substr(0, 7), L"\u3053\u306e\u30e1\u30c3\u30bb\u30fc\u30b8");
  EXPECT_EQ(e.body.substr(e.body.size() - 3), L"\u305b\u3093\u3002");
  EmlCompose c;
  Email s;
  const std::string raw = "Subject: s\n\n" + std::string(300, 'x');
  ASSERT_TRUE(c.DecodeSimple(&s, &raw, -1));
  EXPECT_EQ(s.body, std::wstring(281, L'x'));
  EXPECT_TRUE(s.summaryOnly);
  ASSERT_TRUE(c.DecodeSimple(&s, &raw, 10));
  EXPECT_EQ(s.body, std::wstring(10, L'x'));
}

}  // namespace
}  // namespace oxm
