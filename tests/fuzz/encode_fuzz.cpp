// libFuzzer target: any bytes as a received message, encoded again with its parts and without,
// quoted, prepared for sending (every encoded text must decode again), and as a mailto URL.
// The device code page is 65001 for inputs of odd length, 932 for the others.
#include <string>

#include "codec/emlcompose.h"
#include "codec/quote_email.h"
#include "platform/codepage.h"
#include "tests/fuzz/fuzz.h"

using oxm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  oxm::fuzz::fixedMemory();
  const std::string raw(oxm::fuzz::text(data, size));
  oxm::setActiveCodePage(size % 2 ? 65001u : 932u);
  EmlCompose codec;
  Email mail;
  if (codec.Decode(&mail, &raw)) {
    std::string copy;
    Email withParts = mail;
    Email again;
    require(codec.EncodeWithoutEnclosure(&withParts, &copy, &raw) && codec.Decode(&again, &copy));
    codec.DeleteEnclosureFromRawData(&raw, &copy);
    // Without files to read, a message without parts always encodes.
    mail.enclosures.clear();
    mail.relatedFiles.clear();
    for (int kind : {QuoteEmail::REPLY_ALL, QuoteEmail::FORWARD}) {
      Email draft = mail;
      QuoteEmail().Convertmaildata(kind, L"me@example.jp", &draft);
      std::string out;
      RawEmail_S envelope;
      require(codec.Encode(&draft, &out, &envelope) && codec.Decode(&again, &out));
      RawEmail_S sending;
      codec.EmlToRawEmailS(&out, &sending);
    }
  }
  Email draft;
  codec.ParseMailto(raw, &draft);
  return 0;
}
