// Transfer decodings and writing enclosures to files, with their errors.
#include "codec/emlcompose.h"
#include "codec/enclosure.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using test::CodecTest;

TEST(TransferTest, Base64QuotedPrintableUuencode) {
  EXPECT_EQ(base64Decode("QUJD\r\nRA=="), "ABCD");
  EXPECT_EQ(base64Decode("QUJ"), "AB");
  EXPECT_EQ(base64Decode("Q"), "") << "a single leftover character is ignored";
  EXPECT_EQ(base64Decode("Q!U*J.D"), "ABC") << "other characters are skipped";
  EXPECT_EQ(base64Decode("QQ==QQ=="), std::string("A\x04\x10", 3)) << "padding is skipped, not an end";
  EXPECT_EQ(qpDecode("a=3Db=\nc=00d=zze=\r\nf=\n\rg=4"), "a=bc00dzzefg=4");
  EXPECT_EQ(qpDecode("x=e9_y"), "x\xe9_y") << "lower-case hex; no underscore rule in bodies";
  EXPECT_EQ(qDecode("a_b=3F=zz"), "a b?=zz");
  EXPECT_EQ(replacePercent("%41%4g%"), "A%4g%");
  std::string out;
  EXPECT_TRUE(uuDecode("junk\nbegin 644 x\n#86)C\n,2&5L;&\\L('=O<FQD\n`\nend\n", &out));
  EXPECT_EQ(out, "abcHello, world");
  EXPECT_TRUE(uuDecode("begin 644 x\n#86)C\n#8~~~\n#86)C\n", &out));
  EXPECT_EQ(out, "abc") << "a character out of range ends the data";
  EXPECT_TRUE(uuDecode("begin 644 x\n,2&5L\n", &out));
  EXPECT_EQ(out, "") << "a line shorter than its count ends the data";
  EXPECT_FALSE(uuDecode("no start line\n#86)C\n", &out));
}

TEST(TransferTest, DecodeEnclosureByTransferEncoding) {
  Enclosure e;
  std::string d = "a=\nb\nc\n";
  e.transferEncoding = L"Quoted-Printable";
  EXPECT_EQ(decodeEnclosure(&d, &e), OXMDL_ERR_NONE);
  EXPECT_EQ(d, "ab\r\nc") << "one final LF dropped, LF to CR LF";
  d = "AAEC\n";
  e.transferEncoding = L"base64";
  EXPECT_EQ(decodeEnclosure(&d, &e), OXMDL_ERR_NONE);
  EXPECT_EQ(d, std::string("\0\1\2", 3));
  d = "\x1b$BF|\x1b(B\nx\n";
  e.transferEncoding = L"7bit";
  EXPECT_EQ(decodeEnclosure(&d, &e), OXMDL_ERR_NONE);
  EXPECT_EQ(d, "\x93\xfa\r\nx\r\n");
  d = "\x1b$BF|\x1b(B\n";
  e.subtype = L"html";
  decodeEnclosure(&d, &e);
  EXPECT_EQ(d, "\x1b$BF|\x1b(B\r\n") << "7bit HTML keeps its bytes";
  d = "\x93\xfa\n";
  e.transferEncoding = L"8bit";
  decodeEnclosure(&d, &e);
  EXPECT_EQ(d, "\x93\xfa\r\n");
  d = "no begin";
  e.transferEncoding = L"x-uuencode";
  EXPECT_EQ(decodeEnclosure(&d, &e), OXMDL_ERR_MIME_DECODE);
}

const char kMessage[] =
    "Subject: files\r\n"
    "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
    "--m\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
    "--m\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"
    "--m\r\nContent-Type: text/plain; name=\"t.txt\"\r\nContent-Disposition: attachment\r\n\r\nline 1\r\nline 2\r\n"
    "--m\r\nContent-Type: application/octet-stream; name=\"u.bin\"\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n"
    "junk only\r\n"
    "--m--\r\n";

