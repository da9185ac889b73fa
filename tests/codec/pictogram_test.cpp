// Pictogram tags both ways, and the media type table.
#include "codec/charset.h"
#include "codec/emlcompose.h"
#include "codec/mimetype.h"
#include "codec/pictogram.h"
#include "frame/oxerror.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

TEST(PictogramTest, TableRowsAndCodes) {
  size_t count = 0;
  const Pictogram* table = pictogramTable(&count);
  ASSERT_EQ(count, 163u);
  EXPECT_EQ(table[0].code, 0xF040);
  EXPECT_EQ(table[0].tag, "<#HEART>");
  EXPECT_EQ(table[62].tag, "<#SHIRT>");
  EXPECT_EQ(table[62].code, 0xF07E);
  EXPECT_EQ(table[63].tag, "<#SUIKA>");
  EXPECT_EQ(table[63].code, 0xF080) << "0xF07F is no Shift_JIS code: the row after 0xF07E is 0xF080";
  EXPECT_EQ(table[150].tag, "<#MOS>");
  EXPECT_EQ(table[150].code, 0xF0D7);
  EXPECT_EQ(table[151].code, 0xF0D9);
  EXPECT_EQ(table[151].tag, "<#LOTTE>");
  EXPECT_EQ(table[162].code, 0xF150);
  EXPECT_EQ(table[162].tag, "<#TS-CRY>");
  EXPECT_EQ(pictogramByTag("<#AM/PM>")->code, 0xF0E9);
  EXPECT_EQ(pictogramByCode(0xF0D8), nullptr);
}

TEST(PictogramTest, TagsBecomeCodes) {
  EXPECT_EQ(decodePictogramTags("a<#HEART>b"), "a\xf0\x40" "b");
  EXPECT_EQ(decodePictogramTags("a<#HEART b"), "a<#HEART b") << "no closing >";
  EXPECT_EQ(decodePictogramTags("<<#HEART>"), "<\xf0\x40") << "an escaped < before a tag";
  EXPECT_EQ(decodePictogramTags("1<<2<<<<3"), "1<2<<3") << "<< is one <";
  EXPECT_EQ(decodePictogramTags("<#NOPE>"), "<#NOPE>") << "not in the table";
  EXPECT_EQ(decodePictogramTags("<#HE\nART><#0>"), "\xf0\x40\xf0\xbe") << "control bytes in a tag are dropped";
  EXPECT_EQ(decodePictogramTags("<a>"), "<a>") << "no # in between";
  EXPECT_EQ(decodePictogramTags("<#" + std::string(30, 'A') + ">"), "<#" + std::string(30, 'A') + ">")
      << "the > lies beyond 25 bytes";
  EXPECT_EQ(decodePictogramTags(std::string("<#HEART>\0<#HEART>", 17)), "\xf0\x40") << "stops at a zero byte";
}

TEST(PictogramTest, CodesBecomeTagsForSending) {
  std::string out = "untouched";
  unsigned code = 1;
  EXPECT_EQ(encodePictogramTags("a<b", &out, &code), 0);
  EXPECT_EQ(out, "untouched") << "without a pictogram nothing changes, not even <";
  EXPECT_EQ(encodePictogramTags("<\xf0\x40\xf1\x41\x93\xfa", &out, &code), 1);
  EXPECT_EQ(code, OXMDL_ERR_NONE);
  EXPECT_EQ(out, "<<<#HEART>\xf1\x41\x93\xfa") << "0xF141 is no table row: copied";
  // The whole sending path: wide -> Shift_JIS -> tags -> ISO-2022-JP.
  std::string jis;
  EXPECT_EQ(wideToIso2022jpWithTags(L"\ue000\u65e5", &jis, &code), 1);
  EXPECT_EQ(jis, "<#HEART>\x1b$BF|\x1b(B");
  EXPECT_EQ(wideToIso2022jpWithTags(L"a<b", &jis, &code), 0);
  EXPECT_EQ(jis, "a<b");
}

TEST(MimeTypeTest, ByExtension) {
  EmlCompose c;
  EXPECT_EQ(c.MimeTypeId(L"PHOTO.JPG"), L"image/jpeg");
  EXPECT_EQ(c.MimeTypeId(L"backup.tar.gz"), L"application/x-gzip") << "the later of two rows for gz";
  EXPECT_EQ(c.MimeTypeId(L"setup.exe"), L"application/x-msdos-program");
  EXPECT_EQ(c.MimeTypeId(L"key.pgp"), L"application/pgp-signature");
  EXPECT_EQ(c.MimeTypeId(L"song.mp2"), L"video/mpeg");
  EXPECT_EQ(c.MimeTypeId(L"world.WRL"), L"x-world/x-vrml");
  EXPECT_EQ(c.MimeTypeId(L"book.qbf"), L"ebook/qbdf");
  EXPECT_EQ(c.MimeTypeId(L"card.vcf"), L"text/x-vCard") << "types keep their case";
  EXPECT_EQ(c.MimeTypeId(L"pdf"), L"application/pdf") << "a name without a dot is looked up whole";
  EXPECT_EQ(c.MimeTypeId(L"README"), L"application/octet-stream");
  EXPECT_EQ(c.MimeTypeId(L"name."), L"application/octet-stream");
  EXPECT_EQ(c.MimeTypeId(L"file.Z"), L"application/x-compress") << "looked up as z";
  EXPECT_EQ(c.MimeTypeId(L"text/plain"), L"text/plain");
  EXPECT_EQ(c.MimeTypeId(L"Image/JPEG"), L"image/jpeg");
  EXPECT_EQ(c.MimeTypeId(L"/abs/path.png"), L"image/png") << "a leading / is a path, not a type";
  EXPECT_EQ(c.MimeTypeId(L"\u65e5\u672c.txt"), L"text/plain");
}

}  // namespace
}  // namespace oxm
