// The walk over the MIME tree of a decoded message: what becomes the plain body, the HTML body,
// an enclosure or a related file, and what is dropped. Parts are located by offset, never
// copied, except the text parts that become bodies.
#pragma once

#include <string>
#include <vector>

#include "codec/mime_header.h"
#include "platform/wintypes.h"

struct Email;

namespace oxm {

struct Walk {
  Email* email;
  const std::string& text;  // LF text of the whole message
  size_t pos = 0;           // current position, shared by all levels
  DWORD counter = 0;        // enclosures added so far
  int depth = 0;            // enclosing levels
  bool stopped = false;     // summary mode met its first text part
  std::vector<const std::string*> enclosing;  // boundaries of the levels around the current one
};

// Where `boundary` next stands as a whole line at or after `from`: at a line start, followed by
// an optional "--", optional blanks, tabs or CRs and the line end (or the end of the text), so that
// a boundary that is the prefix of a longer one is not taken for it. npos when it does not;
// *next is then the end of the text, else the position after its line end.
size_t findBoundaryLine(const std::string& text, const std::string& boundary, size_t from, size_t* next);

// From the top of the message (the message header is read again as the top part's header).
unsigned parseBody(Email* email, const std::string& text, size_t pos, int depth);
unsigned parseMime(Walk& walk, const PartHeader& level, bool alternative);
unsigned parseMimeContentText(Walk& walk, PartHeader& part, bool alternative);
unsigned parseMimeContentMessage(Walk& walk, PartHeader& part);
// True when the part became the plain body.
bool parseMimeExtractBody(Walk& walk, PartHeader& part);
// Adds the part to enclosures (true) or, carrying a Content-ID in an HTML message, to
// relatedFiles (false).
bool parseMimeAddEnclosure(Email* email, Enclosure part, DWORD index);

}  // namespace oxm
