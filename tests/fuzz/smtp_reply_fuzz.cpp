// libFuzzer target of the SMTP reply reading and what the client relies on; byte 0: the piece size.
#include <string>

#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "tests/fuzz/fuzz.h"
#include "transport/smtp_reply.h"

using oxm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input = oxm::fuzz::text(data + 1, size - 1);
  namespace smtp = oxm::smtp;

  // The end is on the CR LF of a line "NNN ..." or "NNN".
  const size_t whole = oxm::fuzz::replyEnd<oxm::transport::SmtpEnd>(input, data[0] % 16 + 1);
  const std::string_view reply = whole == oxm::transport::ReplyEnd::npos ? input : input.substr(0, whole);
  if (whole != oxm::transport::ReplyEnd::npos) {
    require(reply.ends_with("\r\n"));
    const size_t start = reply.rfind("\r\n", reply.size() - 3);
    const std::string_view last = reply.substr(start == std::string_view::npos ? 0 : start + 2);
    require(last.size() >= 5 && (last[3] == ' ' || last.size() == 5));
  }

  if (smtp::replyIs(reply, {"250", "354"})) require(reply[3] == ' ' || reply[3] == '\r');
  smtp::ehloRefused(reply);
  smtp::offersStartTls(reply);
  unsigned caps = 99;
  const unsigned code = smtp::ehloCapabilities(reply, &caps);
  require(code == OXMDL_ERR_NONE || code == SMTP_GENERAL_ERR || code == SMTP_EHLO_ERR || code == SMTP_AUTH_METHOD_ERR);
  require(caps <= (smtp::kAuthLogin | smtp::kAuthCramMd5));
  require(code != SMTP_AUTH_METHOD_ERR || caps == 0);

  // A usable challenge gives one line: Base64 of "user <32 hex digits>".
  std::string answer;
  if (smtp::cramMd5Answer(reply, "user", "password", &answer)) {
    require(answer.ends_with("\r\n") && answer.find_first_of("\r\n") == answer.size() - 2);
    const std::string plain = oxm::base64Decode(std::string_view(answer).substr(0, answer.size() - 2));
    require(plain.size() == 37 && plain.starts_with("user ") &&
            plain.find_first_not_of("0123456789abcdef", 5) == std::string::npos);
  }
  // Whatever the address, a command is one line or nothing.
  std::string line;
  if (smtp::addressCommand("RCPT TO: <", std::string(input), &line)) {
    require(line.find_first_of("\r\n") == line.size() - 2);
  }
  return 0;
}
