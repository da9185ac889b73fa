// Decoding throughput of the codec over the shared real-world messages and over a 3 MB message
// with attachments, under both device code pages (the argument: 932 or 65001), beside GMime 3
// parsing the same bytes in the same run; and the peak heap the decode of the 3 MB message takes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "codec/emlcompose.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "tests/corpus/corpus_files.h"

#ifdef OXM_HAVE_GMIME
#include <gmime/gmime.h>
#endif

// Every allocation of the program counted, for the peak of one decode.
namespace {
std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};
void noteAlloc(void* p) {
  if (!p) return;
  const size_t now = liveBytes += malloc_usable_size(p);
  size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  noteAlloc(p);
  return p;
}
// operator new above takes its memory from malloc, so free is the matching release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (p) liveBytes -= malloc_usable_size(p);
  std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

const std::vector<std::string>& corpus() {
  static const std::vector<std::string> messages = [] {
    std::vector<std::string> all;
    for (const std::string& f : oxm::test::corpusMessages()) all.push_back(oxm::test::readWhole(f));
    return all;
  }();
  return messages;
}

size_t corpusBytes() {
  size_t n = 0;
  for (const std::string& m : corpus()) n += m.size();
  return n;
}

std::string base64Lines(size_t bytes, unsigned seed) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(bytes + bytes / 76 * 2);
  unsigned x = seed;
  while (out.size() < bytes) {
    for (int i = 0; i < 76; ++i) {
      x = x * 1103515245u + 12345u;
      out += kAlphabet[(x >> 16) & 63];
    }
    out += "\r\n";
  }
  return out;
}

// A 3 MB message as a phone receives one: a Japanese text body, an HTML alternative, and three
// Base64 attachments (a picture, a document, a sound).
const std::string& bigMessage() {
  static const std::string message = [] {
    std::string text;
    while (text.size() < 20000) text += "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x81\x81\x5b\x83\x8b\x96\x7b\x95\xb6 text line\r\n";
    std::string m =
        "From: sender@example.jp\r\nTo: user@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=\r\n"
        "Date: Tue, 4 Dec 2007 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"mixed-1\"\r\n\r\n"
        "--mixed-1\r\nContent-Type: multipart/alternative; boundary=\"alt-1\"\r\n\r\n"
        "--alt-1\r\nContent-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
        text + "\r\n--alt-1\r\nContent-Type: text/html; charset=Shift_JIS\r\n\r\n<html><body>" + text +
        "</body></html>\r\n--alt-1--\r\n";
    const char* names[] = {"photo.jpg", "report.pdf", "voice.wav"};
    for (unsigned i = 0; i < 3; ++i) {
      m += std::string("\r\n--mixed-1\r\nContent-Type: application/octet-stream; name=\"") + names[i] +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" + names[i] +
           "\"\r\n\r\n" + base64Lines(1000000, i + 1);
    }
    m += "\r\n--mixed-1--\r\n";
    return m;
  }();
  return message;
}

void decodeAll(benchmark::State& state, const std::vector<const std::string*>& messages, size_t bytes) {
  oxm::setFixedAvailPhys(uint64_t{1} << 32);  // the figure, not the /proc read, is what a decode checks
  oxm::setActiveCodePage(static_cast<UINT>(state.range(0)));
  EmlCompose codec;
  for (auto _ : state) {
    for (const std::string* m : messages) {
      Email e;
      benchmark::DoNotOptimize(codec.Decode(&e, m));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

std::vector<const std::string*> corpusPointers() {
  std::vector<const std::string*> p;
  for (const std::string& m : corpus()) p.push_back(&m);
  return p;
}

void BM_DecodeCorpus(benchmark::State& state) {
  if (corpus().empty()) return state.SkipWithError("no test data (set OXMIDDLE_TESTDATA)");
  decodeAll(state, corpusPointers(), corpusBytes());
}

void BM_Decode3MB(benchmark::State& state) {
  decodeAll(state, {&bigMessage()}, bigMessage().size());
  // The peak of one more decode, above what was live before it.
  EmlCompose codec;
  Email e;
  const size_t before = liveBytes.load();
  peakBytes = before;
  codec.Decode(&e, &bigMessage());
  const double peak = static_cast<double>(peakBytes.load() - before);
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_x_message"] = peak / static_cast<double>(bigMessage().size());
}

#ifdef OXM_HAVE_GMIME
void gmimeParseAll(benchmark::State& state, const std::vector<const std::string*>& messages, size_t bytes) {
  for (auto _ : state) {
    for (const std::string* m : messages) {
      GMimeStream* stream = g_mime_stream_mem_new_with_buffer(m->data(), m->size());
      GMimeParser* parser = g_mime_parser_new_with_stream(stream);
      GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
      benchmark::DoNotOptimize(message);
      if (message) g_object_unref(message);
      g_object_unref(parser);
      g_object_unref(stream);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_GMimeCorpus(benchmark::State& state) {
  if (corpus().empty()) return state.SkipWithError("no test data (set OXMIDDLE_TESTDATA)");
  gmimeParseAll(state, corpusPointers(), corpusBytes());
}

void BM_GMime3MB(benchmark::State& state) { gmimeParseAll(state, {&bigMessage()}, bigMessage().size()); }
#endif

}  // namespace

BENCHMARK(BM_DecodeCorpus)->Arg(932)->Arg(65001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode3MB)->Arg(932)->Arg(65001)->Unit(benchmark::kMillisecond);
#ifdef OXM_HAVE_GMIME
BENCHMARK(BM_GMimeCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GMime3MB)->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv) {
#ifdef OXM_HAVE_GMIME
  g_mime_init();
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
