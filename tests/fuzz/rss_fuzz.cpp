// libFuzzer target of the RSS parser (SAX path): any bytes give one of the library's codes, the tree
// reads back, and destroying the document gives back every block.
#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "tests/fuzz/fuzz.h"

using oxm::fuzz::require;

namespace {

// Reads every channel's and item's title and link through the accessors.
size_t walk(const oxm::mfd_rssdocument* doc) {
  size_t length = 0;
  oxm::mfd_list* channels = nullptr;
  if (oxm::mfd_rssdocument_get_channels(doc, &channels) != 0) return 0;
  void* c = nullptr;
  for (int rc = oxm::mfd_list_first(channels, &c); rc == 0; rc = oxm::mfd_list_next(channels, &c)) {
    const auto* channel = static_cast<oxm::mfd_rsschannel*>(c);
    const wchar_t* text = nullptr;
    if (oxm::mfd_rsschannel_get_title(channel, &text) == 0) length += std::wcslen(text);
    oxm::mfd_list* items = nullptr;
    if (oxm::mfd_rsschannel_get_items(channel, &items) != 0) continue;
    void* i = nullptr;
    for (int r = oxm::mfd_list_first(items, &i); r == 0; r = oxm::mfd_list_next(items, &i)) {
      const auto* item = static_cast<oxm::mfd_rsschannelitem*>(i);
      if (oxm::mfd_rsschannelitem_get_title(item, &text) == 0) length += std::wcslen(text);
      if (oxm::mfd_rsschannelitem_get_link(item, &text) == 0) length += std::wcslen(text);
    }
  }
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static oxm::mfd_rssparser* parser = [] {
    oxm::mfd_rssparser* p = nullptr;
    require(oxm::mfd_rssparser_create(&p) == 0);
    return p;
  }();
  const size_t before = oxm::mfd_alloc_live_blocks();
  oxm::mfd_rssdocument* doc = nullptr;
  require(oxm::mfd_rssdocument_create(&doc) == 0);
  const int rc = oxm::mfd_rssdocument_parse_memory(parser, doc, reinterpret_cast<const char*>(data), size);
  require(rc == 0 || ((rc == 2 || rc == 3 || rc == 4) && doc->errors));  // a failed parse always says why
  static volatile size_t read;  // keeps the reads of every title and link
  read = read + walk(doc);
  oxm::mfd_rssdocument_destroy(&doc);
  require(oxm::mfd_alloc_live_blocks() == before);
  return 0;
}
