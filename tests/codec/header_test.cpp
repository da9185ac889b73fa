// Header decoding: encoded words, addresses, dates, entry-point errors, lookups, oversize notice.
#include "codec/header_lines.h"
#include "platform/debug.h"
#include "platform/memory.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;
using Names = std::vector<std::wstring>;

TEST_F(CodecTest, HeaderFieldsAddressesAndEncodedWords) {
  const Email e = decode(
      "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@x>\nTo: a@x, \"Doe, John\" <john@y>,\n\tc@x (Carol)\n"
      "CC: \"Only\" <only@x>\nReply-To: \"Support\" <help@x>\nMessage-ID: <abc@x>\nIn-Reply-To: <r2@x>\n"
      "References: <r1@x>\n <r2@x>\nX-ML-Name: \"list\"\nX-Mailer: tamarin OxMail [PictureMail]\nX-Feed-Download: 1\n\n");
  EXPECT_EQ(e.from + L"|" + e.fromName + L"|" + e.replyTo + L"|" + e.messageId + L"|" + e.inReplyTo + L"|" +
                e.references + L"|" + e.mlName + L"|" + e.feedDownloadValue,
            L"yamada@x|\"\u5c71\u7530\"|help@x|abc@x|r2@x|r2@x|list|1");
  EXPECT_EQ(vec(e.to), (Names{L"a@x", L"john@y", L"c@x"}));
  EXPECT_EQ(vec(e.cc), (Names{L"only@x"}));
  EXPECT_TRUE(e.pictureMail && e.feedDownload);
  std::wstring address, name;
  const struct { const wchar_t *in, *address, *name; } addresses[] = {
      {L"(Jane) <jane@x>", L"jane@x", L"Jane"}, {L"jane@x (Jane Doe)", L"jane@x", L"Jane Doe"},
      {L"jane@x \"Jane\"", L"jane@x", L"Jane"}, {L"<only@x>", L"only@x", L""},
      {L"  plain@x  ", L"plain@x", L""}, {L"a <b> <c@x>", L"c@x", L"a <b>"},
  };
  for (const auto& k : addresses) {
    ASSERT_TRUE(codec_.ParseAddress(k.in, &address, &name));
    EXPECT_EQ(address + L"|" + name, std::wstring(k.address) + L"|" + k.name) << k.in;
  }
  const struct { const char* subject; const wchar_t* decoded; const char* why; } cases[] = {
      {"=?UTF-8?Q?=E6=97?=\n =?UTF-8?Q?=A5?=", L"\u65e5", "two words splitting one character, no blank between"},
      {"Re: =?ISO-2022-JP?B?GyRCRnxL?= =?iso-2022-jp?b?XBsoQg==?=", L"Re: \u65e5\u672c", "a run joined, then decoded"},
      {"=?iso-2022-jp?b?GyRCRnw=?= =?iso-2022-jp?b?S1wbKEI=?=", L"\u65e5\u672c", "each word has its own padding"},
      {"=?UTF-8?Q?=E6=97=A5?==?EUC-JP?B?y9w=?=", L"\u65e5\u672c", "a change of charset ends the run, no blank"},
      {"a =?UTF-8?X?abc?= b", L"a =?UTF-8?X?abc?= b", "an unknown encoding stays as written"},
      {"a =?UTF-8?Q?abc", L"a =?UTF-8?Q?abc", "an unfinished word"},
      {"=?iso-8859-1?q?caf=E9_?=x", L"caf\u3013x", "other charsets: bytes, 0xE9 + blank no character"},
      {"\"quoted\"", L"\"quoted\"", "the subject keeps its quotes"},
  };
  for (const auto& k : cases)
    EXPECT_EQ(decode(std::string("Subject: ") + k.subject + "\n\n").subject, k.decoded) << k.why;
  EXPECT_EQ(decodeEncodedWords("x =?UTF-8?Q?y?= z", false), "xy z") << "without the blank rule (To, Cc, ...)";
  EXPECT_EQ(decodeEncodedWords("=?UTF-8?Q?a=00b?=", false), "a") << "a decoded zero ends the word's text";
}

