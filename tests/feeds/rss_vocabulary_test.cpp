// Each dialect's elements land in the right field of the right container, elements of other
// namespaces are refused with a record and skipped, enumerated values are checked, and feeds in
// Japanese encodings come out as the right wide text.
#include "tests/feeds/rss_fixture.h"

namespace oxm::test {
namespace {

const char kRss20[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0">
 <channel>
  <title>Channel</title><link>http://c.example/</link><description>About c</description>
  <language>ja</language><copyright>(c) C</copyright><managingEditor>ed@c.example</managingEditor>
  <webMaster>wm@c.example</webMaster><pubDate>Mon, 04 Dec 2006 10:00:00 +0900</pubDate>
  <lastBuildDate>Tue, 05 Dec 2006 11:00:00 +0900</lastBuildDate><category>news</category>
  <generator>gen 1</generator><docs>http://c.example/docs</docs><ttl>60</ttl><rating>r</rating>
  <cloud domain="rpc.example" port="80" path="/RPC2" registerProcedure="notify" protocol="xml-rpc"/>
  <image><title>Logo</title><url>http://c.example/logo.gif</url><link>http://c.example/</link>
   <width>88</width><height>31</height><description>the logo</description></image>
  <textInput><title>Search</title><description>Search c</description><name>q</name>
   <link>http://c.example/search</link></textInput>
  <skipHours><hour>0</hour><hour>23</hour></skipHours>
  <skipDays><day>Saturday</day><day>Sunday</day></skipDays>
  <item>
   <title>First</title><link>http://c.example/1</link><description>One</description>
   <author>a@c.example</author><category>weather</category><comments>http://c.example/1#c</comments>
   <enclosure url="http://c.example/1.eml" length="1234" type="message/rfc822"/>
   <guid isPermaLink="false">id-1</guid><pubDate>Wed, 06 Dec 2006 12:00:00 +0900</pubDate>
   <source domain="s.example">Source</source><cinst>install-1</cinst>
   <image><title>Pic</title><url>http://c.example/1.jpg</url><link>http://c.example/1</link>
    <width>104</width><height>78</height></image>
  </item>
  <item><title>Second &amp; last</title><description><![CDATA[<b>two</b>]]></description></item>
 </channel>
</rss>)";

TEST_F(RssTest, Rss20ElementsLandInTheirFields) {
  ASSERT_EQ(parse(kRss20), 0);
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(channels().size(), 1u);
  const mfd_rsschannel* c = channels()[0];
  expectFields(c, {{mfd_rsschannel_get_title, L"Channel"}, {mfd_rsschannel_get_link, L"http://c.example/"},
                   {mfd_rsschannel_get_description, L"About c"}, {mfd_rsschannel_get_language, L"ja"},
                   {mfd_rsschannel_get_copyright, L"(c) C"}, {mfd_rsschannel_get_managingEditor, L"ed@c.example"},
                   {mfd_rsschannel_get_webMaster, L"wm@c.example"},
                   {mfd_rsschannel_get_pubDate, L"Mon, 04 Dec 2006 10:00:00 +0900"},
                   {mfd_rsschannel_get_lastBuildDate, L"Tue, 05 Dec 2006 11:00:00 +0900"},
                   {mfd_rsschannel_get_category, L"news"}, {mfd_rsschannel_get_generator, L"gen 1"},
                   {mfd_rsschannel_get_docs, L"http://c.example/docs"}, {mfd_rsschannel_get_ttl, L"60"},
                   {mfd_rsschannel_get_rating, L"r"}, {mfd_rsschannel_get_cloudDomain, L"rpc.example"},
                   {mfd_rsschannel_get_cloudPort, L"80"}, {mfd_rsschannel_get_cloudPath, L"/RPC2"},
                   {mfd_rsschannel_get_cloudRegisterProcedure, L"notify"},
                   {mfd_rsschannel_get_cloudProtocol, L"xml-rpc"}, {mfd_rsschannel_get_about, L"<absent>"}});
  expectFields(part(mfd_rsschannel_get_image, c),
               {{mfd_rsschannelimage_get_title, L"Logo"}, {mfd_rsschannelimage_get_url, L"http://c.example/logo.gif"},
                {mfd_rsschannelimage_get_link, L"http://c.example/"}, {mfd_rsschannelimage_get_width, L"88"},
                {mfd_rsschannelimage_get_height, L"31"}, {mfd_rsschannelimage_get_description, L"the logo"}});
  expectFields(part(mfd_rsschannel_get_textinput, c),
               {{mfd_rsschanneltextinput_get_title, L"Search"}, {mfd_rsschanneltextinput_get_description, L"Search c"},
                {mfd_rsschanneltextinput_get_name, L"q"},
                {mfd_rsschanneltextinput_get_link, L"http://c.example/search"}});
  EXPECT_EQ(joined(mfd_rsschannel_get_skiphours, c), L"0,23");
  EXPECT_EQ(joined(mfd_rsschannel_get_skipdays, c), L"Saturday,Sunday");

  const auto it = items(c);
  ASSERT_EQ(it.size(), 2u);
  expectFields(it[0], {{mfd_rsschannelitem_get_title, L"First"}, {mfd_rsschannelitem_get_link, L"http://c.example/1"},
                       {mfd_rsschannelitem_get_description, L"One"}, {mfd_rsschannelitem_get_author, L"a@c.example"},
                       {mfd_rsschannelitem_get_category, L"weather"},
                       {mfd_rsschannelitem_get_comments, L"http://c.example/1#c"},
                       {mfd_rsschannelitem_get_enclosureUrl, L"http://c.example/1.eml"},
                       {mfd_rsschannelitem_get_enclosureLength, L"1234"},
                       {mfd_rsschannelitem_get_enclosureType, L"message/rfc822"}, {mfd_rsschannelitem_get_guid, L"id-1"},
                       {mfd_rsschannelitem_get_guidIsPermaLink, L"false"},
                       {mfd_rsschannelitem_get_pubDate, L"Wed, 06 Dec 2006 12:00:00 +0900"},
                       {mfd_rsschannelitem_get_source, L"Source"}, {mfd_rsschannelitem_get_sourceDomain, L"s.example"},
                       {mfd_rsschannelitem_get_cinst, L"install-1"}});
  // The item picture takes the title and link inside it; the item keeps its own.
  expectFields(part(mfd_rsschannelitem_get_image, it[0]),
               {{mfd_rsschannelimage_get_title, L"Pic"}, {mfd_rsschannelimage_get_url, L"http://c.example/1.jpg"},
                {mfd_rsschannelimage_get_link, L"http://c.example/1"}, {mfd_rsschannelimage_get_width, L"104"},
                {mfd_rsschannelimage_get_height, L"78"}});
  expectFields(it[1], {{mfd_rsschannelitem_get_title, L"Second & last"},
                       {mfd_rsschannelitem_get_description, L"<b>two</b>"}, {mfd_rsschannelitem_get_cinst, L"<absent>"}});
  mfd_rsschannelimage* image = nullptr;
  EXPECT_EQ(mfd_rsschannelitem_get_image(it[1], &image), 5);
}

// Where text goes when its element stands in an unusual place, and which dialect reads what.
TEST_F(RssTest, TextGoesOnlyWhereItsElementBelongs) {
  // 0.91 has no category, no generator and no item author; width outside an image and name
  // outside a text input are dropped; a title below an unknown element of the channel too; a
  // channel field inside an item is not the channel's.
  ASSERT_EQ(parse("<rss version=\"0.91\"><channel><title>T</title><category>c</category><generator>g</generator>"
                  "<width>5</width><name>n</name><x><title>lost</title></x>"
                  "<item><title>I</title><author>a</author><pubDate>d</pubDate><language>en</language></item>"
                  "</channel></rss>"), 0);
  const mfd_rsschannel* c = channels()[0];
  expectFields(c, {{mfd_rsschannel_get_title, L"T"}, {mfd_rsschannel_get_category, L"<absent>"},
                   {mfd_rsschannel_get_generator, L"<absent>"}, {mfd_rsschannel_get_language, L"<absent>"}});
  ASSERT_EQ(items(c).size(), 1u);
  expectFields(items(c)[0], {{mfd_rsschannelitem_get_title, L"I"}, {mfd_rsschannelitem_get_author, L"<absent>"},
                             {mfd_rsschannelitem_get_pubDate, L"d"}});
  // 2.0: pubDate and category outside an item belong to the channel; text of child elements is
  // not part of the parent's text.
  ASSERT_EQ(parse("<rss version=\"2.0\"><channel><category>c</category><item><category>i</category></item>"
                  "<title>a<b>x</b>b</title></channel></rss>"), 0);
  c = channels()[0];
  expectFields(c, {{mfd_rsschannel_get_category, L"c"}, {mfd_rsschannel_get_title, L"ab"}});
  EXPECT_EQ(field(mfd_rsschannelitem_get_category, items(c)[0]), L"i");
}

// RSS 1.0: items, picture and text input stand after the channel; rdf:about, Dublin Core and
// Syndication are read; an element of another namespace is refused with a record and skipped
// with everything inside it, and the parse goes on.
TEST_F(RssTest, Rss10ModulesAndForeignNamespaces) {
  const std::string xml = R"(<?xml version="1.0"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/"
 xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:sy="http://purl.org/rss/1.0/modules/syndication/"
 xmlns:content="http://purl.org/rss/1.0/modules/content/">
<channel rdf:about="http://c.example/rss">
 <title>C</title><link>http://c.example/</link><description>D</description>
 <dc:creator>Alice</dc:creator><dc:date>2006-12-04</dc:date>
 <sy:updatePeriod>hourly</sy:updatePeriod><sy:updateFrequency>2</sy:updateFrequency>
 <image rdf:resource="http://c.example/i.gif"/>
 <items><rdf:Seq><rdf:li rdf:resource="http://c.example/1"/></rdf:Seq></items>
</channel>
<image rdf:about="http://c.example/i.gif"><title>I</title><url>http://c.example/i.gif</url></image>
<item rdf:about="http://c.example/1"><title>One</title><link>http://c.example/1</link>
 <dc:subject>S</dc:subject>
 <content:encoded><title>inside a foreign element</title></content:encoded>
 <undeclared:thing>x</undeclared:thing>
</item>
<textinput><title>TI</title><name>q</name></textinput>
</rdf:RDF>)";
  ASSERT_EQ(parse(xml), 0);
  EXPECT_EQ(takeError(), L"15:18 startElement (namespace error): no namespace matched");
  // An element of an undeclared prefix: the reader's namespace error, then the handler's.
  EXPECT_EQ(takeError(), L"16:19 error: Namespace prefix undeclared on thing is not defined");
  EXPECT_EQ(takeError(), L"16:19 startElement (namespace error): no namespace matched");
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(channels().size(), 1u);
  const mfd_rsschannel* c = channels()[0];
  EXPECT_EQ(field(mfd_rsschannel_get_about, c), L"http://c.example/rss");
  expectFields(part(mfd_rsschannel_get_dublincore, c),
               {{mfd_rssdublincore_get_creator, L"Alice"}, {mfd_rssdublincore_get_date, L"2006-12-04"},
                {mfd_rssdublincore_get_subject, L"<absent>"}});
  expectFields(part(mfd_rsschannel_get_syndication, c),
               {{mfd_rsssyndication_get_updatePeriod, L"hourly"}, {mfd_rsssyndication_get_updateFrequency, L"2"}});
  EXPECT_EQ(field(mfd_rsschannelimage_get_title, part(mfd_rsschannel_get_image, c)), L"I");
  EXPECT_EQ(field(mfd_rsschanneltextinput_get_name, part(mfd_rsschannel_get_textinput, c)), L"q");
  const auto it = items(c);
  ASSERT_EQ(it.size(), 1u);
  EXPECT_EQ(field(mfd_rsschannelitem_get_title, it[0]), L"One");
  EXPECT_EQ(field(mfd_rssdublincore_get_subject, part(mfd_rsschannelitem_get_dublincore, it[0])), L"S");

