// Hostile and oversized documents end with a clear code in bounded memory; nothing external is read.
#include <cstring>
#include <fstream>
#include <functional>

#include "tests/feeds/rss_fixture.h"
#include "tests/support/script_server.h"

namespace oxm::test {
namespace {

// A line of /proc/self/status in MB (Linux).
long memoryMb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key))) / 1024;
  return -1;
}
// How far the resident memory peaks above what it was at the start of a parse that gives `code`.
long parsePeakMb(const std::function<int()>& parse, int code) {
  std::ofstream("/proc/self/clear_refs") << "5";
  const long start = memoryMb("VmRSS:");
  EXPECT_EQ(parse(), code);
  return memoryMb("VmHWM:") - start;
}

std::string entities(const std::string& declarations, const std::string& title) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [" + declarations + "]>\n<rss version=\"2.0\"><channel><title>" +
         title + "</title></channel></rss>";
}

// External entities are neither read nor fetched; internal ones are replaced.
TEST_F(RssTest, ExternalEntitiesAreNeverFetchedNorRead) {
  writeHostFile(root_.host("secret.txt"), "SECRET-FILE");
  writeHostFile(root_.host("secret.dtd"), "<!ENTITY leak \"SECRET-DTD\">");
  ScriptServer http(Script{});  // must never see a connection
  const std::string file = "file://" + root_.host("secret.txt"), dtd = "file://" + root_.host("secret.dtd");
  const std::string net = "http://127.0.0.1:" + std::to_string(http.port()) + "/x.dtd";
  const struct { const char* name; std::string xml; int code; } cases[] = {
      // External entities are never declared: not well-formed where used; a subset is not read.
      {"file entity", entities("<!ENTITY x SYSTEM \"" + file + "\">", "a&x;b"), 3},
      {"http entity", entities("<!ENTITY x SYSTEM \"" + net + "\">", "a&x;b"), 3},
      {"file parameter entity", entities("<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;", "a&leak;b"), 3},
      {"http subset", "<!DOCTYPE rss SYSTEM \"" + net + "\"><rss version=\"2.0\"><channel><title>a&leak;b</title>"
                      "</channel></rss>", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.xml), c.code);
    std::wstring text;
    for (mfd_rsschannel* channel : channels()) text += fields(channel);
    EXPECT_EQ(text.find(L"SECRET"), std::wstring::npos);
    EXPECT_TRUE(c.code != 0 || field(mfd_rsschannel_get_title, channels().at(0)) == L"ab");
    EXPECT_FALSE(messages().empty());
    EXPECT_FALSE(http.waitDone(100)) << "the parser connected to " << net;
  }
  ASSERT_EQ(parse(entities("<!ENTITY co \"Example &amp; Co\">", "&co; / &co;")), 0);
  EXPECT_EQ(field(mfd_rsschannel_get_title, channels()[0]), L"Example & Co / Example & Co");
}

// 100 MB from a file: mostly elements the parser does not keep (read whole, the tree stays small),
// then mostly text it keeps (the tree reaches its limit and the parse ends there).
TEST_F(RssTest, HundredMegabyteDocumentsInBoundedMemory) {
  const size_t kSize = 100u << 20;
  mfd_url* url = nullptr;
  ASSERT_EQ(mfd_url_create(&url), 0);
  ASSERT_EQ(mfd_url_set(url, L"file:///big.rss"), 0);
  const auto write = [&](const std::string& item) {
    std::ofstream out(root_.host("big.rss"), std::ios::binary);
    out << "<rss version=\"2.0\"><channel><title>Big</title>\n";
    for (size_t written = 0; written < kSize; written += item.size()) out << item;
    out << "</channel></rss>\n";
  };
  const std::string skipped = "<item><title>t</title><x>" + std::string(10000, 'y') + "</x></item>\n";
  write(skipped);
  EXPECT_LT(parsePeakMb([&] { return parse("", url); }, 0), 64);
  ASSERT_EQ(channels().size(), 1u);
  EXPECT_EQ(items(channels()[0]).size(), (kSize + skipped.size() - 1) / skipped.size());
  write("<item><title>" + std::string(3000, 't') + "</title></item>\n");
  EXPECT_LT(parsePeakMb([&] { return parse("", url); }, 2), 160);
  EXPECT_EQ(messages().at(0).substr(0, 24), L"characters (parse error)");
  mfd_url_destroy(&url);
}

// Each limit of one parse at its value, and past it (the position shows where the parse was cut).
TEST_F(RssTest, OversizedStructuresEndWithTwo) {
  const auto repeat = [](const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += text;
    return out;
  };
  const std::string rss = "<rss version=\"2.0\"><channel>", end = "</channel></rss>";
  const auto item = [&](int n) { return rss + "<item>" + repeat("<category>c</category>", n) + "</item>" + end; };
  const auto title = [&](size_t n) { return rss + "<title>" + std::string(n, 'x') + "</title>" + end; };
  const struct { const char* name; std::string xml; int code; const wchar_t* message; } cases[] = {
      {"item of 10,000 elements", item(10000), 0, nullptr},
      {"item of 100,000 elements", item(100000), 2,
       L"1:220044 startElement (parse error): more than 10000 elements in one item"},
      {"256 levels", rss + repeat("<a>", 254) + repeat("</a>", 254) + end, 0, nullptr},
      {"100,000 levels", rss + repeat("<a>", 100000), 2,
       L"1:793 startElement (parse error): more than 256 elements open at once"},
      {"1 MB title", title(1 << 20), 0, nullptr},
      {"2 MB title", title(2 << 20), 2, L"characters (parse error): text of one element over 1 MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_LT(parsePeakMb([&] { return parse(c.xml); }, c.code), 64);
    const std::wstring first = takeError();
    EXPECT_TRUE(c.code ? first.ends_with(c.message) : first.empty()) << std::string(first.begin(), first.end());
  }
}

}  // namespace
}  // namespace oxm::test
