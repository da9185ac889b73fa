// Preparing stored messages for sending (envelope, Bcc, fresh Date and Message-Id, footer), and
// copies without enclosures.
#include "frame/registry_value.h"
#include "tests/codec/codec_fixture.h"

namespace oxm {
namespace {

using namespace test;

const char kStoredWithBcc[] =
    "From: \"Taro\" <taro@example.jp>\r\nTo: a@example.jp\r\nCc: c@example.jp\r\n"
    "Bcc: b1@example.jp,\r\n b2@example.jp\r\nDate: Thu, 01 Jan 2026 09:00:00 +0900\r\nSubject: Hi\r\n"
    "Mime-Version: 1.0\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n\r\nHello\r\n\r\n";
const char kFooter[] = "\r\n\r\n-----------------\r\nsent from K-PRISM\r\n";

void setParanoia(DWORD value) {
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, L"Software\\TAMARIN\\OxMail", L"paranoia", value));
}

TEST_F(CodecTest, StoredMessageIsPreparedForSending) {
  SYSTEMTIME utc{2026, 1, 5, 2, 3, 4, 5, 7};  // 7 milliseconds
  setFixedClock(utc, -540);
  EmlCompose codec;
  std::string raw = kStoredWithBcc;
  std::string data;
  RawEmail_S out;
  out.data = &data;
  ASSERT_TRUE(codec.EmlToRawEmailS(&raw, &out));
  EXPECT_EQ(data, "From: \"Taro\" <taro@example.jp>\r\nTo: a@example.jp\r\nCc: c@example.jp\r\n"
                  "Date: Fri, 02 Jan 2026 12:04:05 +0900\r\nMessage-Id: <20260102120405.z0007.taro@example.jp>\r\n"
                  "Subject: Hi\r\nMime-Version: 1.0\r\nX-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
                  "Content-Type: text/plain; charset=us-ascii\r\n\r\nHello\r\n\r\n" +
                      std::string(kFooter));
  EXPECT_EQ(out.envelopeFrom, "taro@example.jp");
  EXPECT_EQ(out.recipients, (std::list<std::string>{"a@example.jp", "c@example.jp", "b1@example.jp", "b2@example.jp"}));
  EXPECT_EQ(raw, kStoredWithBcc) << "with a data string of its own the stored text stays";

  // "paranoia" other than 1 turns the footer off; 1 keeps it; a multipart message never has it.
  setParanoia(0);
  RawEmail_S quiet;
  quiet.data = &data;
  ASSERT_TRUE(codec.EmlToRawEmailS(&raw, &quiet));
  EXPECT_TRUE(data.ends_with("\r\nHello\r\n\r\n")) << data;
  setParanoia(1);
  ASSERT_TRUE(codec.EmlToRawEmailS(&raw, &quiet));
  EXPECT_TRUE(data.ends_with(kFooter));
  std::string multipart = raw;
  multipart.replace(multipart.find("Content-Type: text/plain; charset=us-ascii"), 42,
                    "Content-Type: multipart/mixed;\r\n boundary=\"next_bound_m4345\"");
  ASSERT_TRUE(codec.EmlToRawEmailS(&multipart, &quiet));
  EXPECT_TRUE(data.ends_with("\r\nHello\r\n\r\n"));

  // Without a data string the text is prepared in place. A Message-Id already there goes, a
  // text without Bcc keeps everything but its Date.
  std::string second = "From: x@example.jp\r\nMessage-Id: <old@x>\r\nTo: y@example.jp\r\n"
                       "Date: Mon, 1 Jan 2024 00:00:00 +0000\r\nSubject: s\r\n\r\nbody";
  RawEmail_S inPlace;
  ASSERT_TRUE(codec.EmlToRawEmailS(&second, &inPlace));
  EXPECT_EQ(inPlace.data, &second);
  EXPECT_EQ(second, "From: x@example.jp\r\nTo: y@example.jp\r\nDate: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
                    "Message-Id: <20260102120405.z0007.x@example.jp>\r\nSubject: s\r\n\r\nbody" +
                        std::string(kFooter));
  // A text without a Date gets one, with the Message-Id, at the end of its header.
  std::string undated = "From: x@example.jp\r\nTo: y@example.jp\r\n\r\nbody";
  RawEmail_S third;
  setParanoia(0);
  ASSERT_TRUE(codec.EmlToRawEmailS(&undated, &third));
  EXPECT_EQ(undated, "From: x@example.jp\r\nTo: y@example.jp\r\nDate: Fri, 02 Jan 2026 12:04:05 +0900\r\n"
                     "Message-Id: <20260102120405.z0007.x@example.jp>\r\n\r\nbody");
  EXPECT_EQ(failure(codec.EmlToRawEmailS(nullptr, &third)), OXMDL_ERR_MIME_NULL_ARG);
  EXPECT_EQ(failure(codec.EmlToRawEmailS(&undated, nullptr)), OXMDL_ERR_MIME_NULL_ARG);
}

