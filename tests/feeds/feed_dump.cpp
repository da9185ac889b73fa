// Prints, for each feed file given, what compare_feeds_with_python.py compares with feedparser, as
// UTF-8 lines of tab-separated fields (backslash, tab, CR, LF written \\ \t \r \n; an absent value \0):
//   F <file> <parse code> <dialect> <the last error record's message (the one that ended a failed parse) or "">
//   C <first channel's title> <its item count>, then I <item title> <item link> for each of its items
// usage: feed_dump FILE...
#include <cstdio>
#include <string>

#include "codec/charset.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "tests/corpus/corpus_files.h"
#include "tests/feeds/rss_values.h"

namespace {

std::string escaped(const std::wstring& text) {
  if (text == L"<absent>") return "\\0";
  std::string out;
  for (char c : oxm::wideToUtf8(text)) {
    const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
    out += escape ? std::string(escape) : std::string(1, c);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace oxm;
  using namespace oxm::test;
  mfd_rssparser* parser = nullptr;
  if (mfd_rssparser_create(&parser) != 0) return 1;
  for (int i = 1; i < argc; ++i) {
    const std::string bytes = readWhole(argv[i]);
    mfd_rssdocument* doc = nullptr;
    mfd_rssdocument_create(&doc);
    const int rc = mfd_rssdocument_parse_memory(parser, doc, bytes.data(), bytes.size());
    int dialect = 0;
    mfd_rssdocument_get_dialect(doc, &dialect);
    std::wstring last;
    for (mfd_rss_error* error = nullptr; mfd_rssdocument_take_error(doc, &error) == 0; mfd_rss_error_destroy(&error))
      last = field(mfd_rss_error_get_message, error);
    std::printf("F\t%s\t%d\t%d\t%s\n", argv[i], rc, dialect, escaped(last == L"<absent>" ? L"" : last).c_str());
    if (const auto channels = listOf<mfd_rsschannel>(mfd_rssdocument_get_channels, doc); !channels.empty()) {
      const auto items = listOf<mfd_rsschannelitem>(mfd_rsschannel_get_items, channels[0]);
      std::printf("C\t%s\t%zu\n", escaped(field(mfd_rsschannel_get_title, channels[0])).c_str(), items.size());
      for (const mfd_rsschannelitem* item : items)
        std::printf("I\t%s\t%s\n", escaped(field(mfd_rsschannelitem_get_title, item)).c_str(),
                    escaped(field(mfd_rsschannelitem_get_link, item)).c_str());
    }
    mfd_rssdocument_destroy(&doc);
  }
  mfd_rssparser_destroy(&parser);
  return 0;
}
