#include "frame/profile.h"

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/support/profile_lines.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

using test::hostFileExists;
using test::readHostFile;
using test::writeHostFile;

// Literal file pieces: UTF-16LE, scrambled lines as the device wrote them.
const std::string kBom("\xff\xfe\x0d\x00\x0a\x00", 6);
const std::string kCrLf("\x0d\x00\x0a\x00", 4);
const std::string kKeyLine3("\xa5\xff\xab\xff\x97\xff\xdf\xff\xd3\xff\xdd\xff", 12);  // "key1=3", key 1
const std::string kAisB3("\xb1\xff\xd5\xff\xb0\xff", 6);                             // "a=b", key 3
const std::string kCisD3("\xaf\xff\xd5\xff\xae\xff", 6);                             // "c=d", key 3
const std::string kAisX3("\xb1\xff\xd5\xff\x9a\xff", 6);                             // "a=x", key 3
const std::string kAisB1("\xaf\xff\xd3\xff\xae\xff", 6);                             // "a=b", key 1

class ProfileTest : public test::RootTest {
 protected:
  std::string file() { return readHostFile(root_.host("p.ini")); }
  void setFile(const std::string& bytes) { writeHostFile(root_.host("p.ini"), bytes); }
  OxProfileManipulator p_{L"\\p.ini"};
};

TEST_F(ProfileTest, ReadsAndWritesTheExactFormat) {
  setFile(kBom + kKeyLine3 + kCrLf + kAisB3);
  std::wstring v;
  ASSERT_TRUE(p_.GetPrivateProfileString(L"a", L"def", &v));
  EXPECT_EQ(v, L"b");
  // A new key is appended under the file's key, the last line gaining its CR LF.
  ASSERT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisB3 + kCrLf + kCisD3);
  // Replacing a key keeps the order of the other lines and the line key.
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"x"));
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisX3 + kCrLf + kCisD3);
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_tmp")));
}

TEST_F(ProfileTest, NewProfileHoldsTheBomAndAKeyLineWithAFreshKey) {
  const std::string keyLinePrefix("\xa5\xff\xab\xff\x97\xff\xdf\xff\xd3\xff", 10);  // "key1=", key 1
  const std::set<std::string> keyDigits = {
      "\xde\xff", "\xdd\xff", "\xdc\xff", "\xdb\xff", "\xda\xff", "\xd9\xff", "\xd8\xff", "\xd7\xff",
      "\xdf\xff\xe0\xff", "\xdf\xff\xdf\xff", "\xdf\xff\xde\xff", "\xdf\xff\xdd\xff", "\xdf\xff\xdc\xff"};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(p_.CreateNewProfile());
    std::string f = file();
    ASSERT_GE(f.size(), 6u + 10u + 2u + 4u);
    EXPECT_EQ(f.substr(0, 16), kBom + keyLinePrefix);
    EXPECT_EQ(f.substr(f.size() - 4), kCrLf);
    EXPECT_EQ(keyDigits.count(f.substr(16, f.size() - 20)), 1u) << "key out of 2..14";
  }
}

TEST_F(ProfileTest, BomOnlyFileGivesDefaultsAndTheFirstWriteUsesKeyOne) {
  setFile(kBom);
  std::wstring v = L"untouched";
  ASSERT_TRUE(p_.GetPrivateProfileString(L"a", L"dflt", &v));
  EXPECT_EQ(v, L"dflt");
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"b"));
  EXPECT_EQ(file(), kBom + kAisB1);
  ASSERT_TRUE(p_.GetPrivateProfileString(L"a", L"dflt", &v));
  EXPECT_EQ(v, L"b");
}

