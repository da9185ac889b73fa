// The decoding steps behind EmlCompose's entry points, returning the library code.
#pragma once

#include <string>

struct Email;

namespace oxm {

// Nesting levels (multiparts inside multiparts, attached messages inside attached messages)
// that are walked; deeper levels are left unread, so that any input ends without exhausting
// the stack.
constexpr int kMaxMimeDepth = 100;

// Resets every field except appData, senderLabel and relatedFiles.
void clearEmail(Email* email);
// The memory check before a decode, then CR LF to LF from raw into *text.
unsigned convertDecodeData(const std::string& raw, std::string* text);
// Header, then body, of LF text; `depth` counts the enclosing levels (0 for a message).
unsigned decodeCore(Email* email, const std::string& text, int depth);

}  // namespace oxm
