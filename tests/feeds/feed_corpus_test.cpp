// Every real-world feed of the shared test data parses to a definite code, with a record for
// each failure, and its tree reads back and is released whole. Built twice: against the
// library, and against a copy compiled with AddressSanitizer and UndefinedBehaviorSanitizer.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "tests/feeds/feed_files.h"
#include "tests/feeds/rss_values.h"

namespace oxm::test {
namespace {

// Reads every field of every channel, item and picture of the document through the accessors.
size_t readEverything(const mfd_rssdocument* doc) {
  size_t values = 0;
  const auto count = [&values](const mfd_str* fields, size_t n) {
    for (size_t i = 0; i < n; ++i) values += fields[i].length ? 1 : 0;
  };
  mfd_list* channels = nullptr;
  if (mfd_rssdocument_get_channels(doc, &channels) != 0) return 0;
  for (mfd_rsschannel* c : listed<mfd_rsschannel>(channels)) {
    count(c->field, mfd_rsschannel_field_count);
    mfd_rsschannelimage* image = nullptr;
    if (mfd_rsschannel_get_image(c, &image) == 0) count(image->field, mfd_rsschannelimage_field_count);
    mfd_list* items = nullptr;
    if (mfd_rsschannel_get_items(c, &items) != 0) continue;
    for (mfd_rsschannelitem* item : listed<mfd_rsschannelitem>(items)) {
      count(item->field, mfd_rsschannelitem_field_count);
      // The title's text is as long as its recorded length, or absent.
      const std::wstring title = field(mfd_rsschannelitem_get_title, item);
      EXPECT_EQ(title == L"<absent>" ? 0 : title.size(), item->field[mfd_rsschannelitem_title].length);
    }
  }
  return values;
}

TEST(FeedCorpus, EveryFeedParsesToACodeAndReleasesWhole) {
  const std::vector<std::string> files = corpusFeeds();
  if (files.empty())
    GTEST_SKIP() << "no feeds under " << testdataDirectory() << "/feeds (set OXMIDDLE_TESTDATA to the shared test data)";
  mfd_rssparser* parser = nullptr;
  ASSERT_EQ(mfd_rssparser_create(&parser), 0);
  const size_t baseline = mfd_alloc_live_blocks();
  std::map<int, int> codes;
  size_t values = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string bytes = readWhole(file);
    mfd_rssdocument* doc = nullptr;
    ASSERT_EQ(mfd_rssdocument_create(&doc), 0);
    const int rc = mfd_rssdocument_parse_memory(parser, doc, bytes.data(), bytes.size());
    ++codes[rc];
    EXPECT_TRUE(rc == 0 || rc == 3 || rc == 4) << rc;
    EXPECT_TRUE(rc == 0 || doc->errors) << "a failed parse says why";
    // A root in the Atom namespace is no dialect of ours.
    if (bytes.find("<feed xmlns=\"http://www.w3.org/2005/Atom\"") != std::string::npos &&
        bytes.find("<rss") == std::string::npos && bytes.find("<rdf:RDF") == std::string::npos) {
      EXPECT_EQ(rc, 3);
    }
    values += readEverything(doc);
    ASSERT_EQ(mfd_rssdocument_destroy(&doc), 0);
    EXPECT_EQ(mfd_alloc_live_blocks(), baseline) << mfd_alloc_live_report();
  }
  mfd_rssparser_destroy(&parser);
  std::printf("feeds: %zu files, %zu values;", files.size(), values);
  for (const auto& [code, n] : codes) std::printf(" code %d: %d", code, n);
  std::printf("\n");
}

}  // namespace
}  // namespace oxm::test
