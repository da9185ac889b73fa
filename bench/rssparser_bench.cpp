// Parsing the shared real-world feeds (and a 5 MB feed of 5000 items) into the document tree,
// beside the floor under it, libxml2's SAX2 push reader with empty handlers over the same bytes,
// and beside Python's feedparser reading the same files in the same run.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <string>
#include <vector>

#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "tests/feeds/feed_files.h"

namespace {

const std::vector<std::string>& feeds() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> v;
    for (const std::string& f : oxm::test::corpusFeeds()) v.push_back(oxm::test::readWhole(f));
    return v;
  }();
  return all;
}

const std::vector<std::string>& bigFeed() {
  static const std::vector<std::string> one = [] {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Big</title>\n";
    for (int i = 0; xml.size() < 5000000; ++i) {
      const std::string n = std::to_string(i);
      xml += "<item><title>Item " + n + " \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E</title><link>http://example.org/" + n +
             "</link><description>" + std::string(800, 'd') + "</description><pubDate>Mon, 04 Dec 2006 10:00:00 +0900"
             "</pubDate><category>news</category><guid>id-" + n + "</guid></item>\n";
    }
    return std::vector<std::string>{xml + "</channel></rss>\n"};
  }();
  return one;
}

size_t bytesOf(const std::vector<std::string>& docs) {
  size_t n = 0;
  for (const std::string& d : docs) n += d.size();
  return n;
}

void parseIntoTree(benchmark::State& state, const std::vector<std::string>& docs) {
  if (docs.empty()) return state.SkipWithError("no test data (set OXMIDDLE_TESTDATA)");
  oxm::mfd_rssparser* parser = nullptr;
  oxm::mfd_rssparser_create(&parser);
  for (auto _ : state) {
    for (const std::string& d : docs) {
      oxm::mfd_rssdocument* doc = nullptr;
      oxm::mfd_rssdocument_create(&doc);
      benchmark::DoNotOptimize(oxm::mfd_rssdocument_parse_memory(parser, doc, d.data(), d.size()));
      oxm::mfd_rssdocument_destroy(&doc);
    }
  }
  oxm::mfd_rssparser_destroy(&parser);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesOf(docs)));
}

void ignoreGenericError(void*, const char*, ...) {}

// The floor: the same reader, the same options and 64 KB pieces, handlers that do nothing.
void saxFloor(benchmark::State& state, const std::vector<std::string>& docs) {
  if (docs.empty()) return state.SkipWithError("no test data (set OXMIDDLE_TESTDATA)");
  xmlSAXHandler sax{};
  xmlSAXVersion(&sax, 2);
  sax.startElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                          const xmlChar**) {};
  sax.endElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*) {};
  sax.characters = [](void*, const xmlChar*, int) {};
  sax.cdataBlock = sax.characters;
  sax.ignorableWhitespace = sax.characters;
  sax.serror = [](void*, xmlErrorPtr) {};
  sax.comment = nullptr;
  sax.processingInstruction = nullptr;
  sax.warning = nullptr;
  sax.error = nullptr;
  xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
  for (auto _ : state) {
    for (const std::string& d : docs) {
      xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
      xmlCtxtUseOptions(ctxt, XML_PARSE_NOENT | XML_PARSE_NONET);
      for (size_t at = 0; at < d.size(); at += 65536)
        xmlParseChunk(ctxt, d.data() + at, static_cast<int>(std::min<size_t>(65536, d.size() - at)), 0);
      xmlParseChunk(ctxt, nullptr, 0, 1);
      if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
      xmlFreeParserCtxt(ctxt);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesOf(docs)));
}

// CPU seconds one pass of feedparser takes over the files (the best of three), measured by Python
// itself; negative when Python or feedparser is missing.
double feedparserSeconds(bool big) {
  const std::string script =
      "import sys, time\n"
      "try:\n import feedparser\nexcept ImportError:\n print(-1); sys.exit()\n"
      "docs = [open(f, 'rb').read() for f in sys.argv[1:]] if sys.argv[1:] != ['-'] else [sys.stdin.buffer.read()]\n"
      "best = None\n"
      "for _ in range(3):\n"
      " t = time.process_time()\n"
      " for d in docs: feedparser.parse(d)\n"
      " t = time.process_time() - t\n"
      " best = t if best is None or t < best else best\n"
      "print(best)\n";
  const std::string scriptFile = "/tmp/oxm_rssbench_feedparser.py";
  if (FILE* f = std::fopen(scriptFile.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  std::string command = std::string(OXM_PYTHON3) + " " + scriptFile;
  std::string input;
  if (big) {
    input = "/tmp/oxm_rssbench_big.xml";
    if (FILE* f = std::fopen(input.c_str(), "wb")) {
      std::fwrite(bigFeed()[0].data(), 1, bigFeed()[0].size(), f);
      std::fclose(f);
    }
    command += " " + input;
  } else {
    for (const std::string& f : oxm::test::corpusFeeds()) command += " '" + f + "'";
  }
  double seconds = -1;
  if (FILE* p = popen(command.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    pclose(p);
  }
  std::remove(scriptFile.c_str());
  if (big) std::remove(input.c_str());
  return seconds;
}

void feedparser(benchmark::State& state, const std::vector<std::string>& docs, bool big) {
  if (docs.empty()) return state.SkipWithError("no test data (set OXMIDDLE_TESTDATA)");
  const double seconds = feedparserSeconds(big);
  if (seconds < 0) return state.SkipWithError("Python's feedparser is not installed");
  for (auto _ : state) state.SetIterationTime(seconds);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesOf(docs)));
}

void BM_TreeCorpus(benchmark::State& state) { parseIntoTree(state, feeds()); }
void BM_SaxFloorCorpus(benchmark::State& state) { saxFloor(state, feeds()); }
void BM_FeedparserCorpus(benchmark::State& state) { feedparser(state, feeds(), false); }
void BM_Tree5MB(benchmark::State& state) { parseIntoTree(state, bigFeed()); }
void BM_SaxFloor5MB(benchmark::State& state) { saxFloor(state, bigFeed()); }
void BM_Feedparser5MB(benchmark::State& state) { feedparser(state, bigFeed(), true); }

}  // namespace

BENCHMARK(BM_TreeCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaxFloorCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeedparserCorpus)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Tree5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaxFloor5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Feedparser5MB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
