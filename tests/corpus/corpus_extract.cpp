// Writes every enclosure of each message given with GetEnclosure, for compare_with_python.py.
// OUTDIR/manifest.tsv, a line per enclosure: message number, file, index, transfer encoding, type,
// result code, written file (empty on failure). OUTDIR/texts/N: message N's UTF-8 subject, plain
// body and part display names, each ended by a zero byte.
#include "frame/oxerror.h"
#include "tests/corpus/corpus_files.h"

int main(int argc, char** argv) {
  using oxm::test::utf8;
  const std::filesystem::path out = oxm::test::takeOutputArguments(argc, argv, "corpus_extract");
  if (out.empty()) return 2;
  std::filesystem::create_directories(out / "texts");
  std::ofstream manifest(out / "manifest.tsv", std::ios::binary);
  EmlCompose codec;
  for (int number = 0; number < argc; ++number) {
    const std::string raw = oxm::test::readWhole(argv[number]);
    Email e;
    if (!codec.Decode(&e, &raw)) {
      std::fprintf(stderr, "%s: decode failed %08x\n", argv[number], GetOxMiddleError());
      return 1;
    }
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
      manifest << number << '\t' << argv[number] << '\t' << x.index << '\t' << utf8(x.transferEncoding) << '\t'
               << utf8(x.type + L"/" + x.subtype) << '\t' << std::hex << GetOxMiddleError() << std::dec << '\t'
               << (ok ? file.string() : std::string()) << '\n';
    }
  }
  return 0;
}
