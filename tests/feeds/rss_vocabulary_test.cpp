// Dialects, where each element's text lands, foreign namespaces and enumerated values.
#include "tests/feeds/rss_fixture.h"

namespace oxm::test {
namespace {

const std::string kRdf = "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"";
const std::string k09 = "http://my.netscape.com/rdf/simple/0.9/", k10 = "http://purl.org/rss/1.0/";
const std::string kChannel = "<channel><title>T</title></channel>";
std::string rdf(const std::string& ns, const std::string& inside = kChannel) {
  return "<rdf:RDF " + kRdf + " xmlns=\"" + ns + "\">" + inside + "</rdf:RDF>";
}
std::string rss(const std::string& version) { return "<rss version=\"" + version + "\">" + kChannel + "</rss>"; }

TEST_F(RssTest, FirstElementDecidesTheDialect) {
  using D = mfd_dialect;
  const std::wstring kRefused = L" defaultStartElement: version error";
  const std::string kCs = "<csd xmlns=\"urn:tamarin:rivulet:channelset:";
  // error: the first record of a refusal (3), at the column of the character closing the start tag.
  const struct { const char* name; std::string xml; D dialect; std::wstring error; } cases[] = {
      {"0.9 rdf:RDF", rdf(k09), D::rss090, L""},
      {"0.9 namespace", "<channel xmlns=\"" + k09 + "\"><title>T</title></channel>", D::rss090, L""},
      {"0.91", rss("0.91"), D::rss091, L""},
      {"1.0 rdf:RDF", rdf(k10), D::rss100, L""},
      {"1.0 namespace", "<channel xmlns=\"" + k10 + "\"><title>T</title></channel>", D::rss100, L""},
      {"2.0", rss("2.0"), D::rss200, L""},
      {"channel set 2005", kCs + "2005:1.0\"><channelset>" + kChannel + "</channelset></csd>", D::channelset100, L""},
      {"channel set 2006", kCs + "2006:2.0\"><channelset/></csd>", D::channelset200, L""},
      // No version the library knows: nothing is read and nothing is wrong.
      {"rss 0.92", rss("0.92"), D::none, L""},
      {"rdf:RDF of another default namespace", rdf("http://example.org/ns/"), D::none, L""},
      {"csd without namespace", "<csd/>", D::none, L"1:5" + kRefused + L" (no namespace)"},
      {"rdf:RDF of a foreign namespace", "<rdf:RDF xmlns:rdf=\"urn:not-rdf\" xmlns=\"" + k10 + "\"/>", D::none,
       L"1:66" + kRefused},
      {"RDF under another prefix", "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"" + k10 +
       "\"/>", D::none, L"1:94" + kRefused},
      {"rss in a namespace", "<rss xmlns=\"urn:other\" version=\"2.0\"/>", D::none, L"1:37" + kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.xml), c.error.empty() ? 0 : 3);
    int dialect = -1;
    EXPECT_EQ(mfd_rssdocument_get_dialect(doc_, &dialect) == 0 ? dialect : 0, static_cast<int>(c.dialect));
    const bool reads = c.dialect != D::none && c.dialect != D::channelset100 && c.dialect != D::channelset200;
    const auto found = channels();
    EXPECT_EQ(found.empty() ? L"<none>" : field(mfd_rsschannel_get_title, found[0]), reads ? L"T" : L"<none>");
    EXPECT_EQ(takeError(), c.error);
  }
}

const char kRss20[] = R"(<rss version="2.0"><channel><title>C</title><link>l</link><description>d</description>
 <language>ja</language><copyright>co</copyright><managingEditor>me</managingEditor><webMaster>wm</webMaster>
 <pubDate>pd</pubDate><lastBuildDate>lb</lastBuildDate><category>ca</category><generator>ge</generator><docs>do</docs>
 <ttl>60</ttl><rating>r</rating><cloud domain="cd" port="80" path="cp" registerProcedure="cr" protocol="cx"/>
 <image><title>it</title><url>iu</url><link>il</link><width>88</width><height>31</height><description>id</description>
 </image><textInput><title>tt</title><description>td</description><name>q</name><link>tl</link></textInput>
 <skipHours><hour>0</hour><hour>23</hour></skipHours><skipDays><day>Saturday</day><day>Sunday</day></skipDays>
 <item><title>First</title><link>l1</link><description>One</description><author>au</author><category>ic</category>
  <comments>cm</comments><enclosure url="eu" length="12" type="et"/><guid isPermaLink="false">g</guid><pubDate>ip</pubDate>
  <source domain="sd">so</source><cinst>ci</cinst>
  <image><title>Pic</title><url>pu</url><link>pl</link><width>104</width><height>78</height></image></item>
 <item><title>Second &amp; last</title><description><![CDATA[<b>two</b>]]></description></item></channel></rss>)";

