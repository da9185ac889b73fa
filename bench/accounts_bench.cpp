// Accounts: opening an account and reading all its settings, opening an account with its
// storage, and listing the display names of 50 accounts, each beside the file work it is made
// of.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "accounts/account_info.h"
#include "frame/registry_value.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "store/storage_interface.h"

namespace {

constexpr int kAccounts = 50;
constexpr uint64_t kAllKeys = 0x77EFFFFFFFFull;  // the 41 keys of AccountInfo.ini's table

std::wstring accountName(int i) { return L"Account" + std::to_wstring(100 + i); }

// A root on the project's own disk with 50 accounts made with their trays, each with its
// display name and every key of the table written, as a configured phone has them.
struct BenchRoot {
  BenchRoot() {
    char tmpl[] = "oxm-bench.XXXXXX";
    path = mkdtemp(tmpl);
    oxm::setRootDirectory(std::filesystem::absolute(path).string());
    oxm::setSyncEnabled(false);
    SetRegistryValue(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", L"DataPath",
                     std::wstring(L"\\Application Data\\OxMail\\"));
    for (int i = 0; i < kAccounts; ++i) {
      OxAccountCreator().CreateFolders(accountName(i));
      std::unique_ptr<OxAccountInfoInterface> a(OxAccountInfoInterface::OpenAccountInfo(accountName(i), L""));
      OxAccountInfoInterface::Attributes attrs;
      attrs.mask = kAllKeys & ~0xF0000000ull;  // the trays' identifiers stay as recorded
      attrs.strAccountName = L"表示名 " + std::to_wstring(i);
      attrs.strSenderAddress = L"user" + std::to_wstring(i) + L"@example.jp";
      attrs.strPopServerName = L"pop.example.jp";
      attrs.strSmtpServerName = L"smtp.example.jp";
      if (a) a->SetAccountInfoAttributes(attrs);
    }
    oxm::setSyncEnabled(true);
    // The display names were written after creation: the name table is built from the files.
    std::vector<std::wstring> names;
    OxAccountInfoInterface::GetAccountNameList(&names, L"");
  }
  ~BenchRoot() { std::filesystem::remove_all(path); }
  std::string path;
};

BenchRoot& root() {
  static BenchRoot r;
  return r;
}

void BM_OpenAccountAndReadAllKeys(benchmark::State& state) {
  root();
  int i = 0;
  for (auto _ : state) {
    std::unique_ptr<OxAccountInfoInterface> a(
        OxAccountInfoInterface::OpenAccountInfo(L"表示名 " + std::to_wstring(i++ % kAccounts), L""));
    OxAccountInfoInterface::Attributes attrs;
    attrs.mask = kAllKeys;
    if (!a || !a->GetAccountInfoAttributes(&attrs)) state.SkipWithError("open or read failed");
    benchmark::DoNotOptimize(attrs);
  }
}
BENCHMARK(BM_OpenAccountAndReadAllKeys);

// What a retrieval starts with: the account by display name, its storage (folder and message
// allocators read, Entry.dat mapped) and its receive tray, all released again.
void BM_OpenAccountWithStorage(benchmark::State& state) {
  root();
  int i = 0;
  for (auto _ : state) {
    std::unique_ptr<OxAccountInfoInterface> a(
        OxAccountInfoInterface::OpenAccountInfo(L"表示名 " + std::to_wstring(i++ % kAccounts), L""));
    std::unique_ptr<OxStorageInterface> storage(a ? a->OpenStorage() : nullptr);
    OxAccountInfoInterface::Attributes attrs;
    attrs.mask = uint64_t{1} << 28;  // ulJusinTrayID
    std::unique_ptr<OxFolderInterface> inbox(
        storage && a->GetAccountInfoAttributes(&attrs) ? storage->OpenFolder(attrs.ulJusinTrayID) : nullptr);
    if (!inbox) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(inbox);
  }
}
BENCHMARK(BM_OpenAccountWithStorage);

void BM_GetAccountNameList50(benchmark::State& state) {
  root();
  std::vector<std::wstring> names;
  for (auto _ : state) {
    if (!OxAccountInfoInterface::GetAccountNameList(&names, L"") || names.size() != kAccounts) {
      state.SkipWithError("list failed");
    }
    benchmark::DoNotOptimize(names);
  }
}
BENCHMARK(BM_GetAccountNameList50);

}  // namespace

BENCHMARK_MAIN();
