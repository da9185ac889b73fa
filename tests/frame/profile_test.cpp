#include "frame/profile.h"

#include <cstdio>
#include <set>
#include <string>

#include "frame/oxerror.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/support/children.h"
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
const std::string kFileAisB = kBom + kKeyLine3 + kCrLf + kAisB3;

class ProfileTest : public test::RootTest {
 protected:
  std::string file() { return readHostFile(root_.host("p.ini")); }
  void setFile(const std::string& bytes) { writeHostFile(root_.host("p.ini"), bytes); }
  bool tmpExists() { return hostFileExists(root_.host("p.ini_tmp")); }
  std::wstring get(const std::wstring& key, const std::wstring& def = L"d") {
    std::wstring v = L"untouched";
    EXPECT_TRUE(p_.GetPrivateProfileString(key, def, &v)) << key;
    return v;
  }
  // A batch write of one text item; false with the error set.
  bool writeItem(const std::wstring& key, const std::wstring& value = L"") {
    std::list<ProfileItem> items = {{key, value, 0, false, PROFILE_ITEM_TEXT}};
    const bool ok = p_.WriteProfileItems(items);
    EXPECT_TRUE(items.empty());
    return ok;
  }
  // The error code a failed call left, 0 when it worked.
  static unsigned failed(bool ok) { return ok ? 0 : GetOxMiddleError(); }
  OxProfileManipulator p_{L"\\p.ini"};
};

TEST_F(ProfileTest, ReadsAndWritesTheExactFormat) {
  setFile(kFileAisB);
  EXPECT_EQ(get(L"a"), L"b");
  ASSERT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
  EXPECT_EQ(file(), kFileAisB + kCrLf + kCisD3) << "appended, the last line gaining its CR LF";
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"x"));
  EXPECT_EQ(file(), kBom + kKeyLine3 + kCrLf + kAisX3 + kCrLf + kCisD3);
  EXPECT_FALSE(tmpExists());
  setFile(kBom);
  EXPECT_EQ(get(L"a"), L"d");
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"b"));
  EXPECT_EQ(file(), kBom + kAisB1) << "a file of only the BOM line: key 1";
  // A new profile: the BOM line and "key1=N" scrambled with key 1 (N is checked with the batch write).
  ASSERT_TRUE(p_.CreateNewProfile());
  const std::string f = file();
  const std::string keyLinePrefix("\xa5\xff\xab\xff\x97\xff\xdf\xff\xd3\xff", 10);  // "key1="
  EXPECT_EQ(f.substr(0, 16) + f.substr(f.size() - 4), kBom + keyLinePrefix + kCrLf);
  EXPECT_EQ(test::decodeProfile(f).lines.size(), 2u);
}

TEST_F(ProfileTest, KeysValuesAndTypedReads) {
  ASSERT_TRUE(p_.CreateNewProfile());
  for (auto [k, val] : {std::pair{L"strAccountName", L"x=y=z"}, {L"strEmpty", L""}, {L"ui0", L"0"}, {L"ui00", L"00"},
                        {L"ui12", L"12"}, {L"b1", L"1"}, {L"b0", L"0"}, {L"bYes", L"yes"}})
    ASSERT_TRUE(p_.WritePrivateProfileString(k, val));
  std::wstring got;
  for (const wchar_t* k : {L"strAccount", L"strAccountName", L"straccountname", L"strEmpty"}) got += get(k) + L",";
  EXPECT_EQ(got, L"d,x=y=z,d,d,") << "no prefix, case-sensitive, empty is the default";
  got.clear();
  for (const wchar_t* k : {L"ui0", L"ui00", L"strEmpty", L"ui12"}) {
    unsigned long v = 99;
    EXPECT_TRUE(p_.GetPrivateProfileULong(k, 7, &v));
    got += std::to_wstring(v) + L",";
  }
  for (auto [k, def] : {std::pair{L"b1", false}, {L"b0", true}, {L"bYes", true}, {L"bYes", false}}) {
    bool v = !def;
    EXPECT_TRUE(p_.GetPrivateProfileBool(k, def, &v));
    got += v ? L"T" : L"F";
  }
  EXPECT_EQ(got, L"0,7,7,12,TFTF") << "only \"0\" is 0; a flag is 1 or 0";
  std::list<ProfileItem> items = {
      {L"ui12", L"", 5, false, PROFILE_ITEM_ULONG}, {L"b0", L"", 0, true, PROFILE_ITEM_BOOL},
      {L"strEmpty", L"d", 0, false, PROFILE_ITEM_TEXT}, {L"strMissing", L"d", 0, false, PROFILE_ITEM_TEXT}};
  ASSERT_TRUE(p_.ReadProfileItems(items));
  got.clear();
  for (const ProfileItem& i : items) got += std::to_wstring(i.ulValue) + (i.bValue ? L"T" : L"F") + i.strValue + L",";
  EXPECT_EQ(got, L"12F,0F,0F,0Fd,") << "the batch read returns an empty text itself";
  ASSERT_TRUE(p_.WritePrivateProfileULong(L"uiN", 4000000000ul) && p_.WritePrivateProfileBool(L"bN", false));
  EXPECT_EQ(get(L"uiN") + get(L"bN"), L"40000000000");
}

