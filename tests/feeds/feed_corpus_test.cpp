// Every shared real-world feed parses to a definite code and is released whole (built also with ASan/UBSan).
#include <gtest/gtest.h>

#include <cstdio>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "tests/feeds/feed_files.h"
#include "tests/feeds/rss_values.h"

namespace oxm::test {
namespace {

TEST(FeedCorpus, EveryFeedParsesToACodeAndReleasesWhole) {
  const std::vector<std::string> files = corpusFeeds();
  if (files.empty())
    GTEST_SKIP() << "no feeds under " << testdataDirectory() << "/feeds (set OXMIDDLE_TESTDATA to the shared test data)";
  mfd_rssparser* parser = nullptr;
  ASSERT_EQ(mfd_rssparser_create(&parser), 0);
  const size_t baseline = mfd_alloc_live_blocks();
  size_t characters = 0;  // of every field of every channel, picture and item: all of the tree is read
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string bytes = readWhole(file);
    mfd_rssdocument* doc = nullptr;
    ASSERT_EQ(mfd_rssdocument_create(&doc), 0);
    const int rc = mfd_rssdocument_parse_memory(parser, doc, bytes.data(), bytes.size());
    EXPECT_TRUE(rc == 0 || rc == 3 || rc == 4) << rc;
    EXPECT_TRUE(rc == 0 || doc->errors) << "a failed parse says why";
    for (mfd_rsschannel* c : listOf<mfd_rsschannel>(mfd_rssdocument_get_channels, doc)) {
      characters += fields(c).size() + fields(part(mfd_rsschannel_get_image, c)).size();
      for (mfd_rsschannelitem* item : listOf<mfd_rsschannelitem>(mfd_rsschannel_get_items, c))
        characters += fields(item).size();
    }
    ASSERT_EQ(mfd_rssdocument_destroy(&doc), 0);
    EXPECT_EQ(mfd_alloc_live_blocks(), baseline) << mfd_alloc_live_report();
  }
  mfd_rssparser_destroy(&parser);
  std::printf("feeds: %zu files, %zu characters\n", files.size(), characters);
}

}  // namespace
}  // namespace oxm::test
