#include "frame/registry_value.h"

#include "frame/oxerror.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

class RegistryValueTest : public test::RootTest {
 protected:
  const wchar_t* oxmail_ = L"Software\\Tamarin\\OxMail";
};

TEST_F(RegistryValueTest, ValuesRoundTripAndEachFailureHasItsCode) {
  std::wstring v = L"untouched";
  DWORD d = 7;
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"PluginPath", L"\\p\\"));
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"UseUidlListAlways", 1));
  ASSERT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"PluginPath", &v));
  EXPECT_EQ(v, L"\\p\\");
  ASSERT_TRUE(GetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"UseUidlListAlways", &d));
  EXPECT_EQ(d, 1u);
  // A missing value, a DWORD read as a string, a string of more than 260 bytes with its NUL.
  v = L"untouched";
  for (const wchar_t* name : {L"DataPath", L"UseUidlListAlways", L"Long"}) {
    ASSERT_TRUE(name[0] != L'L' || SetRegistryValue(HKEY_CURRENT_USER, oxmail_, name, std::wstring(130, L'x')));
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, name, &v));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  }
  EXPECT_EQ(v, L"untouched");
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", std::wstring(129, L'x')));
  EXPECT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"Long", &v)) << "129 + NUL = 260 bytes";
  // The DWORD read fails without a code: a missing key, a string value.
  SetOxMiddleError(OXMDL_ERR_NONE);
  d = 7;
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, L"Software\\None", L"x", &d));
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"PluginPath", &d));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  EXPECT_EQ(d, 7u);

  // A hive that does not parse: reads cannot open, writes fail with the value code.
  test::writeHostFile(root_.host("Registry/HKEY_CURRENT_USER.reg"), "not a registry file\n");
  EXPECT_FALSE(GetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"PluginPath", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_OPEN);
  EXPECT_FALSE(SetRegistryValue(HKEY_CURRENT_USER, oxmail_, L"DataPath", L"x"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(SetRegistryDword(HKEY_CURRENT_USER, oxmail_, L"n", 1));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_REG_VALUE);
}

}  // namespace
}  // namespace oxm
