// The protocol log: written only when its file exists, long replies cut, secrets masked.
#include "transport/protocol_log.h"

#include <filesystem>

#include "platform/clock.h"
#include "tests/support/testroot.h"

namespace oxm::transport {
namespace {

using ProtocolLogTest = test::RootTest;

const char kSeparator[] = "--------------------------------------------------\r\n";

TEST_F(ProtocolLogTest, WritesOnlyWhenTheFileExists) {
  setFixedClock(SYSTEMTIME{2026, 3, 0, 9, 23, 4, 5, 678}, -540);  // local time 2026/03/10 08:04:05
  const std::string file = root_.host("Application Data/OxenMail/OxMailLog.txt");
  // No file: disabled; named, but its folder is missing: enabled, yet nothing is written.
  for (const char* name : {"", "\\missing dir\\trace.txt"}) {
    ProtocolLog log = *name ? ProtocolLog(name, "ab") : ProtocolLog();
    EXPECT_EQ(log.enabled(), *name != 0);
    EXPECT_EQ(log.start("*** Pop Protocol Start ", 23), 0u);
    EXPECT_EQ(log.write("USER a\r\n", 8), 0u);
    EXPECT_EQ(log.write_free("%d", 5), 0);
    log.logCommand("USER a\r\n", 8);
  }
  EXPECT_FALSE(test::hostFileExists(file));
  std::filesystem::create_directories(root_.host("Application Data/OxenMail"));
  test::writeHostFile(file, "");
  ProtocolLog log;
  EXPECT_TRUE(log.enabled());
  EXPECT_EQ(log.start("*** Pop Protocol Start ", 23), 50u + 2 + 23 + 28 + 52);
  log.logCommand("USER alice\r\n", 12);
  log.logReply("+OK\r\n", 5);
  log.logCommand("DELE 3\r\n", 8);
  log.disconnected();
  EXPECT_EQ(test::readHostFile(file),
            std::string(kSeparator) + "*** Pop Protocol Start  [2026/03/10 08:04:05] ***\r\n" + kSeparator +
                "-[OUT(12)]USER alice\r\n"
                "-[IN (05)]+OK\r\n"
                "\r\n-[OUT(08)]DELE 3\r\n"
                "*** diconnect RAS Connection ***\r\n");
}

// Replies over 2048 bytes are cut but keep their length; secrets are masked with theirs.
TEST_F(ProtocolLogTest, LongRepliesCutAndSecretsMasked) {
  ProtocolLog log("\\trace.txt", "ab");
  std::string reply(5000, 'r');
  log.logReply(reply.data(), reply.size());
  EXPECT_EQ(log.write(reply.data(), 2049), 2048u);
  EXPECT_EQ(log.write(reply.data(), 2048), 2048u);
  EXPECT_EQ(log.write_free("[%s:%03d]", "n", 7), 7);
  std::string want = "-[IN (5000)]" + std::string(2048 * 3, 'r') + "[n:007]";
  const std::pair<std::string, std::string> secrets[] = {
      {"PASS secret1\r\n", "-[OUT(14)]PASS *******\r\n"},
      {"APOP alice c36d46c9a1b2\r\n", "-[OUT(25)]APOP alice ************\r\n"},
      {"YWxpY2U=\r\n", "-[OUT(10)]********\r\n"},
      {"PASS \r\n", "-[OUT(07)]PASS \r\n"},
      {"APOP nodigest\r\n", "-[OUT(15)]APOP ********\r\n"},
  };
  for (const auto& [command, logged] : secrets) {
    log.logCommand(command.data(), command.size(), true);
    want += logged;
  }
  EXPECT_EQ(test::readHostFile(root_.host("trace.txt")), want);
}

}  // namespace
}  // namespace oxm::transport
