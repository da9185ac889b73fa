// Dot-stuffing of message text on the wire (POP3 RETR/TOP replies, SMTP DATA).
#pragma once

#include <string>

namespace oxm::transport {

// For sending, in place: every "\r\n." becomes "\r\n.."; when the text then ends with ".",
// one more "." is appended.
void dotStuff(std::string& text);

// For receiving, in place: every "\r\n.." becomes "\r\n."; a text that then ends with ".."
// loses its last dot.
void dotUnstuff(std::string& text);

}  // namespace oxm::transport
