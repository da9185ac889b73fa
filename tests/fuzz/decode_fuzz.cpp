// libFuzzer target: any bytes as a received message, decoded by every entry point with every
// enclosure transfer-decoded, under both device code pages.
#include <string>

#include "codec/emlcompose.h"
#include "codec/enclosure.h"
#include "platform/codepage.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  oxm::fuzz::fixedMemory();
  const std::string raw(oxm::fuzz::text(data, size));
  for (const UINT page : {932u, 65001u}) {
    oxm::setActiveCodePage(page);
    EmlCompose codec;
    Email e;
    if (codec.Decode(&e, &raw)) {
      for (Enclosure part : e.enclosures) {
        oxm::fuzz::require(part.bodyOffset <= raw.size());
        std::string body = raw.substr(part.bodyOffset, part.bodyLength);
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
  return 0;
}
