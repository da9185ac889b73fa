// Transfer decodings and encodings, and writing enclosures to files, with their errors.
#include "codec/enclosure.h"
#include "codec/transfer.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;

TEST(TransferTest, Base64QuotedPrintableUuencode) {
  // A 7bit part: JIS text becomes Shift_JIS, HTML keeps its bytes (the others on real mail in tests/corpus).
  const auto part7bit = [](const wchar_t* subtype, std::string data) {
    Enclosure e;
    e.transferEncoding = L"7bit";
    e.subtype = subtype;
    EXPECT_EQ(decodeEnclosure(&data, &e), OXMDL_ERR_NONE);
    return data;
  };
  const auto uu = [](std::string_view in) {
    std::string out = "?";
    return uuDecode(in, &out) ? out : "(no begin line)";
  };
  const struct { std::string got, want; const char* why; } cases[] = {
      {base64Decode("Q!U*J"), "AB", "other characters are skipped; a short last group"},
      {base64Decode("QQ==QQ==Q"), std::string("A\x04\x10", 3), "padding is skipped, not an end; a leftover character is not"},
      {qpDecode("a=3Db=\nc=00d=zze=\r\nf=\n\rg=4"), "a=bc00dzzefg=4", "soft breaks, =00, bad escapes, a cut escape"},
      {qpDecode("x=e9_y"), "x\xe9_y", "lower-case hex; no underscore rule in bodies"},
      {qDecode("a_b=3F=zz"), "a b?=zz", "underscore in headers"},
      {replacePercent("%41%4g%"), "A%4g%", "percent escapes"},
      {uu("junk\nbegin 644 x\n#86)C\n,2&5L;&\\L('=O<FQD\n`\nend\n"), "abcHello, world", "uuencode"},
      {uu("begin 644 x\n#86)C\n#8~~~\n#86)C\n"), "abc", "a character out of range ends the data"},
      {uu("begin 644 x\n,2&5L\n"), "", "a line shorter than its count ends the data"},
      {uu("no start line\n#86)C\n"), "(no begin line)", "no begin line"},
      {part7bit(L"", "\x1b$BF|\x1b(B\nx\n"), "\x93\xfa\r\nx\r\n", "7bit text"},
      {part7bit(L"html", "\x1b$BF|\x1b(B\n"), "\x1b$BF|\x1b(B\r\n", "7bit HTML"},
  };
  for (const auto& k : cases) EXPECT_EQ(k.got, k.want) << k.why;
  const std::string line = "YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFh";  // 57 bytes: a full line
  const struct { bool qp; std::string in, out; const char* why; } writes[] = {
      {false, std::string(57, 'a'), line + "\n", "a full last line gets its LF"},
      {false, std::string(58, 'a'), line + "\nYQ==", "one byte more"},
      {true, "a\tb\x1b", "a\tb=1B", "a tab stays, other control bytes are escaped"},
      {true, std::string(71, 'x') + "=", std::string(71, 'x') + "=\n=3D", "an escape does not fit in 72 columns"},
      {true, std::string(72, 'x') + ".y\x7f\n.", std::string(72, 'x') + "=\n=2Ey=7F\n=2E",
       "a \".\" moved to a line start by a soft break is escaped; the last column is used"},
  };
  for (const auto& k : writes) {
    std::string out;
    k.qp ? qpEncode(k.in, &out) : base64Encode(k.in, &out);
    EXPECT_EQ(out, k.out) << k.why;
  }
}

TEST_F(CodecTest, EnclosureFilesErrorsExistingFilesEmptyPartsAndFeedPictures) {
  const std::string raw =
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\nsee attached\r\n--m\r\nContent-Type: application/pdf; "
      "name=a.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--m\r\nContent-Type: application/octet-stream; "
      "name=u.bin\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\njunk only\r\n--m--\r\n";
  std::vector<Enclosure> part = vec(decode(raw).enclosures);
  ASSERT_EQ(part.size(), 2u);
  for (Enclosure& e : part) {
    e.folder = L"\\Out";
    e.name = e.displayName;
  }
  ASSERT_TRUE(CreateDirectoryW(L"\\Out"));
  const auto get = [&](const Enclosure& e) { return failure(codec_.GetEnclosure(raw, e)); };
  const auto file = [&](const std::string& name) { return readHostFile(root_.host("Out/" + name)); };
  const auto exists = [&](const std::string& name) { return hostFileExists(root_.host("Out/" + name)); };
  EXPECT_EQ(get(part[1]), OXMDL_ERR_MIME_DECODE);
  EXPECT_FALSE(exists("u.bin")) << "no file left after a uudecode failure";
  fault::setFreeSpace(part[0].bodyLength - 1);
  EXPECT_EQ(get(part[0]), OXMDL_ERR_FILE_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  setFixedAvailPhys(2 * raw.size());
  EXPECT_EQ(get(part[0]), OXMDL_ERR_MEM_SHORTAGE);
  setFixedAvailPhys(std::nullopt);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(get(part[0]), OXMDL_ERR_FILE_OPEN);
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  EXPECT_EQ(get(part[0]), OXMDL_ERR_FILE_DISK_FULL);
  EXPECT_FALSE(exists("a.pdf")) << "no file left after a short write";
  ASSERT_TRUE(codec_.GetEnclosure(raw, part[0]));
  EXPECT_EQ(get(part[0]), OXMDL_ERR_MIME_FILE_EXISTS);
  EXPECT_EQ(file("a.pdf"), "%PDF");
  part[0].name = L"empty.bin";
  part[0].bodyLength = 0;
  ASSERT_TRUE(codec_.GetEnclosure(raw, part[0]));
  EXPECT_TRUE(exists("empty.bin") && file("empty.bin").empty());
  // A feed picture goes to the scratch folder, replacing an older one.
  const std::string feed = "X-Tmr-Rivulet\r\nContent-Type: multipart/mixed; boundary=f\r\n\r\n--f\r\nContent-Type: image/jpeg; "
                           "name=image.jpg\r\nContent-Transfer-Encoding: base64\r\n\r\n/9j/\r\n--f--\r\n";
  std::list<Enclosure> pictures = decode(feed).enclosures;
  ASSERT_EQ(pictures.size(), 1u);
  pictures.front().name = L"image.jpg";  // no folder: feed pictures have their own
  put("Application Data/Rivulet/Tmp/image.jpg", "old");
  ASSERT_TRUE(codec_.GetEnclosure(feed, pictures.front()));
  EXPECT_EQ(readHostFile(root_.host("Application Data/Rivulet/Tmp/image.jpg")), "\xff\xd8\xff");
}

}  // namespace
}  // namespace oxm