// A picture mail with two pictures, as the device sent it.
const char kPictureMail[] =
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

TEST_F(CodecTest, CopiesWithoutEnclosures) {
  EmlCompose codec;
  const std::string picture = kPictureMail;
  std::string out;
  // The message up to the second picture: a picture mail with the first picture only.
  const std::string firstPicture =
      picture.substr(0, picture.find("--next_bound_m4345\r\nContent-Type: image/jpeg;\r\n name=\"b.jpg\""));
  ASSERT_TRUE(codec.DeleteEnclosureFromRawData(&picture, &out)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(out, firstPicture + "\r\n--next_bound_m4345--")
      << "the first picture stays, the Date is the received one, no final line end";
  // Any other message loses every enclosure and is single-part.
  std::string plain = picture;
  plain.erase(plain.find(" [PictureMail]"), 14);
  ASSERT_TRUE(codec.DeleteEnclosureFromRawData(&plain, &out));
  EXPECT_TRUE(out.ends_with("X-Mailer: tamarin OxMail/1.40 (K-PRISM)\r\n"
                            "Content-Type: text/plain; charset=us-ascii\r\n\r\nTwo pictures."))
      << out;
  // A picture mail with one picture has nothing that may go.
  std::string single = firstPicture + "--next_bound_m4345--\r\n";
  out = "untouched";
  EXPECT_EQ(failure(codec.DeleteEnclosureFromRawData(&single, &out)), OXMDL_ERR_ATT_SINGLE_PART);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(failure(codec.DeleteEnclosureFromRawData(nullptr, &out)), OXMDL_ERR_MIME_NULL_ARG);

  // EncodeWithoutEnclosure copies the parts it keeps with their own transfer encoding.
  const std::string received =
      "From: a@example.jp\r\nSubject: notes\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nsee notes\r\n"
      "--b\r\nContent-Type: text/plain; name=\"notes.txt\"\r\nContent-Transfer-Encoding: quoted-printable\r\n"
      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\nline=3D1\r\n--b--\r\n";
  Email mail = decode(received);
  ASSERT_EQ(mail.enclosures.size(), 1u);
  ASSERT_TRUE(codec.EncodeWithoutEnclosure(&mail, &out, &received));
  EXPECT_TRUE(out.ends_with("\r\n\r\n--next_bound_m4345\r\nContent-Type: text/plain;\r\n name=\"notes.txt\"\r\n"
                            "Content-Transfer-Encoding: quoted-printable\r\n"
                            "Content-Disposition: attachment;\r\n filename=\"notes.txt\"\r\n\r\n"
                            "line=3D1\r\n\r\n--next_bound_m4345--"))
      << out;
  EXPECT_EQ(failure(codec.EncodeWithoutEnclosure(&mail, &out, nullptr)), OXMDL_ERR_MIME_NULL_ARG);
}

}  // namespace
}  // namespace oxm
