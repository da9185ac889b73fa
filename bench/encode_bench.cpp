// Encoding throughput: a message with a 1 MB attachment (read from its file, Base64), and 1000
// short Japanese messages (encoded words, ISO-2022-JP, 300-character lines), beside the Base64
// of the same megabyte alone so that the encoder's own share is visible. The README reports the
// figures.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_root.h"
#include "codec/emlcompose.h"
#include "codec/transfer.h"
#include "platform/env.h"

namespace {

const oxm::bench::BenchRoot& root() { return oxm::bench::benchRoot("/tmp/oxm-encode-bench.XXXXXX"); }

std::string randomBytes(size_t n) {
  std::string out(n, '\0');
  unsigned x = 12345;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return out;
}

Email withAttachment() {
  static const bool written = [] {
    std::ofstream(root().path + "/photo.jpg", std::ios::binary) << randomBytes(1 << 20);
    return true;
  }();
  (void)written;
  Email m;
  m.from = L"taro@example.jp";
  m.fromName = L"山田太郎";
  m.to = {L"hanako@example.jp"};
  m.subject = L"写真を送ります";
  m.body = L"昨日の写真です。\r\nよろしくお願いします。\r\n";
  Enclosure e;
  e.name = L"photo.jpg";
  m.enclosures.push_back(e);
  return m;
}

void BM_EncodeOneMegabyteAttachment(benchmark::State& state) {
  Email m = withAttachment();
  EmlCompose codec;
  std::string out;
  for (auto _ : state) {
    if (!codec.Encode(&m, &out)) state.SkipWithError("encode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
  state.counters["message_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_EncodeOneMegabyteAttachment)->Unit(benchmark::kMillisecond);

// The part of that work that is the Base64 of the file alone.
void BM_Base64OfOneMegabyte(benchmark::State& state) {
  const std::string data = randomBytes(1 << 20);
  std::string out;
  for (auto _ : state) {
    out.clear();
    oxm::base64Encode(data, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_Base64OfOneMegabyte)->Unit(benchmark::kMillisecond);

std::vector<Email> shortJapanese() {
  std::vector<Email> mails;
  for (int i = 0; i < 1000; ++i) {
    Email m;
    m.from = L"taro@example.jp";
    m.fromName = L"山田太郎";
    m.to = {L"hanako@example.jp", L"jiro@example.jp"};
    m.subject = L"【お知らせ】明日の会議について " + std::to_wstring(i);
    m.body = L"お疲れさまです。\r\n明日の会議は十時から第三会議室で行います。資料は前日までにお送りします。\r\n"
             L"ご確認のほど、よろしくお願いいたします。\r\n";
    mails.push_back(m);
  }
  return mails;
}

void BM_EncodeThousandShortJapaneseMessages(benchmark::State& state) {
  std::vector<Email> mails = shortJapanese();
  EmlCompose codec;
  std::string out;
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (Email& m : mails) {
      if (!codec.Encode(&m, &out)) state.SkipWithError("encode");
      bytes += out.size();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_EncodeThousandShortJapaneseMessages)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
