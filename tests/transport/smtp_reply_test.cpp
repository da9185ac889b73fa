// The SMTP wire texts without a socket: the reply checks, the EHLO capability check, the
// CRAM-MD5 answer and the address commands.
#include "transport/smtp_reply.h"

#include <gtest/gtest.h>

#include "frame/oxerror.h"

namespace oxm::smtp {
namespace {

TEST(SmtpReply, CodeChecks) {
  EXPECT_TRUE(replyIs("250\r\n", {"220", "250"}));
  EXPECT_TRUE(replyIs("354 go\r\n", {"250", "354"}));
  for (const char* no : {"250-OK\r\n250 OK\r\n", "250\rX", "251 OK\r\n", "25"}) {
    EXPECT_FALSE(replyIs(no, {"250"})) << no;
  }
  for (const char* refused : {"500 x\r\n", "502 x\r\n", "530 x\r\n", "550-x\r\n550 y\r\n"}) {
    EXPECT_TRUE(ehloRefused(refused)) << refused;
  }
  for (const char* other : {"501 x\r\n", "250 x\r\n", "50"}) EXPECT_FALSE(ehloRefused(other)) << other;
  EXPECT_TRUE(offersStartTls("250-localhost\r\n250-STARTTLS\r\n250 HELP\r\n"));
  EXPECT_TRUE(offersStartTls("250-localhost\r\n250 STARTTLS\r\n"));
  EXPECT_FALSE(offersStartTls("250-localhost\r\n250-X-STARTTLS\r\n250 HELP\r\n"));
  EXPECT_FALSE(offersStartTls("250 localhost STARTTLS\r\n"));
}

TEST(SmtpReply, EhloCapabilityCheck) {
  const struct {
    const char* reply;
    unsigned code;
    unsigned caps;
  } cases[] = {
      {"250-localhost\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 HELP\r\n", OXMDL_ERR_NONE, kAuthLogin | kAuthCramMd5},
      {"250-localhost\r\n250 AUTH CRAM-MD5\r\n", OXMDL_ERR_NONE, kAuthCramMd5},
      {"250-localhost\r\n250-AUTH PLAIN\r\n250 HELP\r\n", SMTP_AUTH_METHOD_ERR, 0},
      {"250-localhost\r\n250-SIZE 1000\r\n250 HELP\r\n", OXMDL_ERR_NONE, 0},  // no AUTH line at all
      {"250 localhost\r\n", SMTP_GENERAL_ERR, 0},
      {"250\r\n", SMTP_GENERAL_ERR, 0},
      {"554 go away\r\n", SMTP_GENERAL_ERR, 0},
      {"554-go\r\n554 away\r\n", SMTP_EHLO_ERR, 0},
      {"501-syntax\r\n501 x\r\n", SMTP_GENERAL_ERR, 0},
      {"503-x\r\n503 x\r\n", SMTP_GENERAL_ERR, 0},
      {"504-x\r\n504 x\r\n", SMTP_GENERAL_ERR, 0},
      {"25", SMTP_GENERAL_ERR, 0},
  };
  for (const auto& c : cases) {
    unsigned caps = 99;
    EXPECT_EQ(ehloCapabilities(c.reply, &caps), c.code) << c.reply;
    EXPECT_EQ(caps, c.caps) << c.reply;
  }
}

TEST(SmtpReply, CramMd5AnswerAndAddressCommands) {
  // RFC 2195's example: user "tim", key "tanstaaftanstaaf".
  std::string answer = "untouched";
  ASSERT_TRUE(cramMd5Answer("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n", "tim",
                            "tanstaaftanstaaf", &answer));
  EXPECT_EQ(answer, "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n");
  for (const char* bad : {"334 not base64!\r\n", "334 \r\n", "334 abc\r\n", "334 a=bc\r\n", "334 a===\r\n",
                          "335 PDE+\r\n", "334PDE+\r\n"}) {
    answer = "untouched";
    EXPECT_FALSE(cramMd5Answer(bad, "u", "p", &answer)) << bad;
    EXPECT_EQ(answer, "untouched");
  }
  std::string line = "untouched";
  for (const std::string& bad : {std::string("a@x\nDATA"), std::string("a@x\rQUIT"), std::string("a@x\0y", 5)}) {
    EXPECT_FALSE(addressCommand("RCPT TO: <", bad, &line));
    EXPECT_EQ(line, "untouched");
  }
}

}  // namespace
}  // namespace oxm::smtp
