// The parser object: the XML reader's SAX2 interface with this library's content and error
// handlers installed. One parser serves any number of documents, one at a time per thread.
#pragma once

namespace oxm {

struct mfd_rssparser {
  void* sax;  // the reader's handler table (xmlSAXHandler)
};

// Initialises the XML library and builds the handler table. 3 when *out is not null
// beforehand, 1 when the reader lacks the SAX2 push interface, 2 when memory runs out.
int mfd_rssparser_create(mfd_rssparser** out);
int mfd_rssparser_destroy(mfd_rssparser** parser);

// Test hook: create behaves as with a reader that lacks the interface.
void mfd_rssparser_hide_reader(bool hidden);

}  // namespace oxm
