// Profile files and the crash-safe replacement, each beside the host's plain equivalent in the
// same run: the README reports the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <list>
#include <string>

#include "bench/bench_root.h"
#include "frame/profile.h"
#include "frame/safefile.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace {

const oxm::bench::BenchRoot& root() { return oxm::bench::benchRoot("oxm-bench.XXXXXX"); }

constexpr int kKeys = 45;

std::wstring keyName(int i) { return L"strSetting" + std::to_wstring(i); }

// A settings file of the size an account's has: 45 keys.
OxProfileManipulator& profile45() {
  static OxProfileManipulator* p = [] {
    root();
    auto* made = new OxProfileManipulator(L"\\bench.ini");
    made->CreateNewProfile();
    std::list<ProfileItem> items;
    for (int i = 0; i < kKeys; ++i) items.push_back({keyName(i), L"value number " + std::to_wstring(i), 0, false, PROFILE_ITEM_TEXT});
    made->WriteProfileItems(items);
    return made;
  }();
  return *p;
}

void BM_ProfileSingleRead(benchmark::State& state) {
  auto& p = profile45();
  std::wstring v;
  int i = 0;
  for (auto _ : state) {
    p.GetPrivateProfileString(keyName(i++ % kKeys), L"", &v);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ProfileSingleRead);

void BM_ProfileBatchRead(benchmark::State& state) {
  auto& p = profile45();
  for (auto _ : state) {
    std::list<ProfileItem> items;
    for (int i = 0; i < kKeys; ++i) items.push_back({keyName(i), L"", 0, false, PROFILE_ITEM_TEXT});
    p.ReadProfileItems(items);
    benchmark::DoNotOptimize(items);
  }
}
BENCHMARK(BM_ProfileBatchRead);

void BM_ProfileBatchWrite(benchmark::State& state) {
  oxm::setSyncEnabled(state.range(0) != 0);
  auto& p = profile45();
  for (auto _ : state) {
    std::list<ProfileItem> items;
    for (int i = 0; i < kKeys; ++i) items.push_back({keyName(i), L"changed " + std::to_wstring(i), 0, false, PROFILE_ITEM_TEXT});
    p.WriteProfileItems(items);
  }
}
BENCHMARK(BM_ProfileBatchWrite)->ArgName("sync")->Arg(0)->Arg(1);

const std::string& content4k() {
  static const std::string s(4096, 'x');
  return s;
}

void BM_SafeReplace4K(benchmark::State& state) {
  root();
  oxm::setSyncEnabled(state.range(0) != 0);
  const std::string& data = content4k();
  oxm::replaceFile(L"\\safe.bin", data.data(), data.size());
  for (auto _ : state) {
    oxm::preOpenCheck(L"\\safe.bin");
    oxm::writeTemporary(L"\\safe.bin", data.data(), data.size());
    oxm::commitReplacement(L"\\safe.bin");
  }
}
BENCHMARK(BM_SafeReplace4K)->ArgName("sync")->Arg(0)->Arg(1);

// The host's plain way: write a temporary file, rename it over the file; with sync, fsync the
// file before the rename as careful programs do.
void BM_HostWriteRename4K(benchmark::State& state) {
  const std::string dir = root().path;
  const std::string file = dir + "/host.bin";
  const std::string tmp = file + ".tmp";
  const bool sync = state.range(0) != 0;
  const std::string& data = content4k();
  for (auto _ : state) {
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) state.SkipWithError("write");
    if (sync) ::fdatasync(fd);
    ::close(fd);
    std::rename(tmp.c_str(), file.c_str());
  }
}
BENCHMARK(BM_HostWriteRename4K)->ArgName("sync")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