class EnclosureFileTest : public CodecTest {
 protected:
  void SetUp() override {
    CodecTest::SetUp();
    raw_ = kMessage;
    ASSERT_TRUE(codec_.Decode(&email_, &raw_));
    ASSERT_EQ(email_.enclosures.size(), 3u);
    for (Enclosure& e : email_.enclosures) {
      e.folder = L"\\Out";
      e.name = e.displayName;
    }
    ASSERT_TRUE(CreateDirectoryW(L"\\Out"));
  }
  const Enclosure& part(size_t i) { return *std::next(email_.enclosures.begin(), static_cast<long>(i)); }
  std::string file(const std::string& name) { return test::readHostFile(root_.host("Out/" + name)); }
  bool exists(const std::string& name) { return test::hostFileExists(root_.host("Out/" + name)); }

  EmlCompose codec_;
  Email email_;
  std::string raw_;
};

TEST_F(EnclosureFileTest, WritesDecodedBytes) {
  ASSERT_TRUE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(file("a.pdf"), "%PDF");
  ASSERT_TRUE(codec_.GetEnclosure(raw_, part(1)));
  EXPECT_EQ(file("t.txt"), "line 1\r\nline 2\r\n") << "the body runs up to the boundary, its line end included";
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  // The same file again: refused, and the file stays as it was.
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_EXISTS);
  EXPECT_EQ(file("a.pdf"), "%PDF");
  // An empty part gives an empty file.
  Enclosure empty = part(0);
  empty.name = L"empty.bin";
  empty.bodyLength = 0;
  ASSERT_TRUE(codec_.GetEnclosure(raw_, empty));
  EXPECT_TRUE(exists("empty.bin"));
  EXPECT_EQ(file("empty.bin"), "");
}

TEST_F(EnclosureFileTest, Errors) {
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(2)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_DECODE);
  EXPECT_FALSE(exists("u.bin")) << "no file left after a uudecode failure";
  Enclosure noFolder = part(0);
  noFolder.folder.clear();
  EXPECT_FALSE(codec_.GetEnclosure(raw_, noFolder));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_DECODE);
  fault::setFreeSpace(part(0).bodyLength - 1);
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  setFixedAvailPhys(2 * raw_.size());
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  setFixedAvailPhys(std::nullopt);
  fault::failNth(fault::Op::Open, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_OPEN);
  fault::failNth(fault::Op::Write, 1, ERROR_DISK_FULL);
  EXPECT_FALSE(codec_.GetEnclosure(raw_, part(0)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_FILE_DISK_FULL);
  EXPECT_FALSE(exists("a.pdf")) << "no file left after a short write";
}

TEST_F(CodecTest, FeedPicturesGoToTheScratchFolder) {
  const std::string raw =
      "X-Tmr-Rivulet\r\nSubject: item\r\nContent-Type: multipart/mixed; boundary=\"f\"\r\n\r\n"
      "--f\r\nContent-Type: image/jpeg; name=\"image.jpg\"\r\nContent-Transfer-Encoding: base64\r\n\r\n/9j/\r\n"
      "--f--\r\n";
  EmlCompose c;
  Email e;
  ASSERT_TRUE(c.Decode(&e, &raw));
  ASSERT_EQ(e.enclosures.size(), 1u);
  Enclosure pic = e.enclosures.front();
  pic.name = L"image.jpg";  // no folder: feed pictures have their own
  ASSERT_TRUE(CreateDirectoryW(L"Application Data"));
  ASSERT_TRUE(CreateDirectoryW(L"Application Data/Rivulet"));
  ASSERT_TRUE(CreateDirectoryW(L"Application Data/Rivulet/Tmp"));
  test::writeHostFile(root_.host("Application Data/Rivulet/Tmp/image.jpg"), "old");
  ASSERT_TRUE(c.GetEnclosure(raw, pic));
  EXPECT_EQ(test::readHostFile(root_.host("Application Data/Rivulet/Tmp/image.jpg")), "\xff\xd8\xff")
      << "an older picture is replaced";
}

}  // namespace
}  // namespace oxm