// The Date field shifted to device time (+0900), as "Y-M-D w h:m:s zone", or made from the clock.
TEST_F(CodecTest, DateFieldShiftedOrReplacedByTheClock) {
  const std::pair<const char*, const char*> cases[] = {
      {"Tue, 4 Dec 2007 10:00:00 +0900", "2007-12-4 2 10:0:0 +0900"},
      {"Tue, 4 Dec 2007 10:00:00 GMT", "2007-12-4 2 19:0:0 +0000"},
      {"4 Dec 2007 10:00:00 +900", "2007-12-4 2 10:0:0 +0900"},
      {"Tue, 4 Dec 2007 (a (nested) comment) 15:30:00 -0500 (EST)", "2007-12-5 3 5:30:0 -0500"},
      {"Mon, 31 Dec 2007 20 : 15 : 09 EST", "2008-1-1 2 10:15:9 -0500"},
      {"4 Dec 2007 10:00:00 Z", "2007-12-4 2 10:0:0 Z"},
      {"4 Dec 2007 10:00:00 N", "2007-12-4 2 11:0:0 N"},
      {"4 Jul 2007 10:00:00 UTC", "2007-7-4 3 19:0:0 +0000"},
      {"Wed, 1 Mar 2023 00:30:00 +1000", "2023-2-28 2 23:30:0 +1000"},
      {"Fri, 1 Mar 2024 00:30:00 +1000", "2024-2-29 4 23:30:0 +1000"},
      {"Sun, 30 Apr 2023 20:00:00 -0500", "2023-5-1 1 10:0:0 -0500"},
      {"4 Jun 2007 24:00:00 +0900", "2007-6-4 1 24:0:0 +0900"},
  };
  for (const auto& [field, want] : cases) {
    const Email e = decode(std::string("Date: ") + field + "\n\n");
    const SYSTEMTIME& d = e.date;
    char read[64];
    std::snprintf(read, sizeof read, "%d-%d-%d %d %d:%d:%d ", d.wYear, d.wMonth, d.wDay, d.wDayOfWeek, d.wHour,
                  d.wMinute, d.wSecond);
    EXPECT_EQ(read + std::string(e.timeZone.begin(), e.timeZone.end()) + e.synthesizedDate, want) << field;
  }
  // Comments and quoted strings (a parenthesis inside one opens no comment) leave the text.
  EXPECT_EQ(decode("Date: Tue, 4 Dec 2007 \"x (y\" 10:00:00 +0900\n\n").dateText, L"Tue, 4 Dec 2007  10:00:00 +0900");
  for (const char* bad : {"Date: garbage\n\n", "Date: 4 Dec 07 10:00:00 +0900\n\n", "Subject: no date\n\n"}) {
    const Email e = decode(bad);
    EXPECT_EQ(e.synthesizedDate + std::to_string(e.date.wHour), "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n12") << bad;
    EXPECT_EQ(e.timeZone, L"+0900");
  }
  EXPECT_TRUE(decode("X-Tmr-Rivulet\nDate: garbage\n\n").synthesizedDate.empty()) << "feed items keep theirs";
  const std::pair<std::string, std::string> saves[] = {
      {"From: a@b\r\nDate: broken\r\nSubject: s\r\n\r\nbody",
       "From: a@b\r\nDate: Fri, 02 Jan 2026 12:04:05 +0900\r\nSubject: s\r\n\r\nbody"},
      {"From: a@b\r\n\r\nbody", "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\nFrom: a@b\r\n\r\nbody"},
      {"Date: Tue, 4 Dec 2007 10:00:00 +0900\r\n\r\nbody", "Date: Tue, 4 Dec 2007 10:00:00 +0900\r\n\r\nbody"},
  };
  for (auto [before, after] : saves) {
    Email e;
    ASSERT_TRUE(codec_.DecodeForSave(&e, &before));
    EXPECT_EQ(before, after);
  }
}

