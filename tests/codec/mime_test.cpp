// The MIME walk: bodies, enclosures and related files, parameters and file names, attached
// messages, cut-off messages, and input that must not hurt.
#include <vector>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;
using test::decode;

std::vector<Enclosure> list(const std::list<Enclosure>& l) { return {l.begin(), l.end()}; }

TEST_F(CodecTest, SinglePartAndUndeclaredJis) {
  Email e = decode("Subject: s\nContent-Type: text/plain; charset=ISO-2022-JP\n\n\x1b$BF|K\\\x1b(B\nline 2\n");
  EXPECT_EQ(e.body, L"\u65e5\u672c\r\nline 2");
  EXPECT_TRUE(e.enclosures.empty());
  e = decode("Subject: s\n\n\x1b$BF|\x1b(B\n") ;
  EXPECT_EQ(e.body, L"\u65e5") << "no Content-Type: JIS found by detection";
  e = decode("Content-Type: text/x-pmaildx; charset=iso-2022-jp\n\nI <<3 <#HEART>\n");
  EXPECT_EQ(e.body, L"I <3 \ue000") << "pictogram tags of a pmaildx body";
}

TEST_F(CodecTest, AlternativeAgainstMixed) {
  const std::string alternative =
      "Content-Type: multipart/alternative; boundary=\"b\"\n\n"
      "--b\nContent-Type: text/plain\n\nplain\n"
      "--b\nContent-Type: text/html\n\n<p>html</p>\n\n--b--\n";
  Email e = decode(alternative);
  EXPECT_EQ(e.body, L"plain");
  EXPECT_EQ(e.htmlBody, L"<p>html</p>") << "without the final LF, and then without one more CR LF";
  EXPECT_TRUE(e.enclosures.empty());
  // Not alternative: the HTML part is an attachment named NoName.html.
  std::string mixed = alternative;
  mixed.replace(mixed.find("alternative"), 11, "mixed");
  e = decode(mixed);
  EXPECT_EQ(e.body, L"plain");
  EXPECT_EQ(e.htmlBody, L"");
  const auto enc = list(e.enclosures);
  ASSERT_EQ(enc.size(), 1u);
  EXPECT_EQ(enc[0].displayName, L"NoName.html");
  EXPECT_EQ(enc[0].type, L"text");
  EXPECT_EQ(enc[0].subtype, L"html");
  EXPECT_EQ(enc[0].index, 0u);
  // A nameless text attachment empties the plain body and becomes NoName.txt.
  e = decode(
      "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nfirst\n"
      "--b\nContent-Type: text/plain; charset=\"\"\nContent-Disposition: attachment\n\nsecond\n--b--\n");
  EXPECT_EQ(e.body, L"");
  ASSERT_EQ(e.enclosures.size(), 1u);
  EXPECT_EQ(e.enclosures.front().filename, L"NoName.txt");
  EXPECT_EQ(e.enclosures.front().charset, L"US-ASCII") << "an empty charset parameter";
  EXPECT_FALSE(e.enclosures.front().inlineDisposition);
}

TEST_F(CodecTest, RelatedPictures) {
  const Email e = decode(
      "Content-Type: multipart/related; boundary=\"r\"\n\n"
      "--r\nContent-Type: text/html\n\n<img src=\"cid:p1\">\n"
      "--r\nContent-Type: image/jpeg\nContent-ID: <p1@x>\nContent-Location: CID: <loc1>\n"
      "Content-Transfer-Encoding: base64\n\n/9j/\n"
      "--r\nContent-Type: image/png\nContent-ID: <p2@x>\nContent-Transfer-Encoding: base64\n\niVBO\n"
      "--r\nContent-Type: image/gif; name=\"named.gif\"\nContent-ID: <p3@x>\n\nR0lG\n--r--\n");
  EXPECT_EQ(e.htmlBody, L"<img src=\"cid:p1\">");
  EXPECT_TRUE(e.enclosures.empty());
  const auto rel = list(e.relatedFiles);
  ASSERT_EQ(rel.size(), 2u) << "the nameless png is dropped";
  const std::wstring made = rel[0].displayName;
  ASSERT_EQ(made.size(), 22u);
  EXPECT_EQ(made.substr(0, 10), L"0102120405") << "month, day, hour, minute, second of local time";
  EXPECT_EQ(made.substr(18), L".jpg");
  EXPECT_EQ(rel[0].contentId, L"p1@x");
  EXPECT_EQ(rel[0].contentLocation, L"loc1");
  EXPECT_EQ(rel[0].type + L"/" + rel[0].subtype, L"image/jpeg");
  EXPECT_EQ(rel[1].displayName, L"named.gif");
}

