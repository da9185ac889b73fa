// The attributes of a new message that the classifier, the sender and oxmail's compose store
// from a text they were given (made whole with them by MessageMaker).
#pragma once

#include <string>

#include "codec/email.h"
#include "store/message_interface.h"

class EmlCompose;

namespace oxm {

// The attributes of a new message from its decoded header: every file and header field, flags
// off but for the attachment flag, time and date `localTime` as UTC, the first To address, the
// sender's address and name, and the subject. The caller adds what is its own (unread, partial,
// the text attribute).
OxMessageInterface::Attributes newMessageAttributes(EmlCompose& codec, const Email& header, bool hasAttachments,
                                                    unsigned int numericAttribute, const SYSTEMTIME& localTime);

}  // namespace oxm
