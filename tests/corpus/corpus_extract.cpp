// Writes every enclosure of each message given on the command line with GetEnclosure, for the
// comparison with Python's email package (compare_with_python.py).
//
// usage: corpus_extract [--codepage 932|65001] OUTDIR FILE...
// OUTDIR/manifest.tsv gets one line per enclosure: message number, file, enclosure index,
// transfer encoding, type/subtype, result code, written file (empty when it failed).
// OUTDIR/texts/N holds the decoded texts of message N in UTF-8, each ended by a zero byte: the
// subject, the plain body, then the display name of every enclosure and related file.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "tests/corpus/corpus_files.h"

int main(int argc, char** argv) {
  using oxm::test::utf8;
  oxm::test::takeCodePage(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: corpus_extract [--codepage 932|65001] OUTDIR FILE...\n");
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(out / "root");
  std::filesystem::create_directories(out / "texts");
  oxm::setRootDirectory((out / "root").string());
  std::ofstream manifest(out / "manifest.tsv", std::ios::binary);
  EmlCompose codec;
  for (int i = 2; i < argc; ++i) {
    const std::string raw = oxm::test::readWhole(argv[i]);
    Email e;
    if (!codec.Decode(&e, &raw)) {
      std::fprintf(stderr, "%s: decode failed %08x\n", argv[i], GetOxMiddleError());
      return 1;
    }
    const int number = i - 2;
    std::ofstream texts(out / "texts" / std::to_string(number), std::ios::binary);
    texts << utf8(e.subject) << '\0' << utf8(e.body) << '\0';
    for (const auto* list : {&e.enclosures, &e.relatedFiles})
      for (const Enclosure& x : *list) texts << utf8(x.displayName) << '\0';
    const std::wstring folder = L"\\m" + std::to_wstring(number);
    oxm::CreateDirectoryW(folder);
    for (Enclosure x : e.enclosures) {
      x.folder = folder;
      x.name = L"e" + std::to_wstring(x.index);
      const bool ok = codec.GetEnclosure(raw, x);
      const std::filesystem::path file = out / "root" / ("m" + std::to_string(number)) / ("e" + std::to_string(x.index));
      manifest << number << '\t' << argv[i] << '\t' << x.index << '\t' << utf8(x.transferEncoding) << '\t'
               << utf8(x.type + L"/" + x.subtype) << '\t' << std::hex << GetOxMiddleError() << std::dec << '\t'
               << (ok ? file.string() : std::string()) << '\n';
    }
  }
  return 0;
}
