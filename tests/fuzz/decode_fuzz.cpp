// libFuzzer target: any bytes as a received message. Decodes it by every entry point and
// transfer-decodes every enclosure it lists, in memory, under both device code pages.
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/emlcompose.h"
#include "codec/enclosure.h"
#include "platform/codepage.h"
#include "platform/memory.h"

namespace {

void decodeEveryWay(const std::string& raw) {
  EmlCompose codec;
  Email e;
  if (codec.Decode(&e, &raw)) {
    std::string text = raw;
    for (Enclosure part : e.enclosures) {
      if (part.bodyOffset > text.size()) __builtin_trap();
      std::string body = text.substr(part.bodyOffset, part.bodyLength);
      oxm::decodeEnclosure(&body, &part);
    }
  }
  Email summary;
  codec.DecodeSimple(&summary, &raw, -1);
  std::string saved = raw;
  codec.DecodeForSave(&summary, &saved);
  std::string field;
  codec.GetHeaderField(raw, "Subject", &field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = (oxm::setFixedAvailPhys(uint64_t{1} << 30), true);  // no /proc read per run
  (void)once;
  const std::string raw(reinterpret_cast<const char*>(data), size);
  for (const UINT page : {932u, 65001u}) {
    oxm::setActiveCodePage(page);
    decodeEveryWay(raw);
  }
  return 0;
}
