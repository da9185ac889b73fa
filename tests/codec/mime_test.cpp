// The MIME walk: bodies, related files, file names, attached messages, cut-off and hostile input.
#include "platform/codepage.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;
using Names = std::vector<std::wstring>;

std::wstring mimeType(const Enclosure& e) { return e.type + L"/" + e.subtype; }
// Body, HTML body and the enclosures' names of each message.
TEST_F(CodecTest, BodiesAndRelatedFilesOfEveryShape) {
  const std::string alternative =
      "Content-Type: multipart/alternative; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nplain\n"
      "--b\nContent-Type: text/html\n\n<p>html</p>\n\n--b--\n";
  std::string mixed = alternative;
  mixed.replace(mixed.find("alternative"), 11, "mixed");
  const std::string b = "Content-Type: multipart/mixed; boundary=b\n\n--b\n";
  const struct { const char* what; std::string raw; const wchar_t* read; } cases[] = {
      {"the HTML without its final LF, and then without one more CR LF", alternative, L"plain|<p>html</p>|"},
      {"mixed: the HTML part is an attachment", mixed, L"plain||NoName.html"},
      {"last boundary not closed, then an empty line", b + "Content-Type: text/plain\n\nhello\n--b\n\n", L"hello||"},
      {"last boundary not closed, blanks after it, end of text", b + "\nhello\n--b \t", L"hello||"},
      {"an empty part between two text parts", b + "\nfirst\n--b\n\n--b\n\nsecond\n--b--\n", L"first||NoName.txt"},
      {"a boundary only as a whole line (blanks and a stray CR may follow)",
       b + "\nline --b\n--bx\n--b--x\nend\n--b \r\r\n\nsecond\n--b--\n", L"line --b\r\n--bx\r\n--b--x\r\nend||NoName.txt"},
      {"a nameless text attachment empties the plain body",
       b + "\nfirst\n--b\nContent-Type: text/plain; charset=\"\"\nContent-Disposition: attachment\n\nsecond\n--b--\n",
       L"||NoName.txt"},
      {"an attachment without its closing boundary is no enclosure",
       b + "Content-Type: text/plain\n\nhello\n--b\nContent-Type: application/pdf; name=\"cut.pdf\"\n\nJVBE", L"hello||"},
      {"a cut-off text part is still body text", b + "Content-Type: text/plain; name=\"t.txt\"\n\npartial te", L"partial te||"},
      {"a boundary that never comes ends the walk", "Content-Type: multipart/mixed; boundary=nowhere\n\ntext\n", L"||"},
  };
  for (const auto& k : cases) {
    const Email e = decode(k.raw);
    std::wstring read = e.body + L"|" + e.htmlBody + L"|";
    for (const Enclosure& x : e.enclosures) read += (read.back() == L'|' ? L"" : L",") + x.displayName;
    EXPECT_EQ(read, k.read) << k.what;
  }
  EXPECT_EQ(decode(cases[6].raw).enclosures.front().charset, L"US-ASCII") << "an empty charset parameter";
  // Related pictures: a nameless one of a known type gets a made name, an unknown one is dropped.
  const Email e = decode(
      "Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<img src=\"cid:p1\">\n--r\n"
      "Content-Type: image/jpeg\nContent-ID: <p1@x>\nContent-Location: CID: <loc1>\n\n/9j/\n--r\nContent-Type: image/png\n"
      "Content-ID: <p2@x>\n\niVBO\n--r\nContent-Type: image/gif; name=named.gif\nContent-ID: <p3@x>\n\nR0lG\n--r--\n");
  EXPECT_EQ(e.htmlBody + L"|" + std::to_wstring(e.enclosures.size()), L"<img src=\"cid:p1\">|0");
  const auto rel = vec(e.relatedFiles);
  ASSERT_EQ(rel.size(), 2u) << "the nameless png is dropped";
  // A made name: month, day, hour, minute, second of local time, 8 more characters, the type's extension.
  const std::wstring made = rel[0].displayName;
  EXPECT_EQ(made.substr(0, 10) + L"|" + made.substr(18) + L"|" + std::to_wstring(made.size()), L"0102120405|.jpg|22");
  EXPECT_EQ(rel[0].contentId + L"|" + rel[0].contentLocation + L"|" + mimeType(rel[0]) + L"|" + rel[1].displayName,
            L"p1@x|loc1|image/jpeg|named.gif");
}

