// The sending side over the shared real-world messages: every message that decodes with a body
// is encoded again and decoded once more, and must come back the same but for the differences
// the encoding rules make, each named and counted. Then the corpus is imported and exported.
#include <gtest/gtest.h>

#include <map>

#include "frame/oxerror.h"
#include "store/message_exporter.h"
#include "store/message_importer.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/storage_tree.h"
#include "tests/corpus/corpus_files.h"
#include "tests/support/testroot.h"

namespace oxm::test {
namespace {

// Half-width katakana (U+FF61..U+FF9F) go out as their full-width forms, a voiced or semi-voiced
// mark merged into the letter before it where the full-width set has the combined letter.
std::wstring fullWidthKana(const std::wstring& text) {
  static const wchar_t kFull[] =
      L"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0xFF61 || text[i] > 0xFF9F) {
      out += text[i];
      continue;
    }
    wchar_t full = kFull[text[i] - 0xFF61];
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : 0;
    const bool haToHo = full >= L'ハ' && full <= L'ホ';
    if (next == 0xFF9E && (haToHo || (full >= L'カ' && full <= L'ト') || full == L'ウ')) {
      full = full == L'ウ' ? L'ヴ' : static_cast<wchar_t>(full + 1);
      ++i;
    } else if (next == 0xFF9F && haToHo) {
      full = static_cast<wchar_t>(full + 2);
      ++i;
    }
    out += full;
  }
  return out;
}

bool any(const std::wstring& text, bool (*test)(wchar_t)) { return std::ranges::any_of(text, test); }
bool isHalfWidthKana(wchar_t c) { return c >= 0xFF61 && c <= 0xFF9F; }
bool isLineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }
// Not bare after its first reading: a comment, a blank, a quote, a bracket, non-ASCII.
bool isAddressOddity(wchar_t c) { return c == L'(' || c == L' ' || c == L'"' || c == L'<' || c >= 0x80; }

std::wstring trimmed(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L' ');
  return first == std::wstring::npos ? L"" : text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

bool hasLineOver300(const std::wstring& text) {
  size_t run = 0;
  for (wchar_t c : text)
    if ((run = c == L'\n' ? 0 : run + 1) > 300) return true;
  return false;
}

// Enclosures then related files.
std::vector<Enclosure> allParts(const Email& m) {
  std::vector<Enclosure> out(m.enclosures.begin(), m.enclosures.end());
  out.insert(out.end(), m.relatedFiles.begin(), m.relatedFiles.end());
  return out;
}

// Counts the rules that explain differences; what none explains fails.
class Comparison {
 public:
  explicit Comparison(const std::string& file) : file_(file) {}
  // `a` sent, `b` come back; the rules that apply to this field are tried in order.
  void text(const char* field, std::wstring a, std::wstring b, bool finalLineEndGoes, bool header) {
    if (a == b) return;
    if (header && any(a, isLineEnd)) {
      std::replace_if(a.begin(), a.end(), isLineEnd, L' ');
      a = trimmed(a);
      if (rule("line-break-in-header", a == b)) return;
    }
    if (header && trimmed(a) != a) {
      a = trimmed(a);
      if (rule("blanks-trimmed", a == b)) return;
    }
    // SO, SI and ESC are ISO-2022-JP's own shift functions: text holding them reads otherwise.
    if (!header && a.find_first_of(L"\x0e\x0f\x1b") != std::wstring::npos && rule("shift-functions-in-text", true))
      return;
    if (any(a, isHalfWidthKana)) {
      a = fullWidthKana(a);
      if (rule("half-width-kana", a == b)) return;
    }
    if (finalLineEndGoes && a.ends_with(L"\r\n")) {
      a.resize(a.size() - 2);
      if (rule("final-line-end", a == b)) return;
    }
    if (!header && hasLineOver300(a)) {
      std::erase_if(a, isLineEnd);
      std::erase_if(b, isLineEnd);
      if (rule("long-lines", a == b)) return;
    }
    ADD_FAILURE() << file_ << ": " << field << " differs\n  sent: " << utf8(a.substr(0, 200))
                  << "\n  back: " << utf8(b.substr(0, 200));
  }
  void addresses(const char* field, const std::list<std::wstring>& sent, std::list<std::wstring> back) {
    back.remove(L"");  // a From without an address stays without one
    std::list<std::wstring> expected;
    bool odd = false;
    for (const std::wstring& a : sent) {
      if (a.empty()) {
        ++counts_["empty-address"];
        continue;
      }
      odd = odd || any(a, isAddressOddity);
      expected.push_back(a);
    }
    if (expected != back && !rule("address-not-bare", odd)) ADD_FAILURE() << file_ << ": " << field << " differs";
  }
  static std::map<std::string, size_t>& counts() { return counts_; }

 private:
  bool rule(const char* name, bool explains) {
    if (explains) ++counts_[name];
    return explains;
  }
  std::string file_;
  static inline std::map<std::string, size_t> counts_;
};

