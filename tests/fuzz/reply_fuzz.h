// Shared by the fuzz targets of the POP3 and SMTP reply reading.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "transport/reply_end.h"

namespace oxm::fuzz {

// A property the client relies on: a violation is a crash for the fuzzer.
inline void require(bool ok) {
  if (!ok) std::abort();
}

// Feeds the reply to a fresh end test of kind `End` in pieces of `piece` bytes; the end must be
// found at the same place whatever the piece size.
template <class End>
size_t endInPieces(std::string_view reply, size_t piece) {
  End end;
  for (size_t at = 0; at < reply.size();) {
    const size_t n = std::min(piece, reply.size() - at);
    const size_t used = end.feed(reply.data() + at, n);
    if (used != oxm::transport::ReplyEnd::npos) return at + used;
    at += n;
  }
  return oxm::transport::ReplyEnd::npos;
}

}  // namespace oxm::fuzz
