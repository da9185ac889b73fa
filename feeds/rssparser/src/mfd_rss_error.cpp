#include "feeds/rssparser/src/mfd_rss_error.h"

#include "feeds/rssparser/src/mfd_alloc.h"

namespace oxm {

int mfd_rss_error_create(mfd_rss_error** out, int line, int column, const char* utf8, size_t size) {
  if (!out) return MFD_INVALID;
  mfd_rss_error* e = MFD_NEW(mfd_rss_error);
  if (!e) return MFD_NO_MEMORY;
  e->line = line;
  e->column = column;
  if (const int rc = mfd_str_set_utf8(&e->message, utf8, size); rc != MFD_OK) {
    mfd_free(e);
    return rc;
  }
  *out = e;
  return MFD_OK;
}

int mfd_rss_error_get_line(const mfd_rss_error* error, int* line) {
  if (!error || !line) return MFD_INVALID;
  *line = error->line;
  return MFD_OK;
}

int mfd_rss_error_get_column(const mfd_rss_error* error, int* column) {
  if (!error || !column) return MFD_INVALID;
  *column = error->column;
  return MFD_OK;
}

int mfd_rss_error_get_message(const mfd_rss_error* error, const wchar_t** message) {
  if (!error) return MFD_INVALID;
  return mfd_str_get(&error->message, message);
}

int mfd_rss_error_destroy(mfd_rss_error** error) {
  if (!error || !*error) return MFD_INVALID;
  mfd_str_clear(&(*error)->message);
  mfd_free(*error);
  *error = nullptr;
  return MFD_OK;
}

}  // namespace oxm
