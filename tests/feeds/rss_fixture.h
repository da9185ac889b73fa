// The RSS parser tests' root, parser and document; each test ends with no parser allocation left.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssnamespace.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "feeds/rssparser/src/mfd_url.h"
#include "tests/feeds/rss_values.h"
#include "tests/support/testroot.h"

namespace oxm::test {

class RssTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    liveAtStart_ = mfd_alloc_live_blocks();
    ASSERT_EQ(mfd_rssparser_create(&parser_), 0);
    ASSERT_EQ(mfd_rssdocument_create(&doc_), 0);
  }
  void TearDown() override {
    mfd_alloc_fail_nth(0);
    if (doc_) mfd_rssdocument_destroy(&doc_);
    if (parser_) mfd_rssparser_destroy(&parser_);
    EXPECT_EQ(mfd_alloc_live_blocks(), liveAtStart_) << mfd_alloc_live_report();
    RootTest::TearDown();
  }

  // Parses bytes from memory, or the file of `url` when given, into a fresh document.
  int parse(const std::string& xml, const mfd_url* url = nullptr) {
    if (doc_) mfd_rssdocument_destroy(&doc_);
    EXPECT_EQ(mfd_rssdocument_create(&doc_), 0);
    if (url) return mfd_rssdocument_parse(parser_, doc_, url);
    return mfd_rssdocument_parse_memory(parser_, doc_, xml.data(), xml.size());
  }
  std::vector<mfd_rsschannel*> channels() const { return listOf<mfd_rsschannel>(mfd_rssdocument_get_channels, doc_); }
  static std::vector<mfd_rsschannelitem*> items(const mfd_rsschannel* channel) {
    return listOf<mfd_rsschannelitem>(mfd_rsschannel_get_items, channel);
  }
  // Takes the first error record: "line:column message", or "" when there is none.
  std::wstring takeError() {
    mfd_rss_error* e = nullptr;
    if (mfd_rssdocument_take_error(doc_, &e) != 0) return L"";
    int line = 0, column = 0;
    EXPECT_EQ(mfd_rss_error_get_line(e, &line), 0);
    EXPECT_EQ(mfd_rss_error_get_column(e, &column), 0);
    std::wstring out = std::to_wstring(line) + L":" + std::to_wstring(column) + L" " + field(mfd_rss_error_get_message, e);
    EXPECT_EQ(mfd_rss_error_destroy(&e), 0);
    return out;
  }
  // Every record's message (without position), in order; the document keeps none after.
  std::vector<std::wstring> messages() {
    std::vector<std::wstring> out;
    for (std::wstring e = takeError(); !e.empty(); e = takeError()) out.push_back(e.substr(e.find(L' ') + 1));
    return out;
  }

  mfd_rssparser* parser_ = nullptr;
  mfd_rssdocument* doc_ = nullptr;
  size_t liveAtStart_ = 0;
};

}  // namespace oxm::test
