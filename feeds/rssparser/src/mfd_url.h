// The document location: a "file:///" URL whose path is a device path
// ("file:///Application Data/Rivulet/Tmp/recv.rss"). "%XX" escapes are decoded.
#pragma once

#include "feeds/rssparser/src/mfd_str.h"

namespace oxm {

struct mfd_url {
  mfd_str location;  // as given
  mfd_str path;      // the device path it names
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_url_create(mfd_url** out);
// Releases the earlier location first, then takes the new one. 3 for a null pointer, a scheme
// other than "file:///", an empty path, a bad "%" escape or a NUL in the path ("invalid url
// path" on the debug output); the object is then empty.
int mfd_url_set(mfd_url* url, const wchar_t* location);
// 3 for null pointers, 5 when no location is set.
int mfd_url_get_location(const mfd_url* url, const wchar_t** location);
int mfd_url_get_path(const mfd_url* url, const wchar_t** path);
int mfd_url_destroy(mfd_url** url);

}  // namespace oxm