// Under 65001 what has no ISO-2022-JP form goes out as UTF-8 and must come back as it was.
class CorpusRoundTrip : public RootTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(CorpusRoundTrip, DecodeEncodeDecodeGivesTheSameMessage) {
  const std::vector<std::string> files = corpusMessages();
  if (files.empty()) GTEST_SKIP() << "no messages under " << testdataDirectory() << "/mail";
  setActiveCodePage(GetParam());
  Comparison::counts().clear();
  EmlCompose codec;
  size_t withBody = 0, parts = 0, unwritable = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    const std::string raw = readWhole(files[f]);
    Reencodable source;
    ASSERT_TRUE(prepareReencoding(raw, L"\\m" + std::to_wstring(f), &source)) << files[f];
    const Email& m = source.mail;
    if (m.body.empty() && m.htmlBody.empty()) continue;
    ++withBody;
    unwritable += source.unwritable;
    Email sent = m;
    std::string encoded;
    ASSERT_TRUE(codec.Encode(&sent, &encoded)) << files[f] << ": encode failed " << std::hex << GetOxMiddleError();
    Email back;
    ASSERT_TRUE(codec.Decode(&back, &encoded)) << files[f];
    Comparison compare(files[f]);
    compare.text("subject", m.subject, back.subject, false, true);
    compare.addresses("from", {m.from}, {back.from});
    compare.text("fromName", m.fromName, back.fromName, false, true);
    compare.addresses("to", m.to, back.to);
    compare.addresses("cc", m.cc, back.cc);
    // The plain text of an HTML message and the HTML itself stand right before a boundary.
    compare.text("body", m.body, back.body, !m.htmlBody.empty(), false);
    compare.text("html", m.htmlBody, back.htmlBody, true, false);
    // Every part comes back with its name and its bytes.
    const std::vector<Enclosure> sentParts = allParts(m), backParts = allParts(back);
    ASSERT_EQ(backParts.size(), sentParts.size()) << files[f];
    for (size_t k = 0; k < sentParts.size(); ++k, ++parts) {
      compare.text("part name", sentParts[k].displayName, backParts[k].displayName, false, true);
      Enclosure out = backParts[k];
      out.folder = L"\\back" + std::to_wstring(f) + L"_" + std::to_wstring(k);
      out.name = L"part";
      CreateDirectoryW(out.folder);
      ASSERT_TRUE(codec.GetEnclosure(encoded, out)) << files[f];
      EXPECT_EQ(readWhole(hostPath(out.folder + L"\\part")), readWhole(hostPath(source.partFiles[k])))
          << files[f] << " part " << k;
    }
  }
  std::printf("round trips (code page %u): %zu messages with a body, %zu parts; %zu parts without a file to send\n",
              GetParam(), withBody, parts, unwritable);
  for (const auto& [rule, n] : Comparison::counts()) std::printf("  %-22s %zu\n", rule.c_str(), n);
}

INSTANTIATE_TEST_SUITE_P(CodePages, CorpusRoundTrip, ::testing::Values(932u, 65001u));

// Every file that is a message (it has a sender) is imported into one folder, exported and compared
// byte for byte, cut at its first NUL byte. The refusal of the others is in tests/store.
using CorpusImport = RootTest;

TEST_F(CorpusImport, ImportedCorpusExportsByteForByte) {
  const std::vector<std::string> files = corpusMessages();
  if (files.empty()) GTEST_SKIP() << "no messages under " << testdataDirectory() << "/mail";
  ASSERT_EQ(createStorageTree(L"acct"), OXMDL_ERR_NONE);
  std::unique_ptr<OxStorageInterface> storage(openStorageInterface(L"acct"));
  ASSERT_TRUE(storage);
  std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
  ASSERT_TRUE(root);
  EmlCompose codec;
  std::vector<std::wstring> messages;
  std::vector<std::string> texts;  // what each imported message must export as
  for (const std::string& file : files) {
    const std::string bytes = readWhole(file), text = bytes.substr(0, bytes.find('\0'));
    Email probe;
    codec.Decode(&probe, &text);
    if (!bytes.empty() && !probe.from.empty()) {
      messages.push_back(L"\\Host" + std::wstring(file.begin(), file.end()));
      texts.push_back(text);
    }
  }
  unsigned long id = 0;
  ASSERT_TRUE(root->CreateFolder(L"import", &id));
  std::unique_ptr<OxFolderInterface> folder(storage->OpenFolder(id));
  OxMessageImporter importer;
  ASSERT_LE(messages.size(), 1000u) << "more than a folder holds";
  ASSERT_TRUE(importer.SetSource(messages));
  ASSERT_TRUE(importer.SetDestination(folder.get()));
  ASSERT_TRUE(importer.Fire()) << std::hex << importer.GetErrorInfo();
  std::vector<unsigned long> ids;
  ASSERT_TRUE(folder->GetMessageIds(&ids));
  std::vector<std::unique_ptr<OxMessageInterface>> open;
  std::vector<OxMessageInterface*> sources;
  for (unsigned long message : ids) sources.push_back(open.emplace_back(folder->OpenMessage(message)).get());
  ASSERT_EQ(sources.size(), messages.size());
  ASSERT_TRUE(CreateDirectoryW(L"\\export"));
  OxMessageExporter exporter;
  ASSERT_TRUE(exporter.SetSource(sources));
  ASSERT_TRUE(exporter.SetDestination(L"\\export"));
  ASSERT_TRUE(exporter.Fire()) << std::hex << exporter.GetErrorInfo();
  for (size_t i = 0; i < texts.size(); ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "/export/EML%05zu.eml", i);
    EXPECT_TRUE(readWhole(root_.path() + name) == texts[i]) << "exported file " << i << " differs from its source";
  }
  std::printf("import: %zu messages imported and exported again\n", messages.size());
}

}  // namespace
}  // namespace oxm::test
