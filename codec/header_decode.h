// The message header into the record: the recognised fields, in the order of the table in
// header_decode.cpp.
#pragma once

#include <string>

struct Email;

namespace oxm {

// Reads the header of the LF text from *pos (moved past the empty line). *oversize tells
// whether "X-Oversize-Oxmail:" was present. When no Date was usable and the message is not a
// feed item, a Date line is made from the clock (Email.synthesizedDate). Returns
// OXMDL_ERR_NONE or the code of a failed heap probe.
unsigned parseHeader(const std::string& text, size_t* pos, Email* email, bool* oversize);

// EmlCompose::GetHeaderField without the last-error variable.
unsigned getHeaderField(const std::string& raw, const std::string& name, std::string* out);

}  // namespace oxm
