#include "platform/dynlib.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/syserr.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using DynlibTest = test::RootTest;
using PluginInfo = int (*)(uint32_t, const wchar_t**);

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Loads the library, queries the plug-in entry and unloads it.
void expectPlugin(const std::wstring& name) {
  SCOPED_TRACE(std::string(name.begin(), name.end()));
  HMODULE lib = LoadLibraryW(name);
  ASSERT_NE(lib, nullptr);
  auto info = reinterpret_cast<PluginInfo>(GetProcAddressW(lib, L"GetPluginInfo"));
  ASSERT_NE(info, nullptr);
  const wchar_t* text = nullptr;
  EXPECT_EQ(info(0, &text), 1);
  EXPECT_EQ(std::wstring(text), L"OxenMailPlugIn 01");
  EXPECT_EQ(FreeLibrary(lib), true);
}

TEST_F(DynlibTest, LoadsByDevicePathAndHostPath) {
  const std::string built = OXM_TESTPLUG_PATH;
  ASSERT_EQ(built.substr(built.size() - 13), "/testplug.dll");

  // "\Host\" reaches the host's file system.
  expectPlugin(L"\\Host" + widen(built));

  // A device path lies under the root, with either separator.
  ASSERT_EQ(::mkdir(root_.host("Plugin").c_str(), 0777), 0);
  test::writeHostFile(root_.host("Plugin/testplug.dll"), test::readHostFile(built));
  expectPlugin(L"\\Plugin\\testplug.dll");
  expectPlugin(L"Plugin/testplug.dll");

  // A bare name is searched as dlopen searches (the C library is always there).
  HMODULE libc = LoadLibraryW(L"libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(GetProcAddressW(libc, L"strlen"), nullptr);
  FreeLibrary(libc);
}

TEST_F(DynlibTest, FailuresSetTheDeviceCodes) {
  test::writeHostFile(root_.host("fake.dll"), "MZ not an ELF file");  // not a shared object
  for (const wchar_t* name : {L"\\Plugin\\missing.dll", L"TmPhoneStatus.dll", L"\\fake.dll"}) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
  HMODULE lib = LoadLibraryW(L"\\Host" + widen(OXM_TESTPLUG_PATH));
  ASSERT_NE(lib, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(lib, L"GetPluginInfoX"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(lib));
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(nullptr, L"GetPluginInfo"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace oxm