TEST_F(ProfileTest, KeysMatchWholeNamesAndValuesKeepTheirEquals) {
  ASSERT_TRUE(p_.CreateNewProfile());
  ASSERT_TRUE(p_.WritePrivateProfileString(L"strAccountName", L"x=y=z"));
  ASSERT_TRUE(p_.WritePrivateProfileString(L"strEmpty", L""));
  ASSERT_TRUE(p_.WritePrivateProfileString(L"strJa", L"\u65e5\u672c\u8a9e\u3042"));
  std::wstring v;
  ASSERT_TRUE(p_.GetPrivateProfileString(L"strAccount", L"d", &v));
  EXPECT_EQ(v, L"d") << "a prefix of a key name is not that key";
  ASSERT_TRUE(p_.GetPrivateProfileString(L"strAccountName", L"d", &v));
  EXPECT_EQ(v, L"x=y=z");
  ASSERT_TRUE(p_.GetPrivateProfileString(L"straccountname", L"d", &v));
  EXPECT_EQ(v, L"d") << "names are case-sensitive";
  ASSERT_TRUE(p_.GetPrivateProfileString(L"strEmpty", L"d", &v));
  EXPECT_EQ(v, L"d") << "an empty value reads as the default";
  ASSERT_TRUE(p_.GetPrivateProfileString(L"strJa", L"d", &v));
  EXPECT_EQ(v, L"\u65e5\u672c\u8a9e\u3042");

  // The batch read returns the empty text itself.
  std::list<ProfileItem> items(2);
  items.front().strKey = L"strEmpty";
  items.front().strValue = L"d";
  items.back().strKey = L"strMissing";
  items.back().strValue = L"d";
  ASSERT_TRUE(p_.ReadProfileItems(items));
  EXPECT_EQ(items.front().strValue, L"");
  EXPECT_EQ(items.back().strValue, L"d");
}

TEST_F(ProfileTest, TypedReadsFollowTheTextRules) {
  ASSERT_TRUE(p_.CreateNewProfile());
  const std::pair<const wchar_t*, const wchar_t*> lines[] = {
      {L"ui0", L"0"}, {L"ui00", L"00"}, {L"uiEmpty", L""}, {L"uiText", L"abc"},
      {L"ui12", L"12"}, {L"uiMax", L"4294967295"}, {L"b1", L"1"}, {L"b0", L"0"}, {L"bYes", L"yes"}};
  for (auto& [k, val] : lines) ASSERT_TRUE(p_.WritePrivateProfileString(k, val));
  auto ul = [&](const wchar_t* key) {
    unsigned long v = 99;
    EXPECT_TRUE(p_.GetPrivateProfileULong(key, 7, &v));
    return v;
  };
  EXPECT_EQ(ul(L"ui0"), 0u);
  EXPECT_EQ(ul(L"ui00"), 7u);
  EXPECT_EQ(ul(L"uiEmpty"), 7u);
  EXPECT_EQ(ul(L"uiText"), 7u);
  EXPECT_EQ(ul(L"ui12"), 12u);
  EXPECT_EQ(ul(L"uiMax"), 4294967295u);
  EXPECT_EQ(ul(L"uiMissing"), 7u);
  auto b = [&](const wchar_t* key, bool def) {
    bool v = !def;
    EXPECT_TRUE(p_.GetPrivateProfileBool(key, def, &v));
    return v;
  };
  EXPECT_TRUE(b(L"b1", false));
  EXPECT_FALSE(b(L"b0", true));
  EXPECT_TRUE(b(L"bYes", true));
  EXPECT_FALSE(b(L"bYes", false));
  EXPECT_TRUE(b(L"bMissing", true));

  // The batch read applies the same rules to the map's text.
  std::list<ProfileItem> items(4);
  auto it = items.begin();
  *it++ = {L"ui00", L"", 5, false, PROFILE_ITEM_ULONG};
  *it++ = {L"ui0", L"", 5, false, PROFILE_ITEM_ULONG};
  *it++ = {L"bYes", L"", 0, true, PROFILE_ITEM_BOOL};
  *it++ = {L"b0", L"", 0, true, PROFILE_ITEM_BOOL};
  ASSERT_TRUE(p_.ReadProfileItems(items));
  it = items.begin();
  EXPECT_EQ((it++)->ulValue, 5u);
  EXPECT_EQ((it++)->ulValue, 0u);
  EXPECT_TRUE((it++)->bValue);
  EXPECT_FALSE((it++)->bValue);

  ASSERT_TRUE(p_.WritePrivateProfileULong(L"uiN", 4000000000ul));
  ASSERT_TRUE(p_.WritePrivateProfileBool(L"bN", false));
  EXPECT_EQ(ul(L"uiN"), 4000000000u);
  EXPECT_FALSE(b(L"bN", true));
}

