// A fresh device root with the registry values that locate the accounts, and a check that every test closes them.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "accounts/account_info.h"
#include "accounts/account_set.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "frame/registry_value.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "tests/support/profile_lines.h"
#include "tests/support/testroot.h"

// `call` fails (false or null) and leaves `code` as the last error.
#define EXPECT_OXM_FAIL(call, code)                                   \
  do {                                                                \
    EXPECT_FALSE(call) << #call;                                      \
    EXPECT_EQ(::GetOxMiddleError(), unsigned(code)) << #call;    \
  } while (0)

namespace oxm::test {

inline const wchar_t* const kMailKey = L"Software\\Tamarin\\OxMail";
inline const wchar_t* const kFeedKey = L"Software\\Tamarin\\Rivulet";
// Host path of the data directory under the root.
inline const std::string kData = "Application Data/OxMail/";
// Every key of an account: bits 0-42 but 32 and 39.
inline constexpr uint64_t kAllKeys = 0x77EFFFFFFFFull;
using Attributes = OxAccountInfoInterface::Attributes;
using Lines = std::vector<std::wstring>;

// ASCII text as UTF-16LE bytes, for writing and expecting file contents literally.
inline std::string u16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

class AccountsTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    nameTable().markNotBuilt();  // the table belongs to the process, the root to this test
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"DataPath",
                                 std::wstring(L"\\Application Data\\OxMail\\")));
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"SystemInfoPath",
                                 std::wstring(L"\\Application Data\\OxenMail\\System\\")));
  }
  void TearDown() override {
    storage_.reset();
    work_.reset();
    EXPECT_TRUE(accountSet().empty()) << "an account interface was not deleted";
    // A storage left open would answer for the next test's account of the same name.
    for (const std::string& dir : {kData, std::string("Application Data/Rivulet/Accounts/")}) {
      std::error_code none;
      for (const auto& entry : std::filesystem::directory_iterator(root_.host(dir), none)) {
        std::string storage = "\\" + dir + entry.path().filename().string() + "\\Storage";
        std::replace(storage.begin(), storage.end(), '/', '\\');
        EXPECT_FALSE(StorageSet::instance().isOpen(std::wstring(storage.begin(), storage.end()))) << storage;
      }
    }
    RootTest::TearDown();
  }

  std::unique_ptr<OxAccountInfoInterface> create(const std::wstring& name) {
    return std::unique_ptr<OxAccountInfoInterface>(OxAccountInfoInterface::Create(name, L""));
  }
  std::unique_ptr<OxAccountInfoInterface> open(const std::wstring& name) {
    return std::unique_ptr<OxAccountInfoInterface>(OxAccountInfoInterface::OpenAccountInfo(name, L""));
  }
  // The account "Work" in work_, for the tests of one of its parts.
  void createWork() {
    work_ = create(L"Work");
    ASSERT_NE(work_, nullptr) << std::hex << GetOxMiddleError();
  }
  // The account "Work" with its trays in work_, its storage in storage_.
  void createWorkWithTrays() {
    ASSERT_TRUE(OxAccountCreator().CreateFolders(L"Work")) << std::hex << GetOxMiddleError();
    work_ = open(L"Work");
    ASSERT_NE(work_, nullptr);
    storage_.reset(work_->OpenStorage());
    ASSERT_NE(storage_, nullptr);
  }
  std::string data(const std::string& rel) const { return root_.host(kData + rel); }
  Lines nameList() {
    Lines names;
    EXPECT_TRUE(OxAccountInfoInterface::GetAccountNameList(&names, L""));
    return names;
  }

  // The keys of `mask` read into `into`, which must succeed.
  Attributes readKeys(OxAccountInfoInterface& account, uint64_t mask, Attributes into = {}) {
    into.mask = mask;
    EXPECT_TRUE(account.GetAccountInfoAttributes(&into)) << std::hex << GetOxMiddleError();
    return into;
  }
  // The keys of `keys.mask` written, which must succeed; by name through an interface of its own.
  void writeKeys(OxAccountInfoInterface& account, Attributes keys) {
    ASSERT_TRUE(account.SetAccountInfoAttributes(keys)) << std::hex << GetOxMiddleError();
  }
  void writeKeys(const std::wstring& name, Attributes keys, const std::wstring& regkey = L"") {
    std::unique_ptr<OxAccountInfoInterface> account(OxAccountInfoInterface::OpenAccountInfo(name, regkey));
    ASSERT_NE(account, nullptr) << std::hex << GetOxMiddleError();
    writeKeys(*account, keys);
  }
  // The feed application's data and system-information folders, as its installer registers them.
  void setFeedPaths() {
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"DataPath",
                                 std::wstring(L"\\Application Data\\Rivulet\\Accounts\\")));
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"SystemInfoPath",
                                 std::wstring(L"\\Application Data\\Rivulet\\System\\")));
  }
  Lines settingsLines(const std::string& hostPath) { return profileLines(readHostFile(hostPath)); }
  static bool hasLine(const Lines& lines, const std::wstring& line) { return std::ranges::find(lines, line) != lines.end(); }

  std::unique_ptr<OxAccountInfoInterface> work_;
  std::unique_ptr<OxStorageInterface> storage_;
};

}  // namespace oxm::test
