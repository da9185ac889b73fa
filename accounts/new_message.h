// A new message of a folder, made whole or not at all: the one way the classifier, the sender
// and oxmail's compose store a message they were given as text.
#pragma once

#include <string>

#include "codec/email.h"
#include "store/message_interface.h"

class EmlCompose;
class OxFolderInterface;
class OxStorageInterface;

namespace oxm {

// The attributes of a new message from its decoded header: every file and header field, flags
// off but for the attachment flag, time and date `localTime` as UTC, the first To address, the
// sender's address and name, and the subject. The caller adds what is its own (unread, partial,
// the text attribute).
OxMessageInterface::Attributes newMessageAttributes(EmlCompose& codec, const Email& header, bool hasAttachments,
                                                    unsigned int numericAttribute, const SYSTEMTIME& localTime);

// Which of text and attributes a new message gets first. The sender's sent copies take the text
// first, so that a copy cut short by a crash still shows the Message-Id it was sent with.
enum class FirstWrite { Attributes, Text };

// Makes a message of `folder` with `text` and `attributes`: made whole with both (Attributes), or
// made, written and then given its attributes (Text). On any failure nothing of the message is
// left and false is returned with the failure's code as the last error. *id is the new
// message's on success.
bool storeNewMessage(OxStorageInterface& storage, OxFolderInterface& folder, const std::string& text,
                     const OxMessageInterface::Attributes& attributes, FirstWrite first, unsigned long* id);

}  // namespace oxm
