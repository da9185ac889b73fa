// The message codec as the store uses it: header fields of stored text by a full decode,
// Email records encoded for storing, and copies of stored messages without their attachments.
// The library registers it with the store when it loads, so that OxMessageInterface::Write
// (Email*), the header-cache rebuilds and recoveries, RemoveAttachments and the message
// importer work without any set-up by the program.
#pragma once

#include "store/message_codec.h"

namespace oxm {

// The one instance, the one registered at load.
MessageCodec& storeCodec();

}  // namespace oxm
