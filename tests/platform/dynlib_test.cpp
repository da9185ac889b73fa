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

// The error a failed call left, 0 when it worked.
DWORD failed(bool ok) { return ok ? 0 : GetLastError(); }

TEST_F(DynlibTest, LoadsByHostDeviceAndBareNamesAndFailuresSetTheDeviceCodes) {
  const std::string built = OXM_TESTPLUG_PATH;
  ASSERT_EQ(::mkdir(root_.host("Plugin").c_str(), 0777), 0);
  test::writeHostFile(root_.host("Plugin/testplug.dll"), test::readHostFile(built));
  // "\Host\" reaches the host's file system; a device path lies under the root, with either separator.
  for (const std::wstring& name : {L"\\Host" + std::wstring(built.begin(), built.end()),
                                  std::wstring(L"\\Plugin\\testplug.dll"), std::wstring(L"Plugin/testplug.dll")}) {
    HMODULE lib = LoadLibraryW(name);
    ASSERT_NE(lib, nullptr) << std::string(name.begin(), name.end());
    auto info = reinterpret_cast<PluginInfo>(GetProcAddressW(lib, L"GetPluginInfo"));
    const wchar_t* text = nullptr;
    ASSERT_TRUE(info && info(0, &text) == 1);
    EXPECT_EQ(std::wstring(text), L"OxenMailPlugIn 01");
    SetLastError(0);
    EXPECT_EQ(failed(GetProcAddressW(lib, L"GetPluginInfoX") != nullptr), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(lib));
  }
  // A bare name is searched as dlopen searches (the C library is always there).
  HMODULE libc = LoadLibraryW(L"libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(GetProcAddressW(libc, L"strlen"), nullptr);
  FreeLibrary(libc);
  SetLastError(0);
  EXPECT_EQ(failed(LoadLibraryW(L"\\Plugin\\missing.dll") != nullptr), ERROR_MOD_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(failed(GetProcAddressW(nullptr, L"GetPluginInfo") != nullptr), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace oxm