// Each element lands in its field, and only where it belongs.
TEST_F(RssTest, ElementsLandInTheirFieldsOnly) {
  ASSERT_EQ(parse(kRss20), 0);
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(channels().size(), 1u);
  const mfd_rsschannel* c = channels()[0];
  EXPECT_EQ(fields(c), L"C|l|d|ja|co|me|wm|pd|lb|ca|ge|do|cd|80|cp|cr|cx|60|r|");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_image, c)), L"it|iu|il|88|31|id");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_textinput, c)), L"tt|td|q|tl");
  EXPECT_EQ(joined(mfd_rsschannel_get_skiphours, c), L"0,23");
  EXPECT_EQ(joined(mfd_rsschannel_get_skipdays, c), L"Saturday,Sunday");
  const auto it = items(c);
  ASSERT_EQ(it.size(), 2u);
  EXPECT_EQ(fields(it[0]), L"First|One|l1|au|ic|cm|eu|12|et|g|false|ip|so|sd|ci");
  // The item picture takes the title and link inside it; the item keeps its own.
  EXPECT_EQ(fields(part(mfd_rsschannelitem_get_image, it[0])), L"Pic|pu|pl|104|78|");
  EXPECT_EQ(fields(it[1]), L"Second & last|<b>two</b>|||||||||||||");
  EXPECT_EQ(fields(part(mfd_rsschannelitem_get_image, it[1])), L"<none>");
  // Text out of its element's place is dropped (0.91 lacks category, generator, author); child text too.
  ASSERT_EQ(parse("<rss version=\"0.91\"><channel><title>T</title><category>c</category><generator>g</generator>"
                  "<width>5</width><name>n</name><x><title>lost</title></x>"
                  "<item><title>I</title><author>a</author><pubDate>d</pubDate><language>en</language></item>"
                  "</channel></rss>"), 0);
  EXPECT_EQ(fields(channels()[0]), L"T|||||||||||||||||||");
  ASSERT_EQ(items(channels()[0]).size(), 1u);
  EXPECT_EQ(fields(items(channels()[0])[0]), L"I|||||||||||d|||");
  ASSERT_EQ(parse("<rss version=\"2.0\"><channel><category>c</category><item><category>i</category></item>"
                  "<title>a<b>x</b>b</title></channel></rss>"), 0);
  EXPECT_EQ(fields(channels()[0]), L"ab|||||||||c||||||||||");
  EXPECT_EQ(field(mfd_rsschannelitem_get_category, items(channels()[0])[0]), L"i");
}

// RSS 1.0 with its modules; a foreign element is refused with a record and skipped whole.
TEST_F(RssTest, Rss10ModulesAndForeignNamespaces) {
  const std::string xml = "<rdf:RDF " + kRdf + R"( xmlns="http://purl.org/rss/1.0/"
 xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:sy="http://purl.org/rss/1.0/modules/syndication/"
 xmlns:content="http://purl.org/rss/1.0/modules/content/">
<channel rdf:about="r"><title>C</title><link>l</link><description>D</description><dc:creator>Alice</dc:creator>
 <dc:date>2006-12-04</dc:date><sy:updatePeriod>hourly</sy:updatePeriod><sy:updateFrequency>2</sy:updateFrequency>
 <image rdf:resource="i"/><items><rdf:Seq><rdf:li rdf:resource="1"/></rdf:Seq></items></channel>
<image rdf:about="i"><title>I</title><url>iu</url></image>
<item rdf:about="1"><title>One</title><link>l1</link><dc:subject>S</dc:subject>
 <content:encoded><title>inside a foreign element</title></content:encoded></item>
<textinput><title>TI</title><name>q</name></textinput></rdf:RDF>)";
  ASSERT_EQ(parse(xml), 0);
  EXPECT_EQ(takeError(), L"9:18 startElement (namespace error): no namespace matched");
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(channels().size(), 1u);
  const mfd_rsschannel* c = channels()[0];
  EXPECT_EQ(fields(c), L"C|l|D|||||||||||||||||r");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_dublincore, c)), L"||Alice|2006-12-04|||||||||||");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_syndication, c)), L"hourly|2|");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_image, c)), L"I|iu||||");
  EXPECT_EQ(fields(part(mfd_rsschannel_get_textinput, c)), L"TI||q|");
  const auto it = items(c);
  ASSERT_EQ(it.size(), 1u);
  EXPECT_EQ(fields(it[0]), L"One||l1||||||||||||");
  EXPECT_EQ(fields(part(mfd_rsschannelitem_get_dublincore, it[0])), L"||||||||||||S||");
  // 0.9 reads neither Dublin Core nor a textinput name in another namespace.
  ASSERT_EQ(parse(rdf(k09 + "\" xmlns:dc=\"http://purl.org/dc/elements/1.1/",
                      "<channel><title>C</title><dc:creator>x</dc:creator><u:x/></channel>")), 0);
  EXPECT_EQ(fields(part(mfd_rsschannel_get_dublincore, channels()[0])), L"<none>");
  EXPECT_EQ(messages(), (std::vector<std::wstring>{L"startElement (namespace error): no namespace matched",
                                                   L"error: Namespace prefix u on x is not defined",
                                                   L"startElement (namespace error): no namespace matched"}));
}

