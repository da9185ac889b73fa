#include "feeds/rssparser/src/mfd_rssdocument.h"

#include <algorithm>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rsshandler.h"
#include "feeds/rssparser/src/mfd_url.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// Records kept per document; later ones are only counted.
constexpr size_t kMaxErrorRecords = 100;
// Bytes read from the file per push into the reader.
constexpr size_t kReadChunk = 64 * 1024;

void releaseSet(void* set) {
  auto* s = static_cast<mfd_rsschannelset*>(set);
  mfd_rsschannelset_destroy(&s);
}
void releaseError(void* error) {
  auto* e = static_cast<mfd_rss_error*>(error);
  mfd_rss_error_destroy(&e);
}

struct MemorySource {
  const char* bytes;
  size_t size;
  size_t at;
};

long readMemory(void* context, char* buffer, size_t size) {
  auto* m = static_cast<MemorySource*>(context);
  const size_t n = std::min(size, m->size - m->at);
  std::copy(m->bytes + m->at, m->bytes + m->at + n, buffer);
  m->at += n;
  return static_cast<long>(n);
}

long readFile(void* context, char* buffer, size_t size) {
  size_t got = 0;
  return static_cast<File*>(context)->read(buffer, size, &got) ? static_cast<long>(got) : -1;
}

int checkParse(const mfd_rssparser* parser, const mfd_rssdocument* document) {
  if (!parser || !document || document->parsed) return MFD_INVALID;
  return MFD_OK;
}

}  // namespace

int mfd_rssdocument_create(mfd_rssdocument** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rssdocument);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

int mfd_rssdocument_destroy(mfd_rssdocument** document) {
  if (!document || !*document) return MFD_INVALID;
  mfd_list_destroy(&(*document)->channels, mfd_rsschannel_release);
  mfd_list_destroy(&(*document)->channelsets, releaseSet);
  mfd_list_destroy(&(*document)->errors, releaseError);
  mfd_free(*document);
  *document = nullptr;
  return MFD_OK;
}

int mfd_rssdocument_parse(const mfd_rssparser* parser, mfd_rssdocument* document, const mfd_url* url) {
  if (const int rc = checkParse(parser, document); rc != MFD_OK) return rc;
  const wchar_t* path = nullptr;
  if (mfd_url_get_path(url, &path) != MFD_OK) return MFD_INVALID;
  document->parsed = true;
  File file;
  if (!file.open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    static const char kMessage[] = "fatalError: the document cannot be opened";
    const int rc = mfd_rssdocument_add_error(document, 0, 0, kMessage, sizeof(kMessage) - 1);
    return rc == MFD_OK ? MFD_INVALID : rc;
  }
  return mfd_rsshandler_parse(parser, document, readFile, &file, kReadChunk);
}

int mfd_rssdocument_parse_memory(const mfd_rssparser* parser, mfd_rssdocument* document,
                                 const char* bytes, size_t size) {
  if (const int rc = checkParse(parser, document); rc != MFD_OK) return rc;
  if (!bytes && size) return MFD_INVALID;
  document->parsed = true;
  MemorySource source{bytes, size, 0};
  return mfd_rsshandler_parse(parser, document, readMemory, &source, std::clamp<size_t>(size, 1, kReadChunk));
}

int mfd_rssdocument_get_channels(const mfd_rssdocument* document, mfd_list** channels) {
  return mfd_list_get(document, document ? document->channels : nullptr, channels);
}

int mfd_rssdocument_get_channelsets(const mfd_rssdocument* document, mfd_list** channelsets) {
  return mfd_list_get(document, document ? document->channelsets : nullptr, channelsets);
}

int mfd_rssdocument_get_dialect(const mfd_rssdocument* document, int* dialect) {
  if (!document || !dialect) return MFD_INVALID;
  if (!document->dialect) return MFD_ABSENT;
  *dialect = document->dialect;
  return MFD_OK;
}

int mfd_rssdocument_take_error(mfd_rssdocument* document, mfd_rss_error** error) {
  if (!document || !error) return MFD_INVALID;
  void* first = nullptr;
  if (!document->errors || mfd_list_first(document->errors, &first) != MFD_OK) return MFD_ABSENT;
  mfd_list_remove_current(document->errors, &first);
  *error = static_cast<mfd_rss_error*>(first);
  return MFD_OK;
}

int mfd_rssdocument_add_channel(mfd_rssdocument* document, mfd_rsschannel* channel) {
  if (!document) return MFD_INVALID;
  return mfd_list_append_to(&document->channels, channel);
}

int mfd_rssdocument_add_channelset(mfd_rssdocument* document, mfd_rsschannelset* set) {
  if (!document) return MFD_INVALID;
  return mfd_list_append_to(&document->channelsets, set);
}

int mfd_rssdocument_add_error(mfd_rssdocument* document, int line, int column, const char* utf8, size_t size) {
  if (!document) return MFD_INVALID;
  if (document->errors && document->errors->count >= kMaxErrorRecords) {
    ++document->errorsDropped;
    return MFD_OK;
  }
  mfd_rss_error* error = nullptr;
  if (const int rc = mfd_rss_error_create(&error, line, column, utf8, size); rc != MFD_OK) return rc;
  if (const int rc = mfd_list_append_to(&document->errors, error); rc != MFD_OK) {
    mfd_rss_error_destroy(&error);
    return rc;
  }
  return MFD_OK;
}

}  // namespace oxm
