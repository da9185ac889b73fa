// Fuzz target of the POP3 reply reading: the UIDL list and its line check, the STAT/LIST
// numbers, the end of a multi-line reply seen in pieces, and the message text with its
// dot-stuffing undone. Besides crashes it checks what the client relies on.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transport/dotstuff.h"
#include "transport/pop_reply.h"
#include "tests/fuzz/reply_fuzz.h"
#include "transport/reply_end.h"

using oxm::fuzz::endInPieces;
using oxm::fuzz::require;
using End = oxm::transport::DotEnd;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 16 + 1;
  std::string_view reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  namespace pop = oxm::pop;

  // Where a multi-line reply ends: the same whole or in pieces, and the part up to it is a
  // complete reply ("-" error line or CR LF "." CR LF).
  size_t whole = endInPieces<End>(reply, reply.size() + 1);
  require(whole == endInPieces<End>(reply, piece));
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
