// Importing the shared real-world messages into one folder of a store, beside decoding the same
// messages alone, so that the store's share of an import is visible; with and without flushes.
// The README reports the figures.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_root.h"
#include "codec/emlcompose.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "store/message_importer.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/storage_tree.h"
#include "tests/corpus/corpus_files.h"

namespace {

const oxm::bench::BenchRoot& root() { return oxm::bench::benchRoot("oxm-import-bench.XXXXXX"); }

// The corpus files that are messages (they have a sender): device paths and texts.
struct Corpus {
  std::vector<std::wstring> paths;
  std::vector<std::string> texts;
};

const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus all;
    EmlCompose codec;
    for (const std::string& file : oxm::test::corpusMessages()) {
      std::string text = oxm::test::readWhole(file);
      text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
      Email probe;
      if (text.empty() || !codec.Decode(&probe, &text) || probe.from.empty()) continue;
      all.paths.push_back(L"\\Host" + std::wstring(file.begin(), file.end()));
      all.texts.push_back(std::move(text));
    }
    return all;
  }();
  return c;
}

void BM_DecodeCorpusAlone(benchmark::State& state) {
  const Corpus& c = corpus();
  if (c.texts.empty()) return state.SkipWithError("no test data");
  EmlCompose codec;
  for (auto _ : state) {
    for (const std::string& text : c.texts) {
      Email mail;
      if (!codec.Decode(&mail, &text)) state.SkipWithError("decode");
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c.texts.size()));
}
BENCHMARK(BM_DecodeCorpusAlone)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each iteration imports the whole corpus into a new folder of a fresh storage.
void BM_ImportCorpus(benchmark::State& state) {
  const Corpus& c = corpus();
  if (c.paths.empty()) return state.SkipWithError("no test data");
  root();
  oxm::setSyncEnabled(state.range(0) != 0);
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::wstring dir = L"store" + std::to_wstring(run++);
    oxm::createStorageTree(dir);
    std::unique_ptr<OxStorageInterface> storage(oxm::openStorageInterface(dir));
    std::unique_ptr<OxFolderInterface> top(storage->OpenRootFolder());
    unsigned long id = 0;
    top->CreateFolder(L"import", &id);
    std::unique_ptr<OxFolderInterface> folder(storage->OpenFolder(id));
    OxMessageImporter importer;
    importer.SetSource(c.paths);
    importer.SetDestination(folder.get());
    state.ResumeTiming();
    if (!importer.Fire()) state.SkipWithError("import");
  }
  oxm::setSyncEnabled(false);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c.paths.size()));
  state.counters["messages"] = static_cast<double>(c.paths.size());
}
BENCHMARK(BM_ImportCorpus)->Arg(0)->Arg(1)->ArgName("flush")->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
