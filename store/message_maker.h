// A new message made with its attributes and its text from the start: its message-list line,
// message file and header record are each written once, with their final content, where
// CreateMessage followed by SetAttributes and Write writes the list and the message file more
// than once. The message file shows whole or not at all.
#pragma once

#include <string>

#include "store/message_interface.h"

class OxFolderInterface;

namespace oxm {

class MessageMaker {
 public:
  // OxFolderInterface::CreateMessage(id, size of text), leaving the message as
  // SetAttributes(initial) and Write(text) right after it would (files and notifications); false
  // with the last-error code on failure.
  static bool create(OxFolderInterface& folder, const OxMessageInterface::Attributes& initial, const std::string& text,
                     unsigned long* id);
};

}  // namespace oxm
