// Result codes of every function of the parser library, and the error records a parse leaves
// in its document (line, column and message of each complaint of the XML reader or of the
// handlers).
#pragma once

#include <cstddef>

#include "feeds/rssparser/src/mfd_str.h"

namespace oxm {

enum : int {
  MFD_OK = 0,
  MFD_NO_READER = 1,   // the XML reader lacks the SAX2 interface
  MFD_NO_MEMORY = 2,   // out of memory, or the parse hit a resource limit
  MFD_INVALID = 3,     // null pointer, object already created, invalid URL, or parse failure
  MFD_BAD_VALUE = 4,   // a value outside an enumerated element's set
  MFD_ABSENT = 5,      // the value or list is not there
};

struct mfd_rss_error {
  int line;
  int column;
  mfd_str message;
};

// A record with a copy of the UTF-8 message; 2 when memory runs out (*out untouched).
int mfd_rss_error_create(mfd_rss_error** out, int line, int column, const char* utf8, size_t size);
// 3 for a null record or out pointer; the message is 5 when empty.
int mfd_rss_error_get_line(const mfd_rss_error* error, int* line);
int mfd_rss_error_get_column(const mfd_rss_error* error, int* column);
int mfd_rss_error_get_message(const mfd_rss_error* error, const wchar_t** message);
// Releases the record and nulls the pointer; 3 for a null pointer.
int mfd_rss_error_destroy(mfd_rss_error** error);

}  // namespace oxm