TEST_F(ProfileTest, BatchWriteSortsKeepsEveryKeyAndPicksANewKey) {
  setFile(kBom + kKeyLine3 + kCrLf + kCisD3 + kCrLf + kAisB3);
  std::set<int> keys;
  for (int round = 0; round < 30; ++round) {
    std::list<ProfileItem> items = {{L"uiCount", L"", static_cast<unsigned long>(round), false, PROFILE_ITEM_ULONG},
                                    {L"bFlag", L"", 0, round % 2 == 0, PROFILE_ITEM_BOOL}};
    ASSERT_TRUE(p_.WriteProfileItems(items));
    const test::DecodedProfile d = test::decodeProfile(file());
    EXPECT_TRUE(file().starts_with(kBom) && d.key >= 2 && d.key <= 14) << d.key;
    keys.insert(d.key);
    const std::string count = std::to_string(round);
    const std::vector<std::u16string> want = {u"\u0111", d.lines.at(1), u"a=b", round % 2 ? u"bFlag=0" : u"bFlag=1",
                                              u"c=d", u"uiCount=" + std::u16string(count.begin(), count.end())};
    EXPECT_EQ(d.lines, want);
  }
  EXPECT_GT(keys.size(), 1u) << "the line key changes between batch writes";
  ASSERT_TRUE(p_.WritePrivateProfileString(L"a", L"zz"));
  const test::DecodedProfile d = test::decodeProfile(file());
  EXPECT_EQ(d.lines.at(2) + d.lines.at(5), u"a=zzuiCount=29") << "a single write keeps key and order";
}

TEST_F(ProfileTest, BadKeysAndMissingFilesTouchNothing) {
  setFile(kFileAisB);
  std::wstring v = L"same";
  EXPECT_EQ(failed(p_.GetPrivateProfileString(L"a=b", L"d", &v)), OXMDL_ERR_INI_KEY_INVALID);
  EXPECT_EQ(v, L"same");
  EXPECT_EQ(failed(p_.WritePrivateProfileString(L"a=", L"x")), OXMDL_ERR_INI_KEY_INVALID);
  EXPECT_EQ(failed(writeItem(L"k=v")), OXMDL_ERR_INI_KEY_INVALID);
  EXPECT_EQ(file(), kFileAisB);
  EXPECT_FALSE(tmpExists());
  OxProfileManipulator missing(L"\\none.ini");
  std::list<ProfileItem> items(1);
  EXPECT_EQ(failed(missing.WritePrivateProfileString(L"a", L"b")), OXMDL_ERR_INI_SIZE);
  EXPECT_EQ(failed(missing.GetPrivateProfileString(L"a", L"d", &v)), OXMDL_ERR_INI_NOFILE);
  EXPECT_EQ(failed(missing.WriteProfileItems(items)), OXMDL_ERR_INI_BATCH_SIZE);
  items.resize(1);
  EXPECT_EQ(failed(missing.ReadProfileItems(items)), OXMDL_ERR_STG_PRIM_NOFILE);
  EXPECT_FALSE(hostFileExists(root_.host("none.ini")) || hostFileExists(root_.host("none.ini_tmp")));
}

