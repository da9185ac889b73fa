// Every real-world message of the shared test data decodes, by every entry point, to the same
// record whatever its line ends, and every enclosure and related file it lists can be written,
// under both device code pages. Built against the library and against a copy with ASan and UBSan.
#include <gtest/gtest.h>

#include "frame/oxerror.h"
#include "tests/corpus/corpus_files.h"
#include "tests/support/testroot.h"

namespace oxm::test {
namespace {

// LF text with every line end made CR LF (lone CRs kept).
std::string withCrLf(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) out += '\r';
    out += raw[i];
  }
  return out;
}

class CorpusTest : public RootTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(CorpusTest, EveryMessageDecodesAndItsEnclosuresWrite) {
  const std::vector<std::string> files = corpusMessages();
  if (files.empty())
    GTEST_SKIP() << "no messages under " << testdataDirectory() << "/mail (set OXMIDDLE_TESTDATA to the shared test data)";
  setActiveCodePage(GetParam());
  EmlCompose codec;
  size_t enclosures = 0, written = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    SCOPED_TRACE(files[f]);
    const std::string raw = readWhole(files[f]);
    Email e;
    ASSERT_TRUE(codec.Decode(&e, &raw)) << std::hex << GetOxMiddleError();
    const std::string crlf = withCrLf(raw);
    Email again;
    ASSERT_TRUE(codec.Decode(&again, &crlf));
    EXPECT_TRUE(again.subject == e.subject && again.body == e.body && again.htmlBody == e.htmlBody);
    ASSERT_EQ(again.enclosures.size(), e.enclosures.size());
    for (auto a = again.enclosures.begin(), b = e.enclosures.begin(); a != again.enclosures.end(); ++a, ++b)
      EXPECT_TRUE(a->bodyOffset == b->bodyOffset && a->bodyLength == b->bodyLength) << a->displayName;
    Email other;
    EXPECT_TRUE(codec.DecodeSimple(&other, &raw, -1));
    EXPECT_TRUE(codec.DecodeHeader(&other, &raw));
    std::string saved = raw;
    EXPECT_TRUE(codec.DecodeForSave(&other, &saved));
    const std::wstring folder = L"\\m" + std::to_wstring(f);
    ASSERT_TRUE(CreateDirectoryW(folder));
    for (const std::list<Enclosure>* list : {&e.enclosures, &e.relatedFiles}) {
      for (Enclosure x : *list) {
        x.folder = folder;
        x.name = L"e" + std::to_wstring(enclosures++);
        if (codec.GetEnclosure(crlf, x))
          ++written;
        else
          EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_DECODE) << "only a uuencoded part without begin line fails";
      }
    }
  }
  std::printf("corpus (code page %u): %zu messages, %zu enclosures and related files, %zu written\n", GetParam(),
              files.size(), enclosures, written);
}

INSTANTIATE_TEST_SUITE_P(CodePages, CorpusTest, ::testing::Values(932u, 65001u));

}  // namespace
}  // namespace oxm::test
