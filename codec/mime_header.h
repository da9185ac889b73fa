// The header of one MIME part: media type and parameters, transfer encoding, disposition,
// content identifiers; RFC 2231 parameter assembly and the rules for file names.
#pragma once

#include <string>
#include <string_view>

#include "codec/email.h"

namespace oxm {

// Longest file name kept, in UTF-16 characters.
constexpr size_t kMaxFileName = 200;

// Name and value of one parameter of a header value ("; name=value"). Quotes are removed (a
// backslash before a quote keeps the quote in the value), comments in parentheses skipped,
// values trimmed; names are lower case.
class ParamReader {
 public:
  // Starts after the main value (the text before the first ";" outside quotes).
  explicit ParamReader(std::string_view value);
  std::string_view mainValue() const { return main_; }
  // False at the end. *start receives the parameter's position, for rewind().
  bool next(std::string* name, std::string* value, size_t* start = nullptr);
  void rewind(size_t start) { pos_ = start; }

 private:
  void skipBlanksAndComments();
  std::string_view text_;
  std::string_view main_;
  size_t pos_ = 0;
};

// Assembles the RFC 2231 pieces of one parameter (RFC 2231 sections 3 and 4): the reader is at
// the first piece, whose name (given) begins with `prefix`; pieces are read while their names
// do, and the reader is left at the first one that does not.
std::string parseRFC2231(ParamReader* reader, const std::string& firstName, const std::string& firstValue,
                         std::string_view prefix);

// The file-name rules: "/ \ : * ? \" < > |" removed where they stand as single bytes, converted
// to wide, cut to 200 characters; an empty result is "NoName".
std::wstring fileNameRules(const std::string& narrow);

struct PartHeader {
  Enclosure enclosure;
  std::string boundary;  // "--" + the boundary parameter, narrow, empty when there is none
  std::string type;      // narrow copies of enclosure.type and .subtype, lower case
  std::string subtype;
};

// Reads one part header from *pos (moved to the first byte of the body).
PartHeader parseMimeHeader(const std::string& text, size_t* pos);

}  // namespace oxm