TEST_F(ProfileTest, BatchWriteSortsKeepsEveryKeyAndPicksANewKey) {
  setFile(kBom + kKeyLine3 + kCrLf + kCisD3 + kCrLf + kAisB3);
  std::set<int> keys;
  for (int round = 0; round < 30; ++round) {
    std::list<ProfileItem> items(2);
    items.front() = {L"uiCount", L"", static_cast<unsigned long>(round), false, PROFILE_ITEM_ULONG};
    items.back() = {L"bFlag", L"", 0, round % 2 == 0, PROFILE_ITEM_BOOL};
    ASSERT_TRUE(p_.WriteProfileItems(items));
    EXPECT_TRUE(items.empty());
    test::DecodedProfile d = test::decodeProfile(file());
    ASSERT_EQ(d.lines.size(), 6u);
    EXPECT_EQ(d.lines[0], u"\u0111") << "the BOM line as a key-1 reader sees it";
    EXPECT_EQ(file().substr(0, 6), kBom);
    EXPECT_GE(d.key, 2);
    EXPECT_LE(d.key, 14);
    keys.insert(d.key);
    EXPECT_EQ(d.lines[2], u"a=b");
    EXPECT_EQ(d.lines[3], round % 2 == 0 ? u"bFlag=1" : u"bFlag=0");
    EXPECT_EQ(d.lines[4], u"c=d");
    const std::string count = std::to_string(round);
    EXPECT_EQ(d.lines[5], u"uiCount=" + std::u16string(count.begin(), count.end()));
  }
  EXPECT_GT(keys.size(), 1u) << "the line key changes between batch writes";

  // A single write afterwards keeps the batch's key and order.
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"zz"));
  test::DecodedProfile d = test::decodeProfile(file());
  EXPECT_EQ(d.lines[2], u"a=zz");
  EXPECT_EQ(d.lines[5], u"uiCount=29");
}

TEST_F(ProfileTest, BadKeysAndMissingFilesTouchNothing) {
  setFile(kBom + kKeyLine3 + kCrLf + kAisB3);
  const std::string before = file();
  std::wstring v = L"same";
  EXPECT_FALSE(p_.GetPrivateProfileString(L"a=b", L"d", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_KEY_INVALID);
  EXPECT_EQ(v, L"same");
  EXPECT_FALSE(p_.WritePrivateProfileString(L"a=", L"x"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_KEY_INVALID);
  std::list<ProfileItem> items(1);
  items.front().strKey = L"k=v";
  EXPECT_FALSE(p_.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_KEY_INVALID);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(file(), before);
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_tmp")));

  OxProfileManipulator missing(L"\\none.ini");
  EXPECT_FALSE(missing.WritePrivateProfileString(L"a", L"b"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_SIZE);
  EXPECT_FALSE(missing.GetPrivateProfileString(L"a", L"d", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_NOFILE);
  items.resize(1);
  EXPECT_FALSE(missing.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_SIZE);
  EXPECT_FALSE(missing.ReadProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_PRIM_NOFILE);
  EXPECT_FALSE(hostFileExists(root_.host("none.ini")));
  EXPECT_FALSE(hostFileExists(root_.host("none.ini_tmp")));

  // A file that is not in the format reads as defaults and is left as it was.
  const std::string junk("\x01\x02\x03garbage\xff", 11);
  writeHostFile(root_.host("junk.ini"), junk);
  OxProfileManipulator j(L"junk.ini");
  ASSERT_TRUE(j.GetPrivateProfileString(L"a", L"d", &v));
  EXPECT_EQ(v, L"d");
  EXPECT_EQ(readHostFile(root_.host("junk.ini")), junk);
}

TEST_F(ProfileTest, LeftoverTemporaryFilesAreRepaired) {
  // The file gone and its rewritten temporary file present: the read moves it into place.
  writeHostFile(root_.host("p.ini_tmp"), kBom + kKeyLine3 + kCrLf + kAisB3);
  std::wstring v;
  ASSERT_TRUE(p_.GetPrivateProfileString(L"a", L"d", &v));
  EXPECT_EQ(v, L"b");
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisB3);
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_tmp")));

  // Both present: the temporary file is a rewrite cut short and is dropped.
  writeHostFile(root_.host("p.ini_tmp"), "half");
  ASSERT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisB3 + kCrLf + kCisD3);
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_tmp")));

  // A stale temporary file that cannot be deleted stops a write but not a read.
  writeHostFile(root_.host("p.ini_tmp"), "half");
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WritePrivateProfileString(L"c", L"e"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_DELTMP);
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(p_.GetPrivateProfileString(L"c", L"x", &v));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_DELTMP);
  EXPECT_EQ(v, L"d");

  // The batch operations repair with the backup as well.
  DeleteFileW(L"p.ini_tmp");
  ASSERT_TRUE(MoveFileW(L"p.ini", L"p.ini_bak"));
  std::list<ProfileItem> items(1);
  items.front().strKey = L"c";
  ASSERT_TRUE(p_.ReadProfileItems(items));
  EXPECT_EQ(items.front().strValue, L"d");
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_bak")));
}

TEST_F(ProfileTest, FreeSpaceMustExceedTheFileAndItsMargin) {
  setFile(kBom + kKeyLine3 + kCrLf + kAisB3);
  const uint64_t length = file().size();
  fault::setFreeSpace(length + 0x7F000);
  EXPECT_FALSE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_DISK_FULL);
  std::list<ProfileItem> items(1);
  items.front().strKey = L"c";
  EXPECT_FALSE(p_.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_DISK_FULL);
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisB3);
  fault::setFreeSpace(length + 0x7F001);
  EXPECT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
}

