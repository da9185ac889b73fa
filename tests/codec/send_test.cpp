// Stored messages prepared for sending, and copies without enclosures.
#include "frame/registry_value.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;

const char kFooter[] = "\r\n\r\n-----------------\r\nsent from K-PRISM\r\n";

// A picture mail with two pictures, as the device sent it.
const std::string kPictureMail =
    "From: taro@example.jp\r\nTo: hanako@example.jp\r\nDate: Thu, 01 Jan 2026 09:00:00 +0900\r\nSubject: Pics\r\n"
    "Mime-Version: 1.0\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM) [PictureMail]\r\n"
    "Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"\r\n\r\n"
    "This is a multipart message in Mime 1.0 format\r\n\r\n"
    "--next_bound_m4345\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nTwo pictures.\r\n\r\n"
    "--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"a.jpg\"\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment;\r\n filename=\"a.jpg\"\r\n\r\n/9j/4A==\r\n"
    "--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"b.jpg\"\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment;\r\n filename=\"b.jpg\"\r\n\r\n/9j/4B==\r\n"
    "--next_bound_m4345--\r\n";

// Stored text -> sent text, "paranoia" unset (-1) or set; then copies without enclosures.
TEST_F(CodecTest, PreparedForSendingAndCopiesWithoutEnclosures) {
  SYSTEMTIME utc{2026, 1, 5, 2, 3, 4, 5, 7};  // 7 milliseconds
  setFixedClock(utc, -540);
  const std::string fresh = "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\nMessage-Id: <20260102120405.z0007.";
  const struct { int paranoia; std::string stored, sent; } cases[] = {
      {-1,
       "From: \"Taro\" <taro@example.jp>\r\nTo: a@example.jp\r\nCc: c@example.jp\r\nBcc: b1@example.jp,\r\n b2@example.jp\r\n"
       "Date: Thu, 01 Jan 2026 09:00:00 +0900\r\nSubject: Hi\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello\r\n",
       "From: \"Taro\" <taro@example.jp>\r\nTo: a@example.jp\r\nCc: c@example.jp\r\n" + fresh +
           "taro@example.jp>\r\nSubject: Hi\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello\r\n" + kFooter},
      {0, "From: x@example.jp\r\nMessage-Id: <old@x>\r\nDate: Mon, 1 Jan 2024 00:00:00 +0000\r\nSubject: s\r\n\r\nbody",
       "From: x@example.jp\r\n" + fresh + "x@example.jp>\r\nSubject: s\r\n\r\nbody"},
      {1, "From: x@example.jp\r\nTo: y@example.jp\r\n\r\nbody",
       "From: x@example.jp\r\nTo: y@example.jp\r\n" + fresh + "x@example.jp>\r\n\r\nbody" + kFooter},
      {1, "From: x@example.jp\r\nContent-Type: multipart/related;\r\n boundary=\"b\"\r\n\r\nbody",
       "From: x@example.jp\r\nContent-Type: multipart/related;\r\n boundary=\"b\"\r\n" + fresh + "x@example.jp>\r\n\r\nbody"},
  };
  for (const auto& k : cases) {
    if (k.paranoia >= 0) {
      ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, L"Software\\TAMARIN\\OxMail", L"paranoia", k.paranoia));
    }
    std::string stored = k.stored, data;
    RawEmail_S own, inPlace;
    own.data = &data;
    ASSERT_TRUE(codec_.EmlToRawEmailS(&stored, &own));
    EXPECT_EQ(data, k.sent);
    EXPECT_EQ(stored, k.stored) << "with a data string of its own the stored text stays";
    ASSERT_TRUE(codec_.EmlToRawEmailS(&stored, &inPlace));
    EXPECT_EQ(inPlace.data, &stored);
    EXPECT_EQ(stored, k.sent);
  }
  RawEmail_S raw;
  std::string stored = cases[0].stored;
  ASSERT_TRUE(codec_.EmlToRawEmailS(&stored, &raw));
  EXPECT_EQ(raw.envelopeFrom, "taro@example.jp");
  EXPECT_EQ(raw.recipients, (std::list<std::string>{"a@example.jp", "c@example.jp", "b1@example.jp", "b2@example.jp"}));
  std::string out;
  const std::string firstPicture =
      kPictureMail.substr(0, kPictureMail.find("--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"b.jpg\""));
  ASSERT_TRUE(codec_.DeleteEnclosureFromRawData(&kPictureMail, &out)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(out, firstPicture + "\r\n--next_bound_m4345--") << "a picture mail keeps its first picture";
  std::string plain = kPictureMail;
  plain.erase(plain.find(" [PictureMail]"), 14);
  ASSERT_TRUE(codec_.DeleteEnclosureFromRawData(&plain, &out));
  EXPECT_TRUE(out.ends_with("X-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
                            "Content-Type: text/plain; charset=us-ascii\r\n\r\nTwo pictures."))
      << "any other message loses every enclosure";
  std::string single = firstPicture + "--next_bound_m4345--\r\n";
  out = "untouched";
  EXPECT_EQ(failure(codec_.DeleteEnclosureFromRawData(&single, &out)), OXMDL_ERR_ATT_SINGLE_PART);
  EXPECT_EQ(out, "untouched");
  const std::string received =  // a kept part is copied with its own transfer encoding
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nsee\r\n--b\r\nContent-Type: text/plain; name=notes.txt\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\nContent-Disposition: attachment\r\n\r\nline=3D1\r\n--b--\r\n";
  Email mail = decode(received);
  ASSERT_EQ(mail.enclosures.size(), 1u);
  ASSERT_TRUE(codec_.EncodeWithoutEnclosure(&mail, &out, &received));
  EXPECT_TRUE(out.ends_with("\r\n\r\n--next_bound_m4345\r\nContent-Type: text/plain;\r\n name=\"notes.txt\"\r\n"
                            "Content-Transfer-Encoding: quoted-printable\r\n"
                            "Content-Disposition: attachment;\r\n filename=\"notes.txt\"\r\n\r\n"
                            "line=3D1\r\n\r\n--next_bound_m4345--"));
}

}  // namespace
}  // namespace oxm