TEST_F(ProfileTest, LeftoverTemporaryFilesAreRepaired) {
  writeHostFile(root_.host("p.ini_tmp"), kFileAisB);
  EXPECT_EQ(get(L"a"), L"b");
  EXPECT_EQ(file(), kFileAisB);
  EXPECT_FALSE(tmpExists());
  writeHostFile(root_.host("p.ini_tmp"), "half");
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(failed(p_.WritePrivateProfileString(L"a", L"e")), OXMDL_ERR_INI_DELTMP) << "a stale temporary file";
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(get(L"a", L"x"), L"b");
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_INI_DELTMP);
  // Only the new content, or only the backup, that cannot be moved into place: the read refuses;
  // the next read moves it.
  for (const char* leftover : {"p.ini_tmp", "p.ini_bak"}) {
    std::remove(root_.host("p.ini").c_str());
    std::remove(root_.host("p.ini_tmp").c_str());
    writeHostFile(root_.host(leftover), kFileAisB);
    fault::failNth(fault::Op::Rename, 1, ERROR_ACCESS_DENIED);
    std::wstring v;
    EXPECT_EQ(failed(p_.GetPrivateProfileString(L"a", L"x", &v)), OXMDL_ERR_INI_RESTORE) << leftover;
    EXPECT_EQ(get(L"a"), L"b") << leftover;
    EXPECT_FALSE(hostFileExists(root_.host(leftover))) << leftover;
  }
}

TEST_F(ProfileTest, FailedWritesLeaveTheFileAsItWas) {
  setFile(kFileAisB);
  // Free space must exceed the file's length and its margin.
  fault::setFreeSpace(kFileAisB.size() + 0x7F000);
  EXPECT_EQ(failed(p_.WritePrivateProfileString(L"c", L"d")), OXMDL_ERR_INI_DISK_FULL);
  EXPECT_EQ(failed(writeItem(L"c")), OXMDL_ERR_INI_BATCH_DISK_FULL);
  const struct {
    fault::Op op;
    int nth;
    bool batch;
    unsigned int code;
  } failures[] = {{fault::Op::Write, 1, false, OXMDL_ERR_INI_WRITE},
                  {fault::Op::Rename, 1, false, OXMDL_ERR_INI_COMMIT},
                  {fault::Op::Write, 1, true, OXMDL_ERR_INI_BATCH_HEADER},
                  {fault::Op::Write, 2, true, OXMDL_ERR_INI_BATCH_KEYLINE},
                  {fault::Op::Rename, 1, true, OXMDL_ERR_INI_BATCH_COMMIT}};
  fault::setFreeSpace(kFileAisB.size() + 0x7F001);
  for (const auto& f : failures) {
    fault::failNth(f.op, f.nth, ERROR_ACCESS_DENIED);
    EXPECT_EQ(failed(f.batch ? writeItem(L"c") : p_.WritePrivateProfileString(L"c", L"d")), f.code) << &f - failures;
    EXPECT_EQ(file(), kFileAisB);
  }
  EXPECT_TRUE(p_.WritePrivateProfileString(L"c", L"d"));
  fault::setFreeSpace(std::nullopt);
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 101);
  EXPECT_EQ(failed(p_.WritePrivateProfileString(L"c", L"x")), OXMDL_ERR_INI_COMMIT);
  fault::failNth(fault::Op::Rename, 1, ERROR_SHARING_VIOLATION, 250);
  EXPECT_TRUE(writeItem(L"c", L"f")) << "the batch write waits out any number of busy renames";
  EXPECT_EQ(get(L"c"), L"f");
}

// Single and batch writes of two processes to one settings file: no key is lost.
TEST_F(ProfileTest, TwoProcessesWritingOneFileLoseNothing) {
  ASSERT_TRUE(p_.CreateNewProfile());
  EXPECT_TRUE(test::inChildren(2, [](int child) {
    OxProfileManipulator mine(L"\\p.ini");
    bool ok = true;
    for (int i = 0; i < 40; ++i) {
      std::wstring key = (child ? L"strB" : L"strA") + std::to_wstring(i);
      std::list<ProfileItem> items = {{key, std::to_wstring(i), 0, false, PROFILE_ITEM_TEXT}};
      ok &= i % 2 == 0 ? mine.WritePrivateProfileString(key, std::to_wstring(i)) : mine.WriteProfileItems(items);
    }
    return ok;
  }));
  for (int i = 0; i < 40; ++i)
    for (const wchar_t* prefix : {L"strA", L"strB"})
      EXPECT_EQ(get(prefix + std::to_wstring(i), L"lost"), std::to_wstring(i));
}

}  // namespace
}  // namespace oxm
