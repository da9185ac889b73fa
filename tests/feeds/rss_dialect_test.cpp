// The first element decides the dialect: the table of the six dialects, the roots of no known
// version (no channel, no error) and the roots that are refused with the version error.
#include "tests/feeds/rss_fixture.h"

namespace oxm::test {
namespace {

// title: of the first channel (null: the document has none); error: the first record, position
// included ("" for none).
struct DialectCase { const char* name; std::string xml; int code; mfd_dialect dialect; const wchar_t *title, *error; };

const std::string kRdf = "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"";
const std::string kChannel = "<channel><title>T</title></channel>";

TEST_F(RssTest, FirstElementDecidesTheDialect) {
  const DialectCase cases[] = {
      {"0.9 rdf:RDF", "<rdf:RDF " + kRdf + " xmlns=\"http://my.netscape.com/rdf/simple/0.9/\">" + kChannel + "</rdf:RDF>",
       0, mfd_dialect::rss090, L"T", L""},
      {"0.9 namespace", "<channel xmlns=\"http://my.netscape.com/rdf/simple/0.9/\"><title>T</title></channel>", 0,
       mfd_dialect::rss090, L"T", L""},
      {"0.91", "<rss version=\"0.91\">" + kChannel + "</rss>", 0, mfd_dialect::rss091, L"T", L""},
      {"1.0 rdf:RDF", "<rdf:RDF " + kRdf + " xmlns=\"http://purl.org/rss/1.0/\">" + kChannel + "</rdf:RDF>", 0,
       mfd_dialect::rss100, L"T", L""},
      {"1.0 namespace", "<channel xmlns=\"http://purl.org/rss/1.0/\"><title>T</title></channel>", 0,
       mfd_dialect::rss100, L"T", L""},
      {"2.0", "<rss version=\"2.0\">" + kChannel + "</rss>", 0, mfd_dialect::rss200, L"T", L""},
      {"channel set 2005",
       "<csd xmlns=\"urn:tamarin:rivulet:channelset:2005:1.0\"><channelset><channel><title>T</title></channel>"
       "</channelset></csd>",
       0, mfd_dialect::channelset100, nullptr, L""},
      {"channel set 2006",
       "<csd xmlns=\"urn:tamarin:rivulet:channelset:2006:2.0\"><channelset><title>S</title></channelset></csd>", 0,
       mfd_dialect::channelset200, nullptr, L""},
      // No version the library knows: nothing is read and nothing is wrong.
      {"rss 0.92", "<rss version=\"0.92\">" + kChannel + "</rss>", 0, mfd_dialect::none, nullptr, L""},
      {"rss without version", "<rss>" + kChannel + "</rss>", 0, mfd_dialect::none, nullptr, L""},
      {"rdf:RDF of another default namespace",
       "<rdf:RDF " + kRdf + " xmlns=\"http://example.org/ns/\">" + kChannel + "</rdf:RDF>", 0, mfd_dialect::none,
       nullptr, L""},
      // Refused.
      {"no namespace", "<feed><title>T</title></feed>", 3, mfd_dialect::none, nullptr,
       L"1:6 defaultStartElement: version error (no namespace)"},
      {"Atom", "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title></feed>", 3,
       mfd_dialect::none, nullptr, L"2:42 defaultStartElement: version error"},
      {"csd without namespace", "<csd/>", 3, mfd_dialect::none, nullptr,
       L"1:5 defaultStartElement: version error (no namespace)"},
      {"csd of a foreign namespace", "<csd xmlns=\"urn:other\"/>", 3, mfd_dialect::none, nullptr,
       L"1:23 defaultStartElement: version error"},
      {"rdf:RDF of a foreign namespace", "<rdf:RDF xmlns:rdf=\"urn:not-rdf\" xmlns=\"http://purl.org/rss/1.0/\"/>", 3,
       mfd_dialect::none, nullptr, L"1:66 defaultStartElement: version error"},
      {"RDF under another prefix",
       "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\"/>", 3,
       mfd_dialect::none, nullptr, L"1:94 defaultStartElement: version error"},
      {"rss in a namespace", "<rss xmlns=\"urn:other\" version=\"2.0\"/>", 3, mfd_dialect::none, nullptr,
       L"1:37 defaultStartElement: version error"},
  };
  // A record's column is that of the character that closes the start tag ('>' or '/').
  for (const DialectCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.xml), c.code);
    EXPECT_EQ(dialect(), static_cast<int>(c.dialect));
    const auto found = channels();
    EXPECT_EQ(found.size(), c.title ? 1u : 0u);
    EXPECT_EQ(found.empty() ? std::wstring() : field(mfd_rsschannel_get_title, found[0]), c.title ? c.title : L"");
    EXPECT_EQ(takeError(), c.error);
  }
}

// The same document read from its file through the URL object parses the same; the file read
// in pieces changes nothing.
TEST_F(RssTest, FileAndMemoryParseAlike) {
  std::string xml = "<rss version=\"2.0\"><channel><title>T</title>";
  for (int i = 0; i < 5000; ++i) xml += "<item><title>item " + std::to_string(i) + "</title></item>";
  xml += "</channel></rss>";
  ASSERT_GT(xml.size(), 64u * 1024u * 2u);
  ASSERT_EQ(parseFile(xml), 0);
  ASSERT_EQ(channels().size(), 1u);
  const auto fromFile = items(channels()[0]);
  ASSERT_EQ(fromFile.size(), 5000u);
  EXPECT_EQ(field(mfd_rsschannelitem_get_title, fromFile[4999]), L"item 4999");
  ASSERT_EQ(parse(xml), 0);
  EXPECT_EQ(items(channels()[0]).size(), 5000u);
}

}  // namespace
}  // namespace oxm::test
