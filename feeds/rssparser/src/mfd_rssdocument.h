// A parsed feed document: its channels (RSS dialects) or channel sets (the maker's portal
// dialect), and the error records the parse left (line, column, message).
#pragma once

#include <cstddef>

#include "feeds/rssparser/src/mfd_list.h"
#include "feeds/rssparser/src/mfd_rsschannel.h"
#include "feeds/rssparser/src/mfd_rsschannelset.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

struct mfd_rssparser;
struct mfd_url;

struct mfd_rssdocument {
  mfd_list* channels;     // of mfd_rsschannel*
  mfd_list* channelsets;  // of mfd_rsschannelset*
  mfd_list* errors;       // of mfd_rss_error*, oldest first
  size_t errorsDropped;   // records beyond the cap, counted only
  int dialect;            // mfd_dialect of the first element (0 until recognised)
  bool parsed;
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_rssdocument_create(mfd_rssdocument** out);
// Releases every channel and channel set, then every error record, then the document.
int mfd_rssdocument_destroy(mfd_rssdocument** document);

// Parses the file the URL object points at into the document (a document is parsed once: a
// second parse is 3). Returns 0 when the feed was read (elements of namespaces the dialect does
// not accept are skipped and recorded, as are the reader's warnings and errors), 3 for a
// document that is not well-formed, an unreadable file, or a first element of no known dialect,
// 4 for a value outside an enumerated element's set, 2 when memory runs out or the document
// exceeds a limit of rsshandler (text of one element, size of the tree, elements of one item,
// entity expansion). On failure the records say why and the partial tree stays for the destroy
// function.
int mfd_rssdocument_parse(const mfd_rssparser* parser, mfd_rssdocument* document, const mfd_url* url);
// The same over bytes in memory.
int mfd_rssdocument_parse_memory(const mfd_rssparser* parser, mfd_rssdocument* document,
                                 const char* bytes, size_t size);

// 3 for null pointers, 5 when the document has none.
int mfd_rssdocument_get_channels(const mfd_rssdocument* document, mfd_list** channels);
int mfd_rssdocument_get_channelsets(const mfd_rssdocument* document, mfd_list** channelsets);
// The dialect the first element was recognised as (an mfd_dialect value); 5 before that.
int mfd_rssdocument_get_dialect(const mfd_rssdocument* document, int* dialect);
// Takes the first error record out of the document; the caller releases it with
// mfd_rss_error_destroy. 5 when there is none.
int mfd_rssdocument_take_error(mfd_rssdocument* document, mfd_rss_error** error);

// Used by the handlers while parsing: append a channel / a channel set (owned by the document
// on success) and an error record (2 when memory runs out).
int mfd_rssdocument_add_channel(mfd_rssdocument* document, mfd_rsschannel* channel);
int mfd_rssdocument_add_channelset(mfd_rssdocument* document, mfd_rsschannelset* set);
int mfd_rssdocument_add_error(mfd_rssdocument* document, int line, int column, const char* utf8, size_t size);

}  // namespace oxm