TEST_F(RssTest, ChannelSetsHoldTheirPortalElements) {
  const auto sets = [&] { return listOf<mfd_rsschannelset>(mfd_rssdocument_get_channelsets, doc_); };
  const auto inSet = [](const mfd_rsschannelset* s) { return listOf<mfd_rsschannel>(mfd_rsschannelset_get_channels, s); };
  ASSERT_EQ(parse(R"(<csd xmlns="urn:tamarin:rivulet:channelset:2006:2.0" xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:v1="urn:tamarin:rivulet:channelset:2005:1.0" xmlns:sy="http://purl.org/rss/1.0/modules/syndication/">
<channelset about="ab" class="cl" menu="me" style="st"><title>Set</title><link>l</link><description>d</description>
 <channels>3</channels><accesskey>1</accesskey><image>im</image><init>in</init><portalmenu>pm</portalmenu>
 <background-img>bg</background-img><template>t1</template><touch>on</touch><count>2</count><dc:creator>P</dc:creator>
 <sy:updatePeriod>daily</sy:updatePeriod><channel about="ca"><title>A</title><link>cl</link></channel>
 <v1:channel><title>B</title></v1:channel></channelset></csd>)"), 0);
  EXPECT_EQ(takeError(), L"");
  EXPECT_TRUE(channels().empty());
  ASSERT_EQ(sets().size(), 1u);
  const mfd_rsschannelset* s = sets()[0];
  // A channel's title stays the channel's.
  EXPECT_EQ(fields(s), L"ab|cl|me|st|Set|l|d|3|1|im|in|pm|bg|t1|on|2");
  EXPECT_EQ(field(mfd_rssdublincore_get_creator, part(mfd_rsschannelset_get_dublincore, s)), L"P");
  EXPECT_EQ(field(mfd_rsssyndication_get_updatePeriod, part(mfd_rsschannelset_get_syndication, s)), L"daily");
  ASSERT_EQ(inSet(s).size(), 2u);
  EXPECT_EQ(fields(inSet(s)[0]), L"A|cl||||||||||||||||||ca");
  EXPECT_EQ(field(mfd_rsschannel_get_title, inSet(s)[1]), L"B") << "either maker namespace";
  // Channels outside any channel set go to one set made for them.
  ASSERT_EQ(parse("<csd xmlns=\"urn:tamarin:rivulet:channelset:2006:2.0\"><channel><title>A</title></channel>"
                  "<channel><title>B</title></channel></csd>"), 0);
  ASSERT_EQ(sets().size(), 1u);
  EXPECT_EQ(inSet(sets()[0]).size(), 2u);
  // RSS 2.0 reads a channel set of the 2005 namespace, with its about attribute.
  ASSERT_EQ(parse("<rss version=\"2.0\" xmlns:cs=\"urn:tamarin:rivulet:channelset:2005:1.0\">"
                  "<cs:channelset cs:about=\"ab\"/><channel><title>T</title></channel></rss>"), 0);
  EXPECT_EQ(takeError(), L"");
  ASSERT_EQ(sets().size(), 1u);
  EXPECT_EQ(field(mfd_rsschannelset_get_about, sets()[0]), L"ab");
}

// A day or update period outside its names ends the parse with 4, the record just past the end tag;
// the setters refuse them too, keeping the earlier value.
TEST_F(RssTest, EnumeratedValuesAreChecked) {
  EXPECT_EQ(parse("<rss version=\"2.0\"><channel><skipDays><day>Monday</day>\n<day>monday</day></skipDays>"
                  "</channel></rss>"), 4);
  EXPECT_EQ(takeError(), L"2:18 characters (parse error): value outside its set");
  ASSERT_EQ(channels().size(), 1u);
  EXPECT_EQ(joined(mfd_rsschannel_get_skipdays, channels()[0]), L"Monday");
  mfd_rsschannel* c = nullptr;
  ASSERT_EQ(mfd_rsschannel_create(&c), 0);
  for (const wchar_t* day : {L"Mon", L"Sunday "}) EXPECT_EQ(mfd_rsschannel_add_skipday(c, day), 4) << day;
  mfd_rsssyndication* sy = nullptr;
  ASSERT_EQ(mfd_rsschannel_open_syndication(c, &sy), 0);
  EXPECT_EQ(mfd_rsssyndication_set_updatePeriod(sy, L"yearly"), 0);
  EXPECT_EQ(mfd_rsssyndication_set_updatePeriod(sy, L"Daily"), 4);
  EXPECT_EQ(fields(sy), L"yearly||");
  mfd_rsschannel_destroy(&c);
}

}  // namespace
}  // namespace oxm::test