TEST_F(CodecTest, ParametersAndFileNames) {
  const std::string longName(250, 'a');
  const Email e = decode(
      "Content-Type: multipart/mixed; boundary=\"=_b\" (a comment)\n\n"
      "--=_b\nContent-Type: application/octet-stream\nContent-Disposition: attachment;\n"
      " filename*0*=UTF-8''%E6%97%A5%E6%9C%AC; filename*1*=%E8%AA%9E;\n filename*2=\".txt\"\n\nx\n"
      "--=_b\nContent-Type: application/octet-stream; name*=iso-2022-jp''%1B%24BF%7C%1B%28B.bin\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"" + longName + ".pdf\"\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"/\\\\:*?\\\"<>|\"\n\nx\n"
      "--=_b\nContent-Type: application/pdf; name=\"\x95\x5c.doc\"\n\nx\n"
      "--=_b\nContent-Type: image/gif; name=\"=?UTF-8?B?5pel5pys6KqeLnR4dA==?=\"\n\nx\n"
      "--=_b--\n");
  const auto enc = list(e.enclosures);
  ASSERT_EQ(enc.size(), 6u);
  EXPECT_EQ(enc[0].displayName, L"\u65e5\u672c\u8a9e.txt") << "RFC 2231 pieces with a charset";
  EXPECT_EQ(enc[0].type + L"/" + enc[0].subtype, L"text/plain") << "the type follows the file name";
  EXPECT_EQ(enc[1].displayName, L"\u65e5.bin");
  EXPECT_EQ(enc[2].displayName, std::wstring(200, L'a')) << "cut to 200 characters";
  EXPECT_EQ(enc[3].displayName, L"NoName") << "forbidden characters only";
  EXPECT_EQ(enc[3].type + L"/" + enc[3].subtype, L"application/octet-stream");
  EXPECT_EQ(enc[4].displayName, L"\u8868.doc") << "a trail byte 0x5C is no backslash";
  EXPECT_EQ(enc[4].type + L"/" + enc[4].subtype, L"application/msword");
  EXPECT_EQ(enc[5].displayName, L"\u65e5\u672c\u8a9e.txt") << "an encoded word in a quoted name";
  for (size_t i = 0; i < enc.size(); ++i) EXPECT_EQ(enc[i].index, i);
}

const char kNested[] =
    "Subject: outer\n"
    "Content-Type: multipart/mixed; boundary=\"o\"\n\n"
    "--o\nContent-Type: text/plain\n\nouter body\n"
    "--o\nContent-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERg==\n"
    "--o\nContent-Type: message/rfc822\n\n"
    "Subject: inner: subj\nContent-Type: multipart/mixed; boundary=\"i\"\n\n"
    "--i\nContent-Type: text/plain\n\ninner body\n"
    "--i\nContent-Type: image/gif; name=\"in.gif\"\nContent-Transfer-Encoding: base64\n\nR0lGODlh\n--i--\n\n"
    "--o--\n";