TEST_F(ProfileTest, WriteFailuresLeaveTheFileAsItWas) {
  setFile(kBom + kKeyLine3 + kCrLf + kAisB3);
  const std::string before = file();
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_WRITE);
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_COMMIT);
  EXPECT_EQ(file(), before);

  std::list<ProfileItem> items(1);
  items.front().strKey = L"c";
  fault::failNth(fault::Op::Write, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_HEADER);
  items.resize(1);
  fault::failNth(fault::Op::Write, 2, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_KEYLINE);
  items.resize(1);
  fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(p_.WriteProfileItems(items));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_BATCH_COMMIT);
  EXPECT_EQ(file(), before);
  EXPECT_FALSE(hostFileExists(root_.host("p.ini_tmp")) && !hostFileExists(root_.host("p.ini")));
}

TEST_F(ProfileTest, BusyReplacementsAreRetried) {
  setFile(kBom + kKeyLine3 + kCrLf + kAisB3);
  debugCaptureStart();
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 100);
  EXPECT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
  std::wstring lines = debugCaptured();
  EXPECT_NE(lines.find(L" Retry DeleteAndRenameFile():(100) /// Reason: file busy\r\n"), std::wstring::npos);
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 101);
  EXPECT_FALSE(p_.WritePrivateProfileString(L"c", L"e"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_COMMIT);
  // The batch write waits out any number of busy failures.
  std::list<ProfileItem> items(1);
  items.front().strKey = L"c";
  items.front().strValue = L"f";
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 250);
  EXPECT_TRUE(p_.WriteProfileItems(items));
  debugCaptureStop();
  std::wstring v;
  ASSERT_TRUE(p_.GetPrivateProfileString(L"c", L"x", &v));
  EXPECT_EQ(v, L"f");
}

TEST_F(ProfileTest, TwoProcessesWritingOneFileLoseNothing) {
  ASSERT_TRUE(p_.CreateNewProfile());
  pid_t pids[2];
  for (int child = 0; child < 2; ++child) {
    pids[child] = fork();
    ASSERT_GE(pids[child], 0);
    if (pids[child] == 0) {
      OxProfileManipulator mine(L"\\p.ini");
      bool ok = true;
      for (int i = 0; i < 40; ++i) {
        std::wstring key = (child ? L"strB" : L"strA") + std::to_wstring(i);
        if (i % 2 == 0) {
          ok &= mine.WritePrivateProfileString(key, std::to_wstring(i));
        } else {
          std::list<ProfileItem> items(1);
          items.front() = {key, std::to_wstring(i), 0, false, PROFILE_ITEM_TEXT};
          ok &= mine.WriteProfileItems(items);
        }
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int i = 0; i < 40; ++i) {
    for (const wchar_t* prefix : {L"strA", L"strB"}) {
      std::wstring v;
      ASSERT_TRUE(p_.GetPrivateProfileString(prefix + std::to_wstring(i), L"lost", &v));
      EXPECT_EQ(v, std::to_wstring(i)) << prefix << i;
    }
  }
}

}  // namespace
}  // namespace oxm
