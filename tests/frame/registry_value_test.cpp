#include "frame/registry_value.h"

#include "frame/oxerror.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::readHostFile;
using test::writeHostFile;

class RegistryValueTest : public test::RootTest {
 protected:
  const wchar_t* oxmail_ = L"Software\\Tamarin\\OxMail";
};

TEST_F(RegistryValueTest, StringsAndDwordsRoundTripCaseInsensitively) {
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", L"\\Application Data\\OxMail\\"));
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, L"Software\\Tamarin\\Launcher", L"defaultLaunchMailer", 1));
  std::wstring v;
  const wchar_t* lower = L"software\\tamarin\\oxmail";
  ASSERT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, lower, L"DATAPATH", &v));
  EXPECT_EQ(v, L"\\Application Data\\OxMail\\");
  DWORD d = 0;
  ASSERT_TRUE(GetRegistryDword(HKEY_CURRENT_USER, L"SOFTWARE\\Tamarin\\Launcher", L"defaultlaunchmailer", &d));
  EXPECT_EQ(d, 1u);
  // The hives are kept apart.
  EXPECT_FALSE(GetRegistryValue(HKEY_LOCAL_MACHINE, oxmail_, L"DataPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  // A rewrite replaces the value.
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, lower, L"datapath", L"\\x\\"));
  ASSERT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", &v));
  EXPECT_EQ(v, L"\\x\\");
}

TEST_F(RegistryValueTest, MissingKeyAndMissingValueHaveTheirOwnCodes) {
  std::wstring v = L"untouched";
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"PluginPath", L"\\p\\"));
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  EXPECT_EQ(v, L"untouched");
  // A DWORD is not a string, and a string longer than 260 bytes does not fit.
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"UseUidlListAlways", 1));
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"UseUidlListAlways", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", std::wstring(129, L'x')));
  ASSERT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", &v)) << "129 + NUL = 260 bytes";
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", std::wstring(130, L'x')));
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  // The DWORD read sets no code.
  SetOxMiddleError(OXMDL_ERR_NONE);
  DWORD d = 7;
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, L"Software\\None", L"x", &d));
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"DataPath", &d));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  EXPECT_EQ(d, 7u);
}

TEST_F(RegistryValueTest, NonsenseHiveIsRefusedAndLeftAsItWas) {
  const std::string nonsense = "this is not a registry file\n[[[\n";
  ASSERT_EQ(system(("mkdir -p '" + root_.host("Registry") + "'").c_str()), 0);
  writeHostFile(root_.host("Registry/HKEY_CURRENT_USER.reg"), nonsense);
  std::wstring v;
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  EXPECT_FALSE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", L"x"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  EXPECT_FALSE(SetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"n", 1));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  EXPECT_EQ(readHostFile(root_.host("Registry/HKEY_CURRENT_USER.reg")), nonsense);
}

TEST_F(RegistryValueTest, TwoProcessesWritingAtOnceLoseNothing) {
  EXPECT_TRUE(test::inChildren(2, [this](int child) {
    bool ok = true;
    for (DWORD i = 0; i < 100; ++i)
      ok &= SetRegistryDword(HKEY_CURRENT_USER, oxmail_, ((child ? L"b" : L"a") + std::to_wstring(i)).c_str(), i);
    return ok;
  }));
  for (DWORD i = 0; i < 100; ++i) {
    for (const wchar_t* prefix : {L"a", L"b"}) {
      DWORD d = 0xFFFF;
      ASSERT_TRUE(GetRegistryDword(HKEY_CURRENT_USER, oxmail_, (prefix + std::to_wstring(i)).c_str(), &d)) << i;
      EXPECT_EQ(d, i);
    }
  }
}

}  // namespace
}  // namespace oxm