TEST_F(CodecTest, AttachedMessageNumbering) {
  const Email e = decode(kNested);
  EXPECT_EQ(e.body, L"outer body\r\n\r\n----------------\r\ninner body");
  const auto enc = list(e.enclosures);
  ASSERT_EQ(enc.size(), 3u);
  EXPECT_EQ(enc[0].displayName, L"a.pdf");
  EXPECT_EQ(enc[1].displayName, L"in.gif");
  EXPECT_EQ(enc[2].name, L"inner subj.eml") << "subject through the file-name rules";
  EXPECT_EQ(enc[2].type + L"/" + enc[2].subtype, L"message/rfc822");
  for (size_t i = 0; i < enc.size(); ++i) EXPECT_EQ(enc[i].index, i);
  const std::string text = kNested;
  EXPECT_EQ(enc[1].bodyOffset, text.find("R0lGODlh")) << "inner offsets count from the outer text";
  EXPECT_EQ(enc[1].bodyLength, 9u);
  // Summary mode stops after the first text part.
  EmlCompose c;
  Email s;
  ASSERT_TRUE(c.DecodeSimple(&s, &text, -1));
  EXPECT_EQ(s.body, L"outer body");
  EXPECT_TRUE(s.enclosures.empty());
}

TEST_F(CodecTest, CutOffMessages) {
  Email e = decode(
      "Content-Type: multipart/mixed; boundary=c\n\n--c\nContent-Type: text/plain\n\nhello\n"
      "--c\nContent-Type: application/pdf; name=\"cut.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBE");
  EXPECT_EQ(e.body, L"hello");
  EXPECT_TRUE(e.enclosures.empty()) << "an attachment without its closing boundary is no enclosure";
  e = decode("Content-Type: multipart/mixed; boundary=c\n\n--c\nContent-Type: text/plain; name=\"t.txt\"\n\npartial te");
  EXPECT_EQ(e.body, L"partial te") << "a cut-off text part is still body text";
  EXPECT_TRUE(e.enclosures.empty());
  e = decode("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n--b");
  EXPECT_EQ(e.body, L"x") << "a boundary that ends the text";
  e = decode("Content-Type: multipart/mixed; boundary=nowhere\n\ntext\n");
  EXPECT_EQ(e.body, L"") << "a boundary that never comes ends the walk";
}

TEST_F(CodecTest, HostileInputEnds) {
  // A 1 MB header line of encoded words and of folds.
  std::string words = "Subject: ";
  while (words.size() < 1000000) words += "=?UTF-8?Q?a?= =?ISO-2022-JP?B?GyRCRnwbKEI=?= ";
  Email e = decode(words + "\n\nbody\n");
  EXPECT_EQ(e.subject.substr(0, 3), L"a\u65e5a");
  std::string folds = "To: ";
  while (folds.size() < 1000000) folds += "a@b,\n ";
  e = decode(folds + "\n\n");
  EXPECT_GT(e.to.size(), 100000u);
  // 10,000 nested multiparts: the walk stops going deeper, the decode still succeeds.
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "x\"\n\n--b" + std::to_string(i) + "x\n";
  deep += "Content-Type: text/plain\n\ndeep\n";
  e = decode(deep);
  EXPECT_EQ(e.body, L"");
  // As many attached messages inside each other: 100 levels are decoded, each adding its
  // attached message to the enclosures, and the one at the limit is listed undecoded.
  std::string messages;
  for (int i = 0; i < 10000; ++i) messages += "Content-Type: message/rfc822\n\n";
  messages += "Subject: x\n\nend\n";
  e = decode(messages);
  EXPECT_EQ(e.enclosures.size(), 101u);
  EXPECT_EQ(e.enclosures.back().name, L"NoName.eml");
  EXPECT_EQ(e.body, L"");
  // Nothing but line ends, nothing but boundaries.
  decode(std::string(100000, '\n'));
  decode("Content-Type: multipart/mixed; boundary=\"-\"\n\n" + std::string(100000, '-'));
}

}  // namespace
}  // namespace oxm
