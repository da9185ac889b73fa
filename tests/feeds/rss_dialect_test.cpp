// The first element decides the dialect: one root per branch of the decision, the roots of no
// known version (no channel, no error) and the roots refused with the version error.
#include "tests/feeds/rss_fixture.h"

namespace oxm::test {
namespace {

const std::string kRdf = "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"";
const std::string kChannel = "<channel><title>T</title></channel>";

TEST_F(RssTest, FirstElementDecidesTheDialect) {
  // title: of the first channel (null: none); error: the first record, position included.
  const struct { const char* name; std::string xml; int code; mfd_dialect dialect; const wchar_t *title, *error; } cases[] = {
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
       "<csd xmlns=\"urn:tamarin:rivulet:channelset:2005:1.0\"><channelset>" + kChannel + "</channelset></csd>", 0,
       mfd_dialect::channelset100, nullptr, L""},
      {"channel set 2006", "<csd xmlns=\"urn:tamarin:rivulet:channelset:2006:2.0\"><channelset/></csd>", 0,
       mfd_dialect::channelset200, nullptr, L""},
      // No version the library knows: nothing is read and nothing is wrong.
      {"rss 0.92", "<rss version=\"0.92\">" + kChannel + "</rss>", 0, mfd_dialect::none, nullptr, L""},
      {"rdf:RDF of another default namespace",
       "<rdf:RDF " + kRdf + " xmlns=\"http://example.org/ns/\">" + kChannel + "</rdf:RDF>", 0, mfd_dialect::none,
       nullptr, L""},
      // Refused; the column is that of the character that closes the start tag.
      {"csd without namespace", "<csd/>", 3, mfd_dialect::none, nullptr,
       L"1:5 defaultStartElement: version error (no namespace)"},
      {"Atom", "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title></feed>", 3,
       mfd_dialect::none, nullptr, L"2:42 defaultStartElement: version error"},
      {"rdf:RDF of a foreign namespace", "<rdf:RDF xmlns:rdf=\"urn:not-rdf\" xmlns=\"http://purl.org/rss/1.0/\"/>", 3,
       mfd_dialect::none, nullptr, L"1:66 defaultStartElement: version error"},
      {"RDF under another prefix",
       "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\"/>", 3,
       mfd_dialect::none, nullptr, L"1:94 defaultStartElement: version error"},
      {"rss in a namespace", "<rss xmlns=\"urn:other\" version=\"2.0\"/>", 3, mfd_dialect::none, nullptr,
       L"1:37 defaultStartElement: version error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.xml), c.code);
    EXPECT_EQ(dialect(), static_cast<int>(c.dialect));
    const auto found = channels();
    EXPECT_EQ(found.empty() ? L"<none>" : field(mfd_rsschannel_get_title, found[0]), c.title ? c.title : L"<none>");
    EXPECT_EQ(takeError(), c.error);
  }
}

}  // namespace
}  // namespace oxm::test
