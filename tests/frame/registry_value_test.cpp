#include "frame/registry_value.h"

#include "frame/oxerror.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using RegistryValueTest = test::RootTest;
const wchar_t* const kMail = L"Software\\Tamarin\\OxMail";

// The error code a failed call left, 0 when it worked.
unsigned failed(bool ok) { return ok ? 0 : GetOxMiddleError(); }

TEST_F(RegistryValueTest, ValuesRoundTripAndEachFailureHasItsCode) {
  std::wstring v = L"untouched";
  DWORD d = 7;
  EXPECT_EQ(failed(GetRegistryValue(HKEY_CURRENT_USER, kMail, L"DataPath", &v)), OXMDL_ERR_REG_OPEN);
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMail, L"Long", std::wstring(130, L'x')));
  ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, kMail, L"UseUidlListAlways", 1));
  ASSERT_TRUE(GetRegistryDword(HKEY_CURRENT_USER, kMail, L"UseUidlListAlways", &d));
  EXPECT_EQ(d, 1u);
  // A string of more than 260 bytes with its NUL is refused like a missing value.
  EXPECT_EQ(failed(GetRegistryValue(HKEY_CURRENT_USER, kMail, L"Long", &v)), OXMDL_ERR_REG_VALUE);
  EXPECT_EQ(v, L"untouched");
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMail, L"Long", std::wstring(129, L'x')));
  EXPECT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, kMail, L"Long", &v) && v == std::wstring(129, L'x'))
      << "129 + NUL = 260 bytes";
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, L"Software\\None", L"x", &d));
  EXPECT_FALSE(GetRegistryDword(HKEY_CURRENT_USER, kMail, L"Long", &d));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_NONE);
  EXPECT_EQ(d, 1u);
  test::writeHostFile(root_.host("Registry/HKEY_CURRENT_USER.reg"), "not a registry file\n");
  EXPECT_EQ(failed(SetRegistryValue(HKEY_CURRENT_USER, kMail, L"DataPath", L"x")), OXMDL_ERR_REG_VALUE);
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_EQ(failed(SetRegistryDword(HKEY_CURRENT_USER, kMail, L"n", 1)), OXMDL_ERR_REG_VALUE);
}

}  // namespace
}  // namespace oxm
