#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/env.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
const char kOxMailSection[] = "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\r\n";

class RegistryTest : public test::RootTest {
 protected:
  std::string hkcuFile() const { return root_.host("Registry/HKEY_CURRENT_USER.reg"); }
  std::string hkcu() const { return test::readHostFile(hkcuFile()); }
  void writeHkcu(const std::string& bytes) {
    ::mkdir(root_.host("Registry").c_str(), 0777);
    test::writeHostFile(hkcuFile(), bytes);
  }
  HKEY create(const std::wstring& path, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, &key), ERROR_SUCCESS) << std::string(path.begin(), path.end());
    return key;
  }
  // The DWORD read, or the error with 0xE0000000 added.
  static DWORD dword(HKEY key, const std::wstring& name) {
    DWORD n = 0;
    const LONG rc = RegQueryDword(key, name, &n);
    return rc == ERROR_SUCCESS ? n : 0xE0000000u + static_cast<DWORD>(rc);
  }
  static std::wstring text(HKEY key, const std::wstring& name, DWORD maxBytes = 520) {
    std::wstring s = L"untouched";
    const LONG rc = RegQueryString(key, name, &s, maxBytes);
    return rc == ERROR_SUCCESS ? s : s + L"!" + std::to_wstring(rc);
  }
};
constexpr DWORD kNotFound = 0xE0000000u + ERROR_FILE_NOT_FOUND;

