#include "feeds/rssparser/src/mfd_rssparser.h"

#include <libxml/parser.h>

#include <atomic>
#include <cstring>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"
#include "feeds/rssparser/src/mfd_rsshandler.h"

namespace oxm {

namespace {

std::atomic<bool> readerHidden{false};

}  // namespace

int mfd_rssparser_create(mfd_rssparser** out) {
  if (!out || *out) return MFD_INVALID;
  xmlInitParser();
  if (readerHidden || !xmlHasFeature(XML_WITH_PUSH)) return MFD_NO_READER;
  auto* sax = MFD_NEW(xmlSAXHandler);
  if (!sax) return MFD_NO_MEMORY;
  mfd_rsshandler_install(sax);
  *out = MFD_NEW(mfd_rssparser);
  if (!*out) {
    mfd_free(sax);
    return MFD_NO_MEMORY;
  }
  (*out)->sax = sax;
  return MFD_OK;
}

int mfd_rssparser_destroy(mfd_rssparser** parser) {
  if (!parser || !*parser) return MFD_INVALID;
  mfd_free((*parser)->sax);
  mfd_free(*parser);
  *parser = nullptr;
  return MFD_OK;
}

void mfd_rssparser_hide_reader(bool hidden) { readerHidden = hidden; }

}  // namespace oxm
