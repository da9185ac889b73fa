// The parser library outside parsing: accessors, list cursor, URL object, error records, allocations.
#include "tests/feeds/rss_fixture.h"

namespace oxm::test {
namespace {

// 3 for a bad argument (a create's out pointer must be null, a document is parsed once), 5 for an
// absent value, 1 without the XML reader.
TEST_F(RssTest, AccessorCodes) {
  mfd_rsschannelitem* item = nullptr;
  ASSERT_EQ(mfd_rsschannelitem_create(&item), 0);
  EXPECT_EQ(mfd_rsschannelitem_create(&item), 3);
  const wchar_t* value = nullptr;
  mfd_rsschannelimage* image = nullptr;
  EXPECT_EQ(mfd_rsschannelitem_get_title(nullptr, &value), 3);
  EXPECT_EQ(mfd_rsschannelitem_set_title(item, nullptr), 3);
  EXPECT_EQ(mfd_rsschannelitem_get_image(item, &image), 5);
  EXPECT_EQ(mfd_rsschannelitem_set_title(item, L"first"), 0);
  EXPECT_EQ(mfd_rsschannelitem_set_title(item, L"second"), 0);
  EXPECT_EQ(field(mfd_rsschannelitem_get_title, item), L"second");
  EXPECT_EQ(mfd_rsschannelitem_set_title(item, L""), 0);
  EXPECT_EQ(field(mfd_rsschannelitem_get_title, item), L"<absent>") << "an empty value is absent";
  mfd_rsschannel* channel = nullptr;
  ASSERT_EQ(mfd_rsschannel_create(&channel), 0);
  mfd_list* list = nullptr;
  EXPECT_EQ(mfd_rsschannel_get_items(channel, &list), 5);
  ASSERT_EQ(mfd_rsschannel_add_item(channel, item), 0);
  mfd_rsschannel_destroy(&channel);
  EXPECT_EQ(mfd_rssdocument_get_channels(doc_, &list), 5) << "a document not parsed";
  EXPECT_EQ(mfd_rssdocument_parse_memory(nullptr, doc_, "<rss/>", 6), 3);
  ASSERT_EQ(mfd_rssdocument_parse_memory(parser_, doc_, "<rss version=\"2.0\"/>", 20), 0);
  EXPECT_EQ(mfd_rssdocument_parse_memory(parser_, doc_, "<rss version=\"2.0\"/>", 20), 3) << "parsed once";
  mfd_rssparser* second = nullptr;
  mfd_rssparser_hide_reader(true);
  EXPECT_EQ(mfd_rssparser_create(&second), 1);
  mfd_rssparser_hide_reader(false);
  EXPECT_EQ(second, nullptr);
}

// Removing under the cursor (first, middle, last): next gives the one after it; an emptied list fills again.
TEST_F(RssTest, ListCursorSurvivesRemoval) {
  mfd_list* list = nullptr;
  ASSERT_EQ(mfd_list_create(&list), 0);
  int values[5] = {0, 1, 2, 3, 4};
  void* v = nullptr;
  EXPECT_EQ(mfd_list_first(list, &v), 5);
  for (int& x : values) ASSERT_EQ(mfd_list_append(list, &x), 0);
  std::vector<int> seen;
  for (int rc = mfd_list_first(list, &v); rc == 0; rc = mfd_list_next(list, &v)) {
    seen.push_back(*static_cast<int*>(v));
    if (*static_cast<int*>(v) % 2 != 0) continue;
    void* removed = nullptr;
    ASSERT_EQ(mfd_list_remove_current(list, &removed), 0);
    EXPECT_EQ(removed, v);
    EXPECT_EQ(mfd_list_remove_current(list, &removed), 5) << "nothing under the cursor after a removal";
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(listed<int>(list), (std::vector<int*>{&values[1], &values[3]}));
  size_t count = 0;
  ASSERT_EQ(mfd_list_count(list, &count), 0);
  EXPECT_EQ(count, 2u);
  for (int rc = mfd_list_first(list, &v); rc == 0; rc = mfd_list_first(list, &v)) mfd_list_remove_current(list, &v);
  EXPECT_TRUE(!list->head && !list->tail);
  ASSERT_EQ(mfd_list_append(list, &values[4]), 0);
  EXPECT_EQ(listed<int>(list), std::vector<int*>{&values[4]});
  mfd_list_destroy(&list, nullptr);
}

// Only file URLs, escapes and characters beyond ASCII read as UTF-8; records of a parse that fails.
TEST_F(RssTest, UrlObjectAndErrorRecords) {
  mfd_url* url = nullptr;
  ASSERT_EQ(mfd_url_create(&url), 0);
  EXPECT_EQ(field(mfd_url_get_path, url), L"<absent>");
  const struct { const wchar_t* location; int code; const wchar_t* path; } cases[] = {
      {L"file:///Application%20Data/a%2Fb%e3%81%82", 0, L"Application Data/a/b\u3042"},
      {L"file:///\u00e9\u65e5\u672c/\U0001F600.rss", 0, L"\u00e9\u65e5\u672c/\U0001F600.rss"},
      {L"file:///a%80b", 0, L"a\uFFFDb"},
      {L"file:///", 3, nullptr},
      {L"http://example.org/feed.rss", 3, nullptr},
      {L"file:///a%2", 3, nullptr},
      {L"file:///a%00b", 3, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.location, c.location + wcslen(c.location)));
    EXPECT_EQ(mfd_url_set(url, c.location), c.code);
    EXPECT_EQ(field(mfd_url_get_path, url), c.path ? c.path : L"<absent>");
    EXPECT_EQ(field(mfd_url_get_location, url), c.path ? c.location : L"<absent>");
  }
  // A parse through a URL that names no readable file; an empty document.
  ASSERT_EQ(mfd_url_set(url, L"file:///missing.rss"), 0);
  EXPECT_EQ(parse("", url), 3);
  EXPECT_EQ(takeError(), L"0:0 fatalError: the document cannot be opened");
  EXPECT_EQ(parse(""), 3);
  EXPECT_EQ(takeError(), L"1:1 fatalError: Extra content at the end of the document");
  EXPECT_EQ(mfd_url_destroy(&url), 0);
  EXPECT_EQ(mfd_url_destroy(&url), 3);
  // Records with line and column; a parse keeps the first hundred and counts the rest.
  EXPECT_EQ(parse("<rss version=\"2.0\"><channel>\n<title>T</title><item><title>a"), 3);
  EXPECT_EQ(takeError(), L"2:30 fatalError: Extra content at the end of the document");
  std::string xml = "<rss version=\"2.0\"><channel>";
  for (int i = 0; i < 150; ++i) xml += "<x:y/>";  // one record each: the reader's undeclared prefix
  ASSERT_EQ(parse(xml + "</channel></rss>"), 0);
  EXPECT_EQ(std::make_pair(doc_->errors->count, doc_->errorsDropped), std::make_pair(size_t{100}, size_t{50}));
  EXPECT_EQ(messages().size(), 100u);
  mfd_rss_error* none = nullptr;
  EXPECT_EQ(mfd_rssdocument_take_error(doc_, &none), 5);
}

// Each allocation of a parse and of the parser failing in turn: 2, and nothing is left.
TEST_F(RssTest, EveryAllocationFailureGivesTwoAndLeaksNothing) {
  const std::string xml = R"(<rss version="2.0"><channel><title>T</title><link>http://c/</link>
<cloud domain="d" port="1"/><image><url>http://c/i</url></image><textInput><name>q</name></textInput>
<skipHours><hour>1</hour></skipHours><skipDays><day>Monday</day></skipDays>
<item><title>A</title><enclosure url="http://c/e" length="1" type="t"/><image><url>http://c/p</url></image></item>
<item><title>B</title><guid isPermaLink="true">g</guid></item></channel></rss>)";
  const size_t baseline = mfd_alloc_live_blocks();
  const long before = mfd_alloc_calls();
  ASSERT_EQ(mfd_rssdocument_parse_memory(parser_, doc_, xml.data(), xml.size()), 0);
  const long allocations = mfd_alloc_calls() - before;
  ASSERT_GT(allocations, 30);
  for (long n = 1; n <= allocations + 1; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    mfd_rssdocument_destroy(&doc_);
    ASSERT_EQ(mfd_rssdocument_create(&doc_), 0);
    mfd_alloc_fail_nth(n);
    const int rc = mfd_rssdocument_parse_memory(parser_, doc_, xml.data(), xml.size());
    mfd_alloc_fail_nth(0);
    EXPECT_EQ(rc, n <= allocations ? 2 : 0);
    ASSERT_EQ(mfd_rssdocument_destroy(&doc_), 0);
    EXPECT_EQ(mfd_alloc_live_blocks(), baseline - 1) << mfd_alloc_live_report();
  }
  mfd_rssparser* p = nullptr;
  for (long n : {1, 2}) {
    mfd_alloc_fail_nth(n);
    EXPECT_EQ(mfd_rssparser_create(&p), 2) << n;
  }
  mfd_alloc_fail_nth(0);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
}  // namespace oxm::test