TEST_F(CodecTest, ParametersFileNamesAndRawHeaderText) {
  const Email e = decode(
      "Content-Type: multipart/mixed; (a (nested) comment) boundary=\"=_b\"\n\n"
      "--=_b\nContent-Type: application/octet-stream\nContent-Disposition: attachment;\n"
      " filename*0*=UTF-8''%E6%97%A5%E6%9C%AC; filename*1*=%E8%AA%9E;\n filename*2=\".txt\"\n\nx\n"
      "--=_b\nContent-Type: application/octet-stream; name*=iso-2022-jp''%1B%24BF%7C%1B%28B.bin\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"" + std::string(250, 'a') + ".pdf\"\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"/\\\\:*?\\\"<>|\"\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"\x95\x5c.doc\"\n\nx\n"
      "--=_b\nContent-Type: image/gif; name=\"=?UTF-8?B?5pel5pys6KqeLnR4dA==?=\"\n\nx\n--=_b--\n");
  // RFC 2231 pieces; cut to 200 characters; forbidden characters only; trail byte 0x5C; an encoded word.
  EXPECT_EQ(names(e.enclosures), (Names{L"\u65e5\u672c\u8a9e.txt", L"\u65e5.bin", std::wstring(200, L'a'), L"NoName",
                                        L"\u8868.doc", L"\u65e5\u672c\u8a9e.txt"}));
  const auto enc = vec(e.enclosures);  // the type follows the file name
  EXPECT_EQ(mimeType(enc[0]) + mimeType(enc[3]) + mimeType(enc[4]), L"text/plainapplication/octet-streamapplication/msword");
  // Raw header text: valid UTF-8 with a multi-byte sequence is UTF-8, else Shift_JIS, in both code pages.
  const std::string utf8Kanri = "\xE7\xAE\xA1\xE7\x90\x86";  // 管理
  const std::string raw =
      "From: " + utf8Kanri + " <k@example.jp>\nSubject: " + utf8Kanri + "\xE3\x81\xAE\xE4\xBB\xB6 =?utf-8?b?566h55CG?= " +
      utf8Kanri + "\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nbody\n"
      "--b\nContent-Type: application/msword; name=\"" + utf8Kanri + ".doc\"\n\nx\n"
      "--b\nContent-Type: application/msword\nContent-Disposition: attachment; filename=\x8A\xC7\x97\x9D.doc\n\ny\n--b--\n";
  for (const UINT page : {932u, 65001u}) {
    setActiveCodePage(page);
    const Email r = decode(raw);
    EXPECT_EQ(r.fromName, L"\"\u7ba1\u7406\"") << page;
    EXPECT_EQ(r.subject, L"\u7ba1\u7406\u306e\u4ef6 \u7ba1\u7406 \u7ba1\u7406") << page << ": beside an encoded word";
    EXPECT_EQ(names(r.enclosures), (Names{L"\u7ba1\u7406.doc", L"\u7ba1\u7406.doc"})) << page << ": UTF-8, Shift_JIS";
    EXPECT_EQ(decode("Subject: ab\xFF\xFE" "cd\n\n").subject, L"ab\u30fb\u30fb" L"cd") << page << ": bad bytes";
  }
}

TEST_F(CodecTest, AttachedMessagesAndNestingLimits) {
  const std::string nested =
      "Subject: outer\nContent-Type: multipart/mixed; boundary=\"o\"\n\n--o\nContent-Type: text/plain\n\nouter body\n"
      "--o\nContent-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERg==\n"
      "--o\nContent-Type: message/rfc822\n\nSubject: inner: subj\nContent-Type: multipart/mixed; boundary=\"i\"\n\n"
      "--i\nContent-Type: text/plain\n\ninner body\n"
      "--i\nContent-Type: image/gif; name=\"in.gif\"\nContent-Transfer-Encoding: base64\n\nR0lGODlh\n--i--\n\n--o--\n";
  const Email e = decode(nested);
  EXPECT_EQ(e.body, L"outer body\r\n\r\n----------------\r\ninner body");
  const auto enc = vec(e.enclosures);
  ASSERT_EQ(enc.size(), 3u);
  EXPECT_EQ(enc[0].displayName + L"|" + enc[1].displayName + L"|" + enc[2].name + L"|" + mimeType(enc[2]),
            L"a.pdf|in.gif|inner subj.eml|message/rfc822");
  for (size_t i = 0; i < enc.size(); ++i) EXPECT_EQ(enc[i].index, i);
  EXPECT_EQ(enc[1].bodyOffset, nested.find("R0lGODlh")) << "inner offsets count from the outer text";
  Email s;
  ASSERT_TRUE(codec_.DecodeSimple(&s, &nested, -1));
  EXPECT_TRUE(s.body == L"outer body" && s.enclosures.empty()) << "a summary stops after the first text part";
  // 10,000 nested multiparts: the walk stops going deeper, the decode still succeeds.
  std::string deep;
  for (int i = 0; i < 10000; ++i)
    deep += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "x\"\n\n--b" + std::to_string(i) + "x\n";
  EXPECT_EQ(decode(deep + "Content-Type: text/plain\n\ndeep\n").body, L"");
  // As many attached messages: 100 levels decoded, each listed, and the one at the limit undecoded.
  std::string messages;
  for (int i = 0; i < 10000; ++i) messages += "Content-Type: message/rfc822\n\n";
  const Email limit = decode(messages + "Subject: x\n\nend\n");
  EXPECT_EQ(limit.enclosures.size(), 101u);
  EXPECT_EQ(limit.enclosures.back().name + L"|" + limit.body, L"NoName.eml|");
}

}  // namespace
}  // namespace oxm
