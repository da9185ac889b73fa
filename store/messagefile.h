// The message file, DATA\LL\HH.eml: a 256-byte little-endian header (magic "OXMAILEMLFMT",
// format version, four flag bytes, time, text attribute, numeric and byte attributes) followed
// by the message text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wintypes.h"

namespace oxm {

inline constexpr size_t kMessageHeaderBytes = 256;
inline constexpr uint32_t kMessageVersion = 0x1002;
inline constexpr uint32_t kOldestMessageVersion = 0x1000;
inline constexpr size_t kTextAttributeBytes = 100;

struct MessageFileHeader {
  char magic[12];
  uint32_t version;
  uint8_t flags[4];  // unread, attachment, partial, keep
  SYSTEMTIME time;   // UTC
  char text[kTextAttributeBytes];
  uint32_t numericAttribute;  // version 0x1002 on
  uint8_t byteAttribute;      // version 0x1002 on
  uint8_t zero[115];
};
static_assert(sizeof(MessageFileHeader) == kMessageHeaderBytes);

// Magic and version 0x1002, zero flags, the current UTC time, every other byte zero.
MessageFileHeader newMessageHeader();
bool hasMagic(const MessageFileHeader& h);
bool knownVersion(const MessageFileHeader& h);
// The text attribute: its bytes up to the first NUL or all 100.
std::string textAttribute(const MessageFileHeader& h);
// Stores `text` with its terminator when it fits, else its first 100 bytes.
void setTextAttribute(MessageFileHeader* h, const std::string& text);

}  // namespace oxm
