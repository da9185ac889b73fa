// A new message made with its attributes from the start: its message-list line, message file
// header and header record are each written once, with their final content, where
// CreateMessage followed by SetAttributes writes the list and the message file twice.
#pragma once

#include "store/message_interface.h"

class OxFolderInterface;

namespace oxm {

class MessageMaker {
 public:
  // OxFolderInterface::CreateMessage(id, size), leaving the message as SetAttributes(initial)
  // right after it would (files and notifications); false with the last-error code on failure.
  static bool create(OxFolderInterface& folder, unsigned long size, const OxMessageInterface::Attributes& initial,
                     unsigned long* id);
};

}  // namespace oxm
