// Hostile and oversized documents end with a clear code in bounded memory; nothing external is read.
#include <cstring>
#include <fstream>

#include "tests/feeds/rss_fixture.h"
#include "tests/support/script_server.h"

namespace oxm::test {
namespace {

// Resident memory of the process in MB (Linux): the peak since the last reset, or the present.
long memoryMb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key))) / 1024;
  return -1;
}
long residentAtReset = 0;
// Starts a new peak; the figure that counts is how far memory grows above the present.
void resetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
  residentAtReset = memoryMb("VmRSS:");
}
long peakMemoryMb() { return memoryMb("VmHWM:") - residentAtReset; }

std::string entities(const std::string& declarations, const std::string& title) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [" + declarations + "]>\n<rss version=\"2.0\"><channel><title>" +
         title + "</title></channel></rss>";
}

// External entities are neither read nor fetched; internal ones within bounds are replaced.
TEST_F(RssTest, ExternalEntitiesAreNeverFetchedNorRead) {
  writeHostFile(root_.host("secret.txt"), "SECRET-FILE");
  writeHostFile(root_.host("secret.dtd"), "<!ENTITY leak \"SECRET-DTD\">");
  ScriptServer http(Script{});  // must never see a connection
  const std::string file = "file://" + root_.host("secret.txt");
  const std::string dtd = "file://" + root_.host("secret.dtd");
  const std::string net = "http://127.0.0.1:" + std::to_string(http.port()) + "/x.dtd";
  const struct { const char* name; std::string xml; int code; } cases[] = {
      // An entity that is never declared cannot be used: the document is not well-formed.
      {"file entity", entities("<!ENTITY x SYSTEM \"" + file + "\">", "a&x;b"), 3},
      {"http entity", entities("<!ENTITY x SYSTEM \"" + net + "\">", "a&x;b"), 3},
      // Parameter entities are never declared either; an external subset is not read, so what
      // it would declare stays undeclared (a record, the rest of the document read).
      {"file parameter entity", entities("<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;", "a&leak;b"), 3},
      {"http subset", "<!DOCTYPE rss SYSTEM \"" + net + "\"><rss version=\"2.0\"><channel><title>a&leak;b</title>"
                      "</channel></rss>", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.xml), c.code);
    std::wstring text;
    for (mfd_rsschannel* channel : channels()) {
      text += fields(channel);
      for (mfd_rsschannelitem* item : items(channel)) text += fields(item);
    }
    EXPECT_EQ(text.find(L"SECRET"), std::wstring::npos);
    EXPECT_TRUE(c.code != 0 || field(mfd_rsschannel_get_title, channels().at(0)) == L"ab");
    EXPECT_FALSE(messages().empty());
    EXPECT_FALSE(http.waitDone(100)) << "the parser connected to " << net;
  }
  ASSERT_EQ(parse(entities("<!ENTITY co \"Example &amp; Co\">", "&co; / &co;")), 0);
  EXPECT_EQ(field(mfd_rsschannel_get_title, channels()[0]), L"Example & Co / Example & Co");
}

// Writes a feed of about `bytes` bytes of `item`s, holding one item in memory.
void writeLargeFeed(const std::string& path, size_t bytes, const std::string& item) {
  std::ofstream out(path, std::ios::binary);
  out << "<rss version=\"2.0\"><channel><title>Big</title>\n";
  for (size_t written = 0; written < bytes; written += item.size()) out << item;
  out << "</channel></rss>\n";
}

TEST_F(RssTest, HundredMegabyteDocumentsInBoundedMemory) {
  const size_t kSize = 100u << 20;
  mfd_url* url = nullptr;
  ASSERT_EQ(mfd_url_create(&url), 0);
  ASSERT_EQ(mfd_url_set(url, L"file:///big.rss"), 0);
  // Mostly elements the parser does not keep: the whole document is read, the tree stays small.
  const std::string skipped = "<item><title>t</title><x>" + std::string(10000, 'y') + "</x></item>\n";
  writeLargeFeed(root_.host("big.rss"), kSize, skipped);
  resetPeakMemory();
  EXPECT_EQ(mfd_rssdocument_parse(parser_, doc_, url), 0);
  EXPECT_LT(peakMemoryMb(), 64);
  ASSERT_EQ(channels().size(), 1u);
  EXPECT_EQ(items(channels()[0]).size(), (kSize + skipped.size() - 1) / skipped.size());
  // Mostly text the parser keeps: the tree reaches its limit and the parse ends there.
  const std::string kept = "<item><title>" + std::string(3000, 't') + "</title></item>\n";
  writeLargeFeed(root_.host("big.rss"), kSize, kept);
  mfd_rssdocument_destroy(&doc_);
  ASSERT_EQ(mfd_rssdocument_create(&doc_), 0);
  resetPeakMemory();
  EXPECT_EQ(mfd_rssdocument_parse(parser_, doc_, url), 2);
  EXPECT_LT(peakMemoryMb(), 160);
  EXPECT_EQ(messages().at(0).substr(0, 24), L"characters (parse error)");
  mfd_url_destroy(&url);
}

TEST_F(RssTest, OversizedStructuresEndWithTwo) {
  std::string crowded = "<rss version=\"2.0\"><channel><item>";
  for (int i = 0; i < 100000; ++i) crowded += "<category>c</category>";
  crowded += "</item></channel></rss>";
  std::string deep = "<rss version=\"2.0\"><channel>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  const struct { const char* name; std::string xml; const wchar_t* message; } cases[] = {
      {"item of 100,000 elements", crowded,
       L"1:220044 startElement (parse error): more than 10000 elements in one item"},
      {"100,000 levels", deep, L"1:793 startElement (parse error): more than 256 elements open at once"},
      {"2 MB title", "<rss version=\"2.0\"><channel><title>" + std::string(2 << 20, 'x') + "</title></channel></rss>",
       L"characters (parse error): text of one element over 1 MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resetPeakMemory();
    EXPECT_EQ(parse(c.xml), 2);
    EXPECT_LT(peakMemoryMb(), 64);
    const std::wstring first = takeError();
    EXPECT_NE(first.find(c.message), std::wstring::npos) << std::string(first.begin(), first.end());
  }
}

}  // namespace
}  // namespace oxm::test
