// Writes every enclosure of each message given on the command line with GetEnclosure, for the
// comparison with Python's email package (compare_with_python.py).
//
// usage: corpus_extract OUTDIR FILE...
// OUTDIR/manifest.tsv gets one line per enclosure: message number, file, enclosure index,
// transfer encoding, type/subtype, result code, written file (empty when it failed).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "tests/corpus/corpus_files.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: corpus_extract OUTDIR FILE...\n");
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(out / "root");
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
    const std::wstring folder = L"\\m" + std::to_wstring(i - 2);
    oxm::CreateDirectoryW(folder);
    for (Enclosure x : e.enclosures) {
      x.folder = folder;
      x.name = L"e" + std::to_wstring(x.index);
      const bool ok = codec.GetEnclosure(raw, x);
      std::string encoding, type;
      oxm::wideToMulti(x.transferEncoding, &encoding);
      oxm::wideToMulti(x.type + L"/" + x.subtype, &type);
      const std::filesystem::path file = out / "root" / ("m" + std::to_string(i - 2)) / ("e" + std::to_string(x.index));
      manifest << (i - 2) << '\t' << argv[i] << '\t' << x.index << '\t' << encoding << '\t' << type << '\t' << std::hex
               << GetOxMiddleError() << std::dec << '\t' << (ok ? file.string() : std::string()) << '\n';
    }
  }
  return 0;
}
