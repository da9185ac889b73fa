#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/env.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

class RegistryTest : public test::RootTest {
 protected:
  std::string hkcuFile() const { return root_.host("Registry/HKEY_CURRENT_USER.reg"); }
  std::string hklmFile() const { return root_.host("Registry/HKEY_LOCAL_MACHINE.reg"); }
  void writeHkcu(const std::string& bytes) {
    ::mkdir(root_.host("Registry").c_str(), 0777);
    test::writeHostFile(hkcuFile(), bytes);
  }
};

const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

TEST_F(RegistryTest, ValuesRoundTripThroughTheExactFileFormat) {
  HKEY mail = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &mail), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(mail, L"DataPath", L"\\Application Data\\OxMail"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(mail, L"Title", L"\u65E5\u672C\u8A9E \"q\""), ERROR_SUCCESS);
  EXPECT_EQ(RegSetDword(mail, L"FilesID", 0x1F), ERROR_SUCCESS);
  HKEY feed = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"\\Software\\Tamarin\\Rivulet\\", &feed),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetDword(feed, L"", 0xDEADBEEF), ERROR_SUCCESS);

  EXPECT_EQ(test::readHostFile(hkcuFile()),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\r\n"
            "\"DataPath\"=\"\\\\Application Data\\\\OxMail\"\r\n"
            "\"Title\"=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \\\"q\\\"\"\r\n"
            "\"FilesID\"=dword:0000001f\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\Rivulet]\r\n"
            "@=dword:deadbeef\r\n"
            "\r\n");
  EXPECT_FALSE(test::hostFileExists(hklmFile()));
  EXPECT_FALSE(test::hostFileExists(hkcuFile() + ".tmp"));

  std::wstring text;
  DWORD number = 0;
  DWORD type = 0;
  EXPECT_EQ(RegQueryString(mail, L"DataPath", &text, 520), ERROR_SUCCESS);
  EXPECT_EQ(text, L"\\Application Data\\OxMail");
  EXPECT_EQ(RegQueryString(mail, L"Title", &text, 520), ERROR_SUCCESS);
  EXPECT_EQ(text, L"\u65E5\u672C\u8A9E \"q\"");
  EXPECT_EQ(RegQueryDword(mail, L"FilesID", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 0x1Fu);
  EXPECT_EQ(RegQueryDword(feed, L"", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 0xDEADBEEFu);
  EXPECT_EQ(RegQueryType(mail, L"Title", &type), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegQueryType(mail, L"FilesID", &type), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  // Rewriting a value with another type replaces it in place.
  EXPECT_EQ(RegSetString(mail, L"FilesID", L"7"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryDword(mail, L"FilesID", &number), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryString(mail, L"FilesID", &text, 520), ERROR_SUCCESS);
  EXPECT_EQ(text, L"7");

  // The other hive is a file of its own.
  HKEY machine = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\State\\Hardware", &machine),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetDword(machine, L"Cellular", 1), ERROR_SUCCESS);
  EXPECT_EQ(test::readHostFile(hklmFile()),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\System\\State\\Hardware]\r\n"
            "\"Cellular\"=dword:00000001\r\n"
            "\r\n");
  for (HKEY k : {mail, feed, machine}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key, L"DataPath", L"A"), ERROR_SUCCESS);
  RegCloseKey(key);

  HKEY upper = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\tamarin\\OXMAIL", &upper), ERROR_SUCCESS);
  std::wstring text;
  EXPECT_EQ(RegQueryString(upper, L"datapath", &text, 100), ERROR_SUCCESS);
  EXPECT_EQ(text, L"A");
  EXPECT_EQ(RegSetString(upper, L"DATAPATH", L"B"), ERROR_SUCCESS);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(upper, L"accounts\\Acc1", &sub), ERROR_SUCCESS);
  EXPECT_EQ(RegSetDword(sub, L"Id", 2), ERROR_SUCCESS);

  EXPECT_EQ(test::readHostFile(hkcuFile()),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\r\n"
            "\"DataPath\"=\"B\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail\\accounts\\Acc1]\r\n"
            "\"Id\"=dword:00000002\r\n"
            "\r\n");
  RegCloseKey(sub);
  RegCloseKey(upper);
}

