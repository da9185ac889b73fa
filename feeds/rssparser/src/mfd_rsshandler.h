// The content and error handlers the XML reader calls while it parses a feed: dialect
// recognition at the first element, each dialect's namespaces and vocabulary, the open
// containers (channel, item, image, text input, cloud, skipHours, skipDays, channel set) and
// where each element's text goes, and the error records.
#pragma once

#include <cstddef>

struct _xmlSAXHandler;

namespace oxm {

struct mfd_rssdocument;
struct mfd_rssparser;

// Limits of one parse; going past one ends it with 2 and a record saying which.
inline constexpr size_t kMfdMaxTextBytes = 1 << 20;       // the text of one element (UTF-8)
inline constexpr size_t kMfdMaxTreeBytes = 32u << 20;     // what the tree holds in all
inline constexpr size_t kMfdMaxItemElements = 10000;      // elements inside one item
inline constexpr size_t kMfdMaxDepth = 256;                // elements open at once

// Fills the reader's handler table with this library's handlers.
void mfd_rsshandler_install(_xmlSAXHandler* sax);

// Pushes the document into the reader `chunk` bytes at a time; `readChunk` returns the bytes it
// put into the buffer, 0 at the end, -1 on a read error. Returns the parse's code (see
// mfd_rssdocument_parse).
using mfd_read_fn = long (*)(void* context, char* buffer, size_t size);
int mfd_rsshandler_parse(const mfd_rssparser* parser, mfd_rssdocument* document, mfd_read_fn readChunk,
                         void* context, size_t chunk);

}  // namespace oxm
