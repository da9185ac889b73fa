#include "store/messagefile.h"

#include <cstddef>
#include <cstring>

#include "platform/clock.h"

namespace oxm {

static_assert(offsetof(MessageFileHeader, version) == 12);
static_assert(offsetof(MessageFileHeader, flags) == 16);
static_assert(offsetof(MessageFileHeader, time) == 20);
static_assert(offsetof(MessageFileHeader, text) == 36);
static_assert(offsetof(MessageFileHeader, numericAttribute) == 136);
static_assert(offsetof(MessageFileHeader, byteAttribute) == 140);

namespace {
constexpr char kMagic[12] = {'O', 'X', 'M', 'A', 'I', 'L', 'E', 'M', 'L', 'F', 'M', 'T'};
}  // namespace

MessageFileHeader newMessageHeader() {
  MessageFileHeader h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.version = kMessageVersion;
  GetSystemTime(&h.time);
  return h;
}

bool hasMagic(const MessageFileHeader& h) { return std::memcmp(h.magic, kMagic, sizeof kMagic) == 0; }

bool knownVersion(const MessageFileHeader& h) {
  return h.version >= kOldestMessageVersion && h.version <= kMessageVersion;
}

std::string textAttribute(const MessageFileHeader& h) {
  size_t n = 0;
  while (n < kTextAttributeBytes && h.text[n] != 0) ++n;
  return std::string(h.text, n);
}

void setTextAttribute(MessageFileHeader* h, const std::string& text) {
  std::memset(h->text, 0, sizeof h->text);
  size_t n = std::min(text.size(), kTextAttributeBytes);
  std::memcpy(h->text, text.data(), n);
}

}  // namespace oxm
