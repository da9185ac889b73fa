// libFuzzer target of the POP3 reply reading and what the client relies on; byte 0: the piece size.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz.h"
#include "transport/dotstuff.h"
#include "transport/pop_reply.h"

using oxm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view reply = oxm::fuzz::text(data + 1, size - 1);
  namespace pop = oxm::pop;

  // The part up to the end is a complete multi-line reply or a "-" error line.
  const size_t whole = oxm::fuzz::replyEnd<oxm::transport::DotEnd>(reply, data[0] % 16 + 1);
  if (whole != oxm::transport::ReplyEnd::npos) {
    std::string_view complete = reply.substr(0, whole);
    require(pop::endsMultiLine(complete) || (complete.starts_with("-") && complete.ends_with("\r\n")));
  }

  pop::checkUidlStart(reply);
  std::vector<std::string> lines;
  if (pop::splitUidlList(reply, &lines) == 0) {
    std::vector<std::string> uids;
    for (const std::string& line : lines) {
      require(pop::uidlLineOk(line) && line.find("\r\n") == std::string::npos);
      uids.emplace_back(pop::lineUid(line));
    }
    // Every line holds its own UID.
    pop::UidSet set(uids);
    for (const std::string& line : lines) require(set.heldBy(line));
  }

  long a = 0, b = 0;
  pop::parseTwoNumbers(reply, &a, &b);
  require(a >= 0 && b >= 0);
  pop::forEachListLine(reply, [](std::string_view, long size) { require(size >= 0); });

  std::string text;
  if (pop::extractMessage(reply, &text)) {
    require(text.size() <= reply.size());
    size_t before = text.size();
    oxm::transport::dotUnstuff(text);
    require(text.size() <= before);
  }
  pop::apopTimestamp(reply);
  return 0;
}
