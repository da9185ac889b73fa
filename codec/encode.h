// Encoding of whole outgoing messages: EmlCompose's sending members without the last-error
// variable. Each returns the library code and leaves its outputs untouched on failure.
#pragma once

#include <string>

#include "codec/email.h"

namespace oxm {

unsigned encodeMessage(Email* mail, std::string* out, RawEmail_S* raw);
unsigned encodeWithoutEnclosure(Email* mail, std::string* out, const std::string* raw);
unsigned deleteEnclosureFromRawData(const std::string* raw, std::string* out);
// The second half of deleteEnclosureFromRawData, for a caller that has decoded raw into *mail
// already (mail's enclosures are cut down here).
unsigned copyWithoutEnclosures(Email* mail, const std::string& raw, std::string* out);
unsigned emlToRawEmailS(std::string* raw, RawEmail_S* out);

// The "sent from" footer goes on a message that is not multipart unless this registry value is a
// DWORD other than 1.
bool footerWanted();

}  // namespace oxm