TEST_F(RegistryTest, ValuesAreWrittenInTheExactFileFormat) {
  HKEY mail = create(L"Software\\Tamarin\\OxMail");
  EXPECT_EQ(RegSetString(mail, L"DataPath", L"\\Application Data\\OxMail"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(mail, L"Title", L"\u65E5\u672C\u8A9E \"q\""), ERROR_SUCCESS);
  EXPECT_EQ(RegSetDword(mail, L"FilesID", 0x1F), ERROR_SUCCESS);
  EXPECT_EQ(hkcu(), std::string(kHeader) + kOxMailSection +
                        "\"DataPath\"=\"\\\\Application Data\\\\OxMail\"\r\n"
                        "\"Title\"=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \\\"q\\\"\"\r\n"
                        "\"FilesID\"=dword:0000001f\r\n"
                        "\r\n");
  EXPECT_FALSE(test::hostFileExists(root_.host("Registry/HKEY_LOCAL_MACHINE.reg")) ||
               test::hostFileExists(hkcuFile() + ".tmp"));
  EXPECT_EQ(text(mail, L"Title"), L"\u65E5\u672C\u8A9E \"q\"");
  EXPECT_EQ(RegSetString(mail, L"FilesID", L"7"), ERROR_SUCCESS) << "another type, replaced in place";
  HKEY machine = create(L"\\System\\State\\", HKEY_LOCAL_MACHINE);  // empty components dropped
  EXPECT_EQ(RegSetDword(machine, L"", 0xDEADBEEF), ERROR_SUCCESS);
  EXPECT_EQ(test::readHostFile(root_.host("Registry/HKEY_LOCAL_MACHINE.reg")),
            std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\System\\State]\r\n@=dword:deadbeef\r\n\r\n");
  for (HKEY k : {mail, machine}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  HKEY upper = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\tamarin\\OXMAIL", &upper), ERROR_SUCCESS) << "any case";
  EXPECT_EQ(text(upper, L"datapath"), L"\\Application Data\\OxMail");
  EXPECT_EQ(RegSetString(upper, L"DATAPATH", L"B"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(upper, L"title"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(upper, L"Title"), ERROR_FILE_NOT_FOUND);
  HKEY sub = create(L"accounts\\Acc1", upper);
  EXPECT_EQ(RegSetDword(sub, L"Id", 2), ERROR_SUCCESS);
  EXPECT_EQ(hkcu(), std::string(kHeader) + kOxMailSection + "\"DataPath\"=\"B\"\r\n\"FilesID\"=\"7\"\r\n\r\n" +
                        "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail\\accounts\\Acc1]\r\n" +
                        "\"Id\"=dword:00000002\r\n\r\n");
  RegCloseKey(sub);
  RegCloseKey(upper);
}

TEST_F(RegistryTest, MissingKeysValuesWrongTypesAndLimits) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234));  // untouched on failure
  HKEY mail = create(L"Software\\Tamarin\\OxMail");
  HKEY parent = nullptr, child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin", &parent), ERROR_SUCCESS) << "needs no section";
  EXPECT_EQ(RegOpenKeyExW(parent, L"oxmail", &child), ERROR_SUCCESS);
  for (const wchar_t* sibling : {L"Software\\Tamarin\\OxMai", L"Software\\Tamarin\\OxMail2"})
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, sibling, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(text(child, L"DataPath"), L"untouched!" + std::to_wstring(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(RegSetDword(mail, L"Number", 5), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(mail, L"Text", L"abc"), ERROR_SUCCESS);
  EXPECT_EQ(text(mail, L"Number"), L"untouched!" + std::to_wstring(ERROR_INVALID_PARAMETER)) << "not a string";
  // The limit counts UTF-16 units with the NUL: "abc" needs 8 bytes, "a" + U+1F600 too.
  ASSERT_EQ(RegSetString(mail, L"Face", L"a\U0001F600"), ERROR_SUCCESS);
  const std::wstring moreData = L"untouched!" + std::to_wstring(ERROR_MORE_DATA);
  EXPECT_EQ(text(mail, L"Text", 7) + text(mail, L"Text", 8), moreData + L"abc");
  EXPECT_EQ(text(mail, L"Face", 7) + text(mail, L"Face", 8), moreData + L"a\U0001F600");
  const std::string before = hkcu();
  EXPECT_EQ(RegSetString(mail, L"Lines", L"one\r\ntwo"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetDword(mail, L"bad\nname", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hkcu(), before) << "text a line cannot carry is refused";
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetDword(child, L"Number", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS) << "a root needs no closing";
  HKEY account = create(L"Accounts\\A1", mail);
  HKEY other = create(L"Software\\Tamarin\\OxMail2");
  RegSetString(other, L"Name", L"x");
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"software\\tamarin\\oxmail"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(account, L"Id"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(hkcu(), std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail2]\r\n\"Name\"=\"x\"\r\n\r\n");
  EXPECT_EQ(RegDeleteTree(other, L""), ERROR_SUCCESS);  // an empty subkey empties the key and keeps it
  EXPECT_EQ(hkcu(), std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail2]\r\n\r\n");
  for (HKEY k : {parent, mail, account, other}) RegCloseKey(k);
  test::writeHostFile(root_.host("file"), "x");
  setRootDirectory(root_.host("file/root"));
  EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 1), ERROR_PATH_NOT_FOUND) << "a root that cannot hold Registry/";
}

TEST_F(RegistryTest, HandEditsAreSeenAtTheNextCall) {
  HKEY mail = create(L"Software\\Tamarin\\OxMail");
  ASSERT_EQ(RegSetDword(mail, L"Count", 1), ERROR_SUCCESS);
  // An edit within one clock tick: same size, inode and modification time, only the content differs.
  struct stat before, after;
  ASSERT_EQ(::stat(hkcuFile().c_str(), &before), 0);
  writeHkcu(std::string(kHeader) + kOxMailSection + "\"Count\"=dword:00000002\r\n\r\n");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, hkcuFile().c_str(), times, 0), 0);
  ASSERT_EQ(::stat(hkcuFile().c_str(), &after), 0);
  ASSERT_TRUE(after.st_ino == before.st_ino && after.st_size == before.st_size);
  EXPECT_EQ(dword(mail, L"Count"), 2u);
  writeHkcu(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "; edited by hand\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\n"
      "  \"Count\"=dword:ABCD  \n"
      "@=\"def\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\TAMARIN\\OXMAIL]\n"
      "\"a\\\\b\"=\"c\\\"d\"\n");
  EXPECT_EQ(dword(mail, L"Count"), 0xABCDu) << "an editor's forms";
  EXPECT_EQ(text(mail, L"") + text(mail, L"A\\B"), L"defc\"d");
  EXPECT_EQ(RegSetDword(mail, L"Count", 3), ERROR_SUCCESS);
  EXPECT_EQ(hkcu(), std::string(kHeader) + kOxMailSection +
                        "\"Count\"=dword:00000003\r\n@=\"def\"\r\n\"a\\\\b\"=\"c\\\"d\"\r\n\r\n")
      << "a write puts the edited file in form";
  ASSERT_EQ(::unlink(hkcuFile().c_str()), 0);
  EXPECT_EQ(dword(mail, L"Count"), kNotFound) << "a removed file is an empty hive";
  RegCloseKey(mail);
}

TEST_F(RegistryTest, ANonsenseFileFailsEveryCallIsNeverWrittenAndCanBeSetAside) {
  const std::string section = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software]\r\n";
  const std::string bad[] = {
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n",
      std::string(kHeader) + "nonsense\r\n",
      std::string(kHeader) + "\"x\"=\"before any section\"\r\n",
      std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\Software]\r\n",
      std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\r\n",
      section + "\"x\"=dword:xyz\r\n",
      section + "\"x\"=dword:123456789\r\n",
      section + "\"x\"=hex:01,02\r\n",
      section + "\"x\"=\"bad \\n escape\"\r\n",
      section + "\"x\"=\"unterminated\r\n",
      section + "\"x\"=\"trailing\" junk\r\n",
      section + "\"x\"=\"\xFF\"\r\n",
  };
  HKEY key = nullptr;
  for (const std::string& bytes : bad) {
    SCOPED_TRACE(bytes);
    writeHkcu(bytes);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", &key), ERROR_BADDB);
    EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 1), ERROR_BADDB);
    EXPECT_EQ(hkcu(), bytes);
  }
  EXPECT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, L"x", 1), ERROR_SUCCESS) << "the other hive is not affected";
  writeHkcu(section + "\"x\"=dword:00000010\r\n");
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", &key), ERROR_SUCCESS);
  EXPECT_EQ(dword(key, L"x"), 0x10u) << "a mended file is read again";
  RegCloseKey(key);
  // Only a damaged hive is set aside, twice without overwriting the first; the hive then starts empty.
  std::string moved = "unchanged";
  EXPECT_EQ(RegSetAsideDamagedHive(HKEY_LOCAL_MACHINE, &moved), ERROR_SUCCESS);
  EXPECT_EQ(moved, "");
  for (const char* suffix : {".damaged", ".damaged-1"}) {
    writeHkcu("garbage");
    ASSERT_EQ(RegSetAsideDamagedHive(HKEY_CURRENT_USER, &moved), ERROR_SUCCESS);
    EXPECT_EQ(moved, hkcuFile() + suffix);
    EXPECT_EQ(test::readHostFile(moved), "garbage");
    EXPECT_EQ(dword(HKEY_CURRENT_USER, L"x"), kNotFound);
    EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 2), ERROR_SUCCESS);
  }
}

// The hive's lock around read-modify-write: two writers at once lose no value.
TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 200;
  RegCloseKey(create(L"Software\\Race"));
  EXPECT_TRUE(test::inChildren(2, [](int child) {
    HKEY key = nullptr;
    bool ok = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Race", &key) == ERROR_SUCCESS;
    for (int i = 0; i < kEach && ok; ++i)
      ok = RegSetDword(key, (child ? L"b" : L"a") + std::to_wstring(i), i + child * 1000u) == ERROR_SUCCESS;
    return ok;
  }));
  HKEY key = create(L"Software\\Race");
  for (int i = 0; i < kEach; ++i)
    EXPECT_EQ(dword(key, L"a" + std::to_wstring(i)) + dword(key, L"b" + std::to_wstring(i)), 2u * i + 1000u) << i;
  RegCloseKey(key);
}

}  // namespace
}  // namespace oxm
