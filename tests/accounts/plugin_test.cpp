#include "accounts/plugin_info.h"

#include <sys/stat.h>

#include <map>

#include "accounts/plugin_scan.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Dlls = std::map<std::wstring, std::wstring>;

class PluginTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_EQ(::mkdir(root_.host("Plugins").c_str(), 0777), 0);
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"PluginPath", std::wstring(L"\\Plugins")));
  }
};

TEST_F(PluginTest, ListsOnlyLibrariesThatAnswerWithTheMarkerInTheDirectoryOfTheGivenKey) {
  OxPluginInfoInterface plugins;
  Dlls dlls;
  EXPECT_TRUE(plugins.GetPluginDlls(&dlls, L"") && dlls.empty());  // an empty directory
  // Another program's marker, no GetPluginInfo, the marker but no text, not a *.dll name, no library, a directory.
  for (const auto& [built, as] : {std::pair{"goodplug", "good.dll"}, {"otherplug", "other.dll"},
                                  {"noexport", "noexport.dll"}, {"notextplug", "notext.dll"}, {"goodplug", "good.txt"}}) {
    writeHostFile(root_.host("Plugins/") + as, readHostFile(std::string(OXM_TEST_PLUGINS) + "/" + built + ".dll"));
  }
  writeHostFile(root_.host("Plugins/fake.dll"), "MZ\x90 not a shared object");
  ASSERT_EQ(::mkdir(root_.host("Plugins/folder.dll").c_str(), 0777), 0);
  dlls = {{L"\\Elsewhere\\kept.dll", L"kept"}};
  ASSERT_TRUE(plugins.GetPluginDlls(&dlls, L""));
  EXPECT_EQ(dlls, (Dlls{{L"\\Elsewhere\\kept.dll", L"kept"}, {L"\\Plugins\\good.dll", L"Good plug-in"}}));
  EXPECT_FALSE(plugins.GetPluginDlls(&dlls, L""));  // asked again with the result: the path is already there
  EXPECT_EQ(dlls.size(), 2u);
  dlls.clear();
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, L"PluginPath", std::wstring(L"\\Missing")));
  EXPECT_TRUE(plugins.GetPluginDlls(&dlls, kFeedKey) && dlls.empty());  // no directory, no plug-in
  EXPECT_EQ(OxPluginInfo().storeDefaultPluginPath(), OXMDL_ERR_NONE);
  std::wstring path;
  ASSERT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, kMailKey, L"PluginPath", &path));
  EXPECT_EQ(path, L"\\Program Files\\OxenMail\\Plugin");
}

}  // namespace
}  // namespace oxm::test
