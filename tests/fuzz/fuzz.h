// Shared by the libFuzzer targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/memory.h"
#include "transport/reply_end.h"

namespace oxm::fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property the library guarantees: a violation is a crash for the fuzzer.
inline void require(bool ok) {
  if (!ok) std::abort();
}

// A fixed amount of free memory, so that no run reads /proc.
inline void fixedMemory() { setFixedAvailPhys(uint64_t{1} << 30); }

// Where a reply ends for an end test of kind `End` fed pieces of `piece` bytes (npos: not yet).
template <class End>
size_t endFedIn(std::string_view reply, size_t piece) {
  End end;
  for (size_t at = 0; at < reply.size(); at += piece) {
    const size_t used = end.feed(reply.data() + at, std::min(piece, reply.size() - at));
    if (used != transport::ReplyEnd::npos) return at + used;
  }
  return transport::ReplyEnd::npos;
}

// The same fed whole and in pieces: the place must not depend on how the reply arrives.
template <class End>
size_t replyEnd(std::string_view reply, size_t piece) {
  const size_t whole = endFedIn<End>(reply, reply.size() + 1);
  require(whole == endFedIn<End>(reply, piece));
  return whole;
}

}  // namespace oxm::fuzz