TEST_F(CodecTest, EntryPointErrorsAndHeaderLookups) {
  Email e;
  e.subject = L"untouched";
  const std::string small = "Subject: s\r\n\r\nb";
  EXPECT_FALSE(codec_.Decode(&e, nullptr));
  EXPECT_EQ(codec_.GetErrorInfo(), OXMDL_ERR_MIME_NULL_ARG);
  setFixedAvailPhys(1048576);  // free memory must exceed max(2 x length, 1 MiB)
  EXPECT_EQ(failure(codec_.Decode(&e, &small)), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(e.subject, L"untouched");
  setFixedAvailPhys(1048577);
  EXPECT_TRUE(codec_.Decode(&e, &small));
  setFixedAvailPhys(std::nullopt);
  setHeapProbeLimit(100000);  // the wide body (twice the text) fails: the caution lines
  debugCaptureStart();
  const std::string big = "Subject: big\n\n" + std::string(60000, 'x');
  EXPECT_EQ(failure(codec_.Decode(&e, &big)), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(debugCaptured(), L"[EML] CAUTION !! ------->\r\n[EML] Cannot alloc Heap Memory\r\n"
                             L"[EML] alloc size :[120000]\r\n[EML] CAUTION !! <-------\r\n");
  EXPECT_EQ(e.subject + L"|" + e.body, L"big|") << "what was decoded before stays";
  debugCaptureStop();
  setHeapProbeLimit(std::nullopt);
  const std::string headOnly = "Subject: only a header";
  EXPECT_TRUE(codec_.Decode(&e, &headOnly));
  EXPECT_EQ(e.subject + L"|" + e.body, L"only a header|") << "no empty line: no body";
  e.senderLabel = L"kept";  // a header-only decode keeps the summary label
  const std::string raw = "Subject: =?UTF-8?Q?a?=\r\n  b\r\nTo: x@y\r\n\r\nTo: body@line\r\n";
  ASSERT_TRUE(codec_.DecodeHeader(&e, &raw));
  EXPECT_EQ(e.subject + L"|" + e.senderLabel, L"a  b|kept");
  EXPECT_EQ(vec(e.to), (Names{L"x@y"}));
  std::string out;
  ASSERT_TRUE(codec_.GetHeaderField(raw, "SUBJECT", &out));
  EXPECT_EQ(out, "a  b");
  ASSERT_TRUE(codec_.GetHeaderField(raw, "to:", &out));
  EXPECT_EQ(out, "x@y") << "the body's line is not a header field";
  EXPECT_EQ(failure(codec_.GetHeaderField(raw, "Cc", &out)), OXMDL_ERR_MIME_NO_HEADER);
  ASSERT_TRUE(codec_.GetHeader(raw, &out));
  EXPECT_EQ(out, "Subject: =?UTF-8?Q?a?=\r\n  b\r\nTo: x@y");
  const std::wstring notice = decode("X-Oversize-Oxmail: 1\n\n").body;
  EXPECT_EQ(notice.substr(0, 7) + L"|" + std::to_wstring(notice.size()), L"\u3053\u306e\u30e1\u30c3\u30bb\u30fc\u30b8|75");
  const std::string longer = "Subject: s\n\n" + std::string(300, 'x');  // summaries: 281 or as asked
  ASSERT_TRUE(codec_.DecodeSimple(&e, &longer, -1));
  EXPECT_TRUE(e.summaryOnly && e.body == std::wstring(281, L'x'));
  ASSERT_TRUE(codec_.DecodeSimple(&e, &longer, 10));
  EXPECT_EQ(e.body, std::wstring(10, L'x'));
}

}  // namespace
}  // namespace oxm