  // 0.9 reads neither Dublin Core nor a textinput name in another namespace; an undeclared
  // prefix is the reader's namespace error, then the handler's.
  ASSERT_EQ(parse("<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                  "xmlns=\"http://my.netscape.com/rdf/simple/0.9/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                  "<channel><title>C</title><dc:creator>x</dc:creator><u:x/></channel></rdf:RDF>"), 0);
  mfd_rssdublincore* none = nullptr;
  EXPECT_EQ(mfd_rsschannel_get_dublincore(channels()[0], &none), 5);
  EXPECT_EQ(messages(), (std::vector<std::wstring>{L"startElement (namespace error): no namespace matched",
                                                   L"error: Namespace prefix u on x is not defined",
                                                   L"startElement (namespace error): no namespace matched"}));
}

TEST_F(RssTest, ChannelSetsHoldTheirPortalElements) {
  const std::string xml = R"(<csd xmlns="urn:tamarin:rivulet:channelset:2006:2.0"
 xmlns:v1="urn:tamarin:rivulet:channelset:2005:1.0"
 xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:sy="http://purl.org/rss/1.0/modules/syndication/">
<channelset about="http://p.example/set" class="portal" menu="top" style="dark">
 <title>Set</title><link>http://p.example/</link><description>All</description>
 <channels>3</channels><accesskey>1</accesskey><image>http://p.example/s.gif</image><init>yes</init>
 <portalmenu>m</portalmenu><background-img>bg.gif</background-img><template>t1</template>
 <touch>on</touch><count>2</count><dc:creator>P</dc:creator><sy:updatePeriod>daily</sy:updatePeriod>
 <channel about="http://p.example/a"><title>A</title><link>http://p.example/a</link></channel>
 <v1:channel><title>B</title></v1:channel>
</channelset>
</csd>)";
  ASSERT_EQ(parse(xml), 0);
  EXPECT_EQ(takeError(), L"");
  EXPECT_TRUE(channels().empty());
  mfd_list* sets = nullptr;
  ASSERT_EQ(mfd_rssdocument_get_channelsets(doc_, &sets), 0);
  const auto all = listed<mfd_rsschannelset>(sets);
  ASSERT_EQ(all.size(), 1u);
  const mfd_rsschannelset* s = all[0];
  // A channel's title stays the channel's.
  expectFields(s, {{mfd_rsschannelset_get_about, L"http://p.example/set"}, {mfd_rsschannelset_get_class, L"portal"},
                   {mfd_rsschannelset_get_menu, L"top"}, {mfd_rsschannelset_get_style, L"dark"},
                   {mfd_rsschannelset_get_title, L"Set"}, {mfd_rsschannelset_get_link, L"http://p.example/"},
                   {mfd_rsschannelset_get_description, L"All"}, {mfd_rsschannelset_get_channels, L"3"},
                   {mfd_rsschannelset_get_accesskey, L"1"}, {mfd_rsschannelset_get_image, L"http://p.example/s.gif"},
                   {mfd_rsschannelset_get_init, L"yes"}, {mfd_rsschannelset_get_portalmenu, L"m"},
                   {mfd_rsschannelset_get_backgroundImg, L"bg.gif"}, {mfd_rsschannelset_get_template, L"t1"},
                   {mfd_rsschannelset_get_touch, L"on"}, {mfd_rsschannelset_get_count, L"2"}});
  EXPECT_EQ(field(mfd_rssdublincore_get_creator, part(mfd_rsschannelset_get_dublincore, s)), L"P");
  EXPECT_EQ(field(mfd_rsssyndication_get_updatePeriod, part(mfd_rsschannelset_get_syndication, s)), L"daily");
  mfd_list* list = nullptr;
  ASSERT_EQ(mfd_rsschannelset_get_channels(s, &list), 0);
  const auto inSet = listed<mfd_rsschannel>(list);
  ASSERT_EQ(inSet.size(), 2u);
  expectFields(inSet[0], {{mfd_rsschannel_get_title, L"A"}, {mfd_rsschannel_get_about, L"http://p.example/a"},
                          {mfd_rsschannel_get_link, L"http://p.example/a"}});
  EXPECT_EQ(field(mfd_rsschannel_get_title, inSet[1]), L"B") << "either maker namespace";

  // Channels outside any channel set go to one set made for them.
  ASSERT_EQ(parse("<csd xmlns=\"urn:tamarin:rivulet:channelset:2006:2.0\"><channel><title>A</title></channel>"
                  "<channel><title>B</title></channel></csd>"), 0);
  ASSERT_EQ(mfd_rssdocument_get_channelsets(doc_, &sets), 0);
  ASSERT_EQ(sets->count, 1u);
  ASSERT_EQ(mfd_rsschannelset_get_channels(listed<mfd_rsschannelset>(sets)[0], &list), 0);
  EXPECT_EQ(listed<mfd_rsschannel>(list).size(), 2u);
  // RSS 2.0 reads a channel set of the 2005 namespace, with its about attribute.
  ASSERT_EQ(parse("<rss version=\"2.0\" xmlns:cs=\"urn:tamarin:rivulet:channelset:2005:1.0\">"
                  "<cs:channelset cs:about=\"http://p.example/set\"/><channel><title>T</title></channel></rss>"), 0);
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(mfd_rssdocument_get_channelsets(doc_, &sets), 0);
  EXPECT_EQ(field(mfd_rsschannelset_get_about, listed<mfd_rsschannelset>(sets)[0]), L"http://p.example/set");
}

// A day outside the seven English weekday names, or an update period outside its five names,
// ends the parse with 4 and a record; the setters refuse the same values.
TEST_F(RssTest, EnumeratedValuesAreChecked) {
  EXPECT_EQ(parse("<rss version=\"2.0\"><channel><skipDays><day>Monday</day>\n<day>monday</day></skipDays>"
                  "</channel></rss>"), 4);
  // The text is stored at the end tag: the record points just past it.
  EXPECT_EQ(takeError(), L"2:18 characters (parse error): value outside its set");
  ASSERT_EQ(channels().size(), 1u);
  EXPECT_EQ(joined(mfd_rsschannel_get_skipdays, channels()[0]), L"Monday");
  EXPECT_EQ(parse("<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                  "xmlns=\"http://purl.org/rss/1.0/\" xmlns:sy=\"http://purl.org/rss/1.0/modules/syndication/\">"
                  "<channel><sy:updatePeriod>fortnightly</sy:updatePeriod></channel></rdf:RDF>"), 4);

  mfd_rsschannel* c = nullptr;
  ASSERT_EQ(mfd_rsschannel_create(&c), 0);
  for (const wchar_t* day : {L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday", L"Saturday", L"Sunday"})
    EXPECT_EQ(mfd_rsschannel_add_skipday(c, day), 0) << day;
  for (const wchar_t* day : {L"Mon", L"MONDAY", L"Sunday ", L"", L"Funday"})
    EXPECT_EQ(mfd_rsschannel_add_skipday(c, day), 4) << day;
  EXPECT_EQ(mfd_rsschannel_add_skiphour(c, L"25"), 0) << "hours are not checked";
  mfd_rsssyndication* sy = nullptr;
  ASSERT_EQ(mfd_rsschannel_open_syndication(c, &sy), 0);
  for (const wchar_t* period : {L"hourly", L"daily", L"weekly", L"monthly", L"yearly"})
    EXPECT_EQ(mfd_rsssyndication_set_updatePeriod(sy, period), 0) << period;
  EXPECT_EQ(mfd_rsssyndication_set_updatePeriod(sy, L"Daily"), 4);
  EXPECT_EQ(field(mfd_rsssyndication_get_updatePeriod, sy), L"yearly") << "a refused value keeps the earlier one";
  EXPECT_EQ(mfd_rsssyndication_set_updateBase(sy, L"anything"), 0);
  mfd_rsschannel_destroy(&c);
}

// Japanese feeds in the encodings their declarations name become the same wide text.
TEST_F(RssTest, JapaneseEncodingsBecomeWideText) {
  // "日本語のニュース" and "ｶﾅ" (half-width katakana) in each encoding.
  const wchar_t* want = L"\u65E5\u672C\u8A9E\u306E\u30CB\u30E5\u30FC\u30B9 \uFF76\uFF85";
  const struct { const char* encoding; std::string bytes; } cases[] = {
      {"EUC-JP", "\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA5\xCB\xA5\xE5\xA1\xBC\xA5\xB9 \x8E\xB6\x8E\xC5"},
      {"Shift_JIS", "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x6A\x83\x85\x81\x5B\x83\x58 \xB6\xC5"},
      {"UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9 "
                "\xEF\xBD\xB6\xEF\xBE\x85"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoding);
    ASSERT_EQ(parseFile(std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding +
                        "\"?><rss version=\"2.0\"><channel><title>" + c.bytes + "</title><item><title>" + c.bytes +
                        "</title></item></channel></rss>"), 0);
    EXPECT_EQ(field(mfd_rsschannel_get_title, channels()[0]), want);
    EXPECT_EQ(field(mfd_rsschannelitem_get_title, items(channels()[0])[0]), want);
  }
  // Without a declaration the bytes must be UTF-8: EUC-JP then is not well-formed.
  EXPECT_EQ(parse("<rss version=\"2.0\"><channel><title>" + std::string(cases[0].bytes) + "</title></channel></rss>"), 3);
  EXPECT_EQ(messages().at(0).rfind(L"fatalError: Input is not proper UTF-8", 0), 0u);
  // UTF-16 with its byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char ch : std::string("<rss version=\"2.0\"><channel><title>\xE5</title></channel></rss>")) utf16 += {ch, '\0'};
  ASSERT_EQ(parse(utf16), 0);
  EXPECT_EQ(field(mfd_rsschannel_get_title, channels()[0]), L"\u00E5");
}

}  // namespace
}  // namespace oxm::test
