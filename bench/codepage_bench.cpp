// Conversion of a 64 KB Japanese mail text between wide text and CP932 / UTF-8.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/codepage.h"

namespace {

constexpr size_t kTextBytes = 64 * 1024;

// A mail-like mix of kanji, kana, half-width katakana, ASCII and line ends.
std::wstring japaneseText() {
  const std::wstring line =
      L"\u65E5\u672C\u8A9E\u306E\u30E1\u30FC\u30EB\u672C\u6587\u3067\u3059\u3002"
      L"Subject: \u4F1A\u8B70\u306E\u304A\u77E5\u3089\u305B \uFF76\uFF9E\uFF72\uFF7C\uFF9E "
      L"\u2460\u2461\u3231 2026/12/06 12:34\r\n";
  std::wstring text;
  while (text.size() * 2 < kTextBytes) text += line;
  return text;
}

std::string encode(UINT cp, const std::wstring& text) {
  int len = static_cast<int>(text.size());
  int n = oxm::WideCharToMultiByte(cp, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  oxm::WideCharToMultiByte(cp, 0, text.data(), len, out.data(), n, nullptr, nullptr);
  return out;
}

void wideToMulti(benchmark::State& state, UINT cp) {
  const std::wstring text = japaneseText();
  std::string out(text.size() * 4, '\0');
  for (auto _ : state) {
    int n = oxm::WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                     static_cast<int>(out.size()), nullptr, nullptr);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encode(cp, text).size()));
}

void multiToWide(benchmark::State& state, UINT cp) {
  const std::string bytes = encode(cp, japaneseText());
  std::wstring out(bytes.size(), L'\0');
  for (auto _ : state) {
    int n = oxm::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                                     out.data(), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Cp932ToWide(benchmark::State& state) { multiToWide(state, oxm::CP_932); }
void BM_WideToCp932(benchmark::State& state) { wideToMulti(state, oxm::CP_932); }
void BM_Utf8ToWide(benchmark::State& state) { multiToWide(state, oxm::CP_UTF8); }
void BM_WideToUtf8(benchmark::State& state) { wideToMulti(state, oxm::CP_UTF8); }

BENCHMARK(BM_Cp932ToWide);
BENCHMARK(BM_WideToCp932);
BENCHMARK(BM_Utf8ToWide);
BENCHMARK(BM_WideToUtf8);

}  // namespace

BENCHMARK_MAIN();