TEST_F(RegistryTest, MissingKeysValuesWrongTypesAndLimits) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234));  // untouched on failure

  HKEY mail = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &mail), ERROR_SUCCESS);
  // A parent without a section of its own exists; a sibling does not.
  HKEY parent = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin", &parent), ERROR_SUCCESS);
  HKEY child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(parent, L"oxmail", &child), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMai", &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail2", &key),
            ERROR_FILE_NOT_FOUND);

  std::wstring text = L"untouched";
  DWORD number = 99;
  EXPECT_EQ(RegQueryString(child, L"DataPath", &text, 520), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryDword(parent, L"DataPath", &number), ERROR_FILE_NOT_FOUND);

  // Types: a DWORD is not a string and a string is not a DWORD.
  ASSERT_EQ(RegSetDword(mail, L"Number", 5), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(mail, L"Text", L"abc"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryString(mail, L"Number", &text, 520), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryDword(mail, L"Text", &number), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(text, L"untouched");
  EXPECT_EQ(number, 99u);

  // The limit counts UTF-16 units with the NUL: "abc" needs 8 bytes, "a" + U+1F600 too.
  EXPECT_EQ(RegQueryString(mail, L"Text", &text, 7), ERROR_MORE_DATA);
  EXPECT_EQ(text, L"untouched");
  EXPECT_EQ(RegQueryString(mail, L"Text", &text, 8), ERROR_SUCCESS);
  EXPECT_EQ(text, L"abc");
  ASSERT_EQ(RegSetString(mail, L"Face", L"a\U0001F600"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryString(mail, L"Face", &text, 7), ERROR_MORE_DATA);
  EXPECT_EQ(RegQueryString(mail, L"Face", &text, 8), ERROR_SUCCESS);
  EXPECT_EQ(text, L"a\U0001F600");

  // Text a line cannot carry is refused and nothing is written.
  std::string before = test::readHostFile(hkcuFile());
  EXPECT_EQ(RegSetString(mail, L"Lines", L"one\r\ntwo"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetDword(mail, L"bad\nname", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(test::readHostFile(hkcuFile()), before);

  // Handles: closing twice, using a closed handle, null outputs.
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryDword(child, L"Number", &number), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetDword(nullptr, L"Number", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  RegCloseKey(parent);
  RegCloseKey(mail);

  // A root that cannot hold a Registry directory: the host's error.
  test::writeHostFile(root_.host("file"), "x");
  setRootDirectory(root_.host("file/root"));
  EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 1), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(RegQueryDword(HKEY_CURRENT_USER, L"x", &number), ERROR_PATH_NOT_FOUND);
}

TEST_F(RegistryTest, DeletingValuesAndTrees) {
  HKEY mail = nullptr, account = nullptr, other = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &mail), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExW(mail, L"Accounts\\A1", &account), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail2", &other),
            ERROR_SUCCESS);
  RegSetDword(mail, L"Keep", 1);
  RegSetDword(mail, L"Drop", 2);
  RegSetDword(account, L"Id", 3);
  RegSetString(other, L"Name", L"x");

  EXPECT_EQ(RegDeleteValueW(mail, L"DROP"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(mail, L"Drop"), ERROR_FILE_NOT_FOUND);
  DWORD number;
  EXPECT_EQ(RegQueryDword(mail, L"Drop", &number), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryDword(mail, L"Keep", &number), ERROR_SUCCESS);

  // The tree goes with its subkeys; the sibling sharing its name's start stays.
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"software\\tamarin\\oxmail"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &gone),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryDword(account, L"Id", &number), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(account, L"Id"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(test::readHostFile(hkcuFile()),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail2]\r\n"
            "\"Name\"=\"x\"\r\n"
            "\r\n");

  // An empty subkey empties the key and keeps it.
  EXPECT_EQ(RegDeleteTree(other, L""), ERROR_SUCCESS);
  EXPECT_EQ(test::readHostFile(hkcuFile()),
            std::string(kHeader) +
                "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail2]\r\n"
                "\r\n");
  for (HKEY k : {mail, account, other}) RegCloseKey(k);
}

TEST_F(RegistryTest, HandEditsAreSeenAtTheNextCall) {
  HKEY mail = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &mail), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(mail, L"Count", 1), ERROR_SUCCESS);
  DWORD number = 0;
  ASSERT_EQ(RegQueryDword(mail, L"Count", &number), ERROR_SUCCESS);
  ASSERT_EQ(number, 1u);

  // Same size, same inode, and the old modification time put back (an edit within the same
  // clock tick): only the content differs.
  struct stat before;
  ASSERT_EQ(::stat(hkcuFile().c_str(), &before), 0);
  writeHkcu(std::string(kHeader) +
            "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\r\n"
            "\"Count\"=dword:00000002\r\n"
            "\r\n");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, hkcuFile().c_str(), times, 0), 0);
  struct stat after;
  ASSERT_EQ(::stat(hkcuFile().c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(RegQueryDword(mail, L"Count", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 2u);

  // What an editor may leave: a BOM, LF line ends, comments, indentation, upper-case hex,
  // short dwords, the default value, escapes, one key in two sections.
  writeHkcu(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "; edited by hand\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\n"
      "  \"Count\"=dword:ABCD  \n"
      "@=\"def\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\TAMARIN\\OXMAIL]\n"
      "\"a\\\\b\"=\"c\\\"d\"\n");
  EXPECT_EQ(RegQueryDword(mail, L"Count", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 0xABCDu);
  std::wstring text;
  EXPECT_EQ(RegQueryString(mail, L"", &text, 100), ERROR_SUCCESS);
  EXPECT_EQ(text, L"def");
  EXPECT_EQ(RegQueryString(mail, L"A\\B", &text, 100), ERROR_SUCCESS);
  EXPECT_EQ(text, L"c\"d");

  // A write after the edit keeps what the editor wrote and puts the file in form again.
  EXPECT_EQ(RegSetDword(mail, L"Count", 3), ERROR_SUCCESS);
  EXPECT_EQ(test::readHostFile(hkcuFile()), std::string(kHeader) +
                                                "[HKEY_CURRENT_USER\\Software\\Tamarin\\OxMail]\r\n"
                                                "\"Count\"=dword:00000003\r\n"
                                                "@=\"def\"\r\n"
                                                "\"a\\\\b\"=\"c\\\"d\"\r\n"
                                                "\r\n");

  // A removed file is an empty hive.
  ASSERT_EQ(::unlink(hkcuFile().c_str()), 0);
  EXPECT_EQ(RegQueryDword(mail, L"Count", &number), ERROR_FILE_NOT_FOUND);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", &key), ERROR_FILE_NOT_FOUND);
  RegCloseKey(mail);
}

TEST_F(RegistryTest, ANonsenseFileFailsEveryCallAndIsNeverWritten) {
  const std::string section = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software]\r\n";
  const std::string bad[] = {
      "hello\r\n",
      "",
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
  for (const std::string& bytes : bad) {
    SCOPED_TRACE(bytes);
    writeHkcu(bytes);
    HKEY key = nullptr;
    DWORD number;
    std::wstring text;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", &key), ERROR_BADDB);
    EXPECT_EQ(RegQueryDword(HKEY_CURRENT_USER, L"x", &number), ERROR_BADDB);
    EXPECT_EQ(RegQueryString(HKEY_CURRENT_USER, L"x", &text, 100), ERROR_BADDB);
    EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 1), ERROR_BADDB);
    EXPECT_EQ(RegDeleteValueW(HKEY_CURRENT_USER, L"x"), ERROR_BADDB);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, L"Software"), ERROR_BADDB);
    EXPECT_EQ(test::readHostFile(hkcuFile()), bytes);
    // The other hive is not affected.
    EXPECT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, L"x", 1), ERROR_SUCCESS);
  }

  // Once the file is mended it is read again.
  writeHkcu(section + "\"x\"=dword:00000010\r\n");
  DWORD number = 0;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryDword(key, L"x", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 0x10u);
  RegCloseKey(key);

  // A hive that parses, or one without a file, is not set aside; a damaged one is, twice over
  // without overwriting the first, and the hive then starts empty.
  std::string moved = "unchanged";
  EXPECT_EQ(RegSetAsideDamagedHive(HKEY_CURRENT_USER, &moved), ERROR_SUCCESS);
  EXPECT_EQ(moved, "");
  EXPECT_EQ(RegSetAsideDamagedHive(HKEY_LOCAL_MACHINE, &moved), ERROR_SUCCESS);
  EXPECT_EQ(moved, "");
  for (const char* suffix : {".damaged", ".damaged-1"}) {
    writeHkcu("garbage");
    ASSERT_EQ(RegSetAsideDamagedHive(HKEY_CURRENT_USER, &moved), ERROR_SUCCESS);
    EXPECT_EQ(moved, hkcuFile() + suffix);
    EXPECT_EQ(test::readHostFile(moved), "garbage");
    EXPECT_EQ(RegQueryDword(HKEY_CURRENT_USER, L"x", &number), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, L"x", 2), ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 200;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c;
    ::close(go[1]);
    if (::read(go[0], &c, 1) != 1) ::_exit(2);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Race", &key) != ERROR_SUCCESS) ::_exit(3);
    for (int i = 0; i < kEach; ++i)
      if (RegSetDword(key, L"child" + std::to_wstring(i), static_cast<DWORD>(i)) != ERROR_SUCCESS)
        ::_exit(4);
    ::_exit(0);
  }
  ::close(go[0]);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Race", &key), ERROR_SUCCESS);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ::close(go[1]);
  for (int i = 0; i < kEach; ++i)
    ASSERT_EQ(RegSetDword(key, L"parent" + std::to_wstring(i), static_cast<DWORD>(i + 1000)),
              ERROR_SUCCESS);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  for (int i = 0; i < kEach; ++i) {
    DWORD number = 0;
    ASSERT_EQ(RegQueryDword(key, L"child" + std::to_wstring(i), &number), ERROR_SUCCESS) << i;
    EXPECT_EQ(number, static_cast<DWORD>(i));
    ASSERT_EQ(RegQueryDword(key, L"parent" + std::to_wstring(i), &number), ERROR_SUCCESS) << i;
    EXPECT_EQ(number, static_cast<DWORD>(i + 1000));
  }
  RegCloseKey(key);
}

}  // namespace
}  // namespace oxm
