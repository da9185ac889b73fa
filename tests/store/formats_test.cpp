// The store's files byte for byte, written out literally.
#include <cstring>

#include "platform/clock.h"
#include "store/entryindex.h"
#include "store/folderfiles.h"
#include "store/headercache.h"
#include "store/idtraits.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using FormatsTest = StoreTest;

std::string u16(const std::u16string& s) { return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2); }

TEST_F(FormatsTest, NewStorageAndNewMessageFiles) {
  // Root, four trays: next identifier 5, count 5; the trays' names in CP932; no messages yet.
  EXPECT_TRUE(filesAre({
      {"S/TREE/Status.txt", "0005\t5"}, {"S/DATA/Status.txt", "0000\t0"},
      {"S/TREE/00/00.fld", "0001\t\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43\r\n"
                           "0002\t\x91\x97\x90\x4D\x91\xD2\x82\xBF\x83\x67\x83\x8C\x83\x43\r\n"
                           "0003\t\x91\x97\x90\x4D\x8D\xCF\x82\xDD\x83\x67\x83\x8C\x83\x43\r\n"
                           "0004\t\x89\xBA\x8F\x91\x82\xAB\x83\x67\x83\x8C\x83\x43\r\n"},
      {"S/TREE/01/00.fld", ""}, {"S/TREE/01/00.msg", ""},
      {"S/TREE/01/00.fdb", std::string(4000, '\xFF')},
      {"S/DATA/Entry.dat", std::string(262144, '\xFF')},
  }));
  setFixedClock(SYSTEMTIME{2024, 2, 4, 29, 23, 59, 58, 0}, -540);
  FolderPtr inbox = tray(0);
  unsigned long id = 9;
  ASSERT_TRUE(inbox->CreateMessage(&id));
  EXPECT_EQ(id, 0u);
  // Magic, version 0x1002, flags 0 0 0 0, then 2024-02 (Thursday) 29 23:59:58.000 as eight words.
  std::string header(256, '\0');
  std::memcpy(&header[0], "OXMAILEMLFMT\x02\x10\0\0", 16);
  std::memcpy(&header[20], "\xE8\x07\x02\x00\x04\x00\x1D\x00\x17\x00\x3B\x00\x3A\x00\x00\x00", 16);
  EXPECT_TRUE(filesAre({{"S/DATA/00/00.eml", header}, {"S/TREE/01/00.msg", "0000\t0\t0\r\n"},
                        {"S/DATA/Status.txt", "0001\t1"},
                        {"S/TREE/01/00.fdb", std::string("\0\0\0\0", 4) + std::string(3996, '\xFF') + std::string(1180, '\0')}}));
  EXPECT_EQ(file("S/DATA/Entry.dat").substr(0, 8), std::string("\x01\x00\x00\x00\xFF\xFF\xFF\xFF", 8));
}

TEST(StoreFormats, HeaderRecordCutsNamesAndSubjects) {
  SYSTEMTIME date{2024, 5, 1, 6, 7, 8, 9, 10};
  FolderMsgHeader r = makeHeaderRecord(0x1234, std::wstring(300, L'a'), L"f@x", L"012345678901234567890123456789",
                                       L"0123456789abcdefghijABCDEFGHIJklmnopqrst", date);
  // Identifier; a 300-character address keeps 256 and its terminator; "f@x"; exactly 30
  // characters kept whole and terminated; 40 cut to 30 and U+2026, unterminated; the date.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r), sizeof r),
            std::string("\x34\x12\x00\x00", 4) + u16(std::u16string(256, u'a')) + std::string(2, '\0') +
                std::string("f\0@\0x\0\0\0", 8) + std::string(506, '\0') + u16(u"012345678901234567890123456789") +
                std::string(4, '\0') + u16(u"0123456789abcdefghijABCDEFGHIJ\u2026") + std::string(2, '\0') +
                std::string("\xE8\x07\x05\x00\x01\x00\x06\x00\x07\x00\x08\x00\x09\x00\x0A\x00", 16) + std::string(4, '\0'));
  r = makeHeaderRecord(1, L"", L"", std::wstring(31, L'n'), std::wstring(29, L's') + L"\U0001F600x", date);
  EXPECT_EQ(fieldText(r.fromName, 31), std::wstring(30, L'n') + L"\u2026");
  EXPECT_EQ(fieldText(r.subject, 31), std::wstring(29, L's') + L"\u2026");
}

TEST(StoreFormats, StatusTextParsesLikeTheDevice) {
  // "00011": the TAB may be missing; no identifier; no count.
  const std::tuple<const char*, bool, unsigned long, unsigned long> cases[] = {
      {"0ABC\t1F", true, 0xABC, 0x1F}, {"00011", true, 1, 1}, {"xyz\t1", false, 0, 0}, {"0001\t", false, 0, 0}};
  for (const auto& [text, ok, next, count] : cases) {
    unsigned long n = 0, c = 0;
    EXPECT_EQ(OxIdTraits::parseStatus(text, &n, &c), ok) << text;
    if (ok) { EXPECT_EQ(std::pair(n, c), std::pair(next, count)) << text; }
  }
}

TEST(StoreFormats, ChildAndMessageListsParseAndRefuse) {
  // Lines whose fifth byte is not a TAB add nothing; a second parse replaces the first's entries.
  std::vector<ChildEntry> c;
  EXPECT_EQ(parseChildList("0001\tInbox\r\n0002\t\x8E\xF3\r\n", &c), OXMDL_ERR_NONE);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(std::pair(c[1].id, c[1].name), std::pair(2ul, std::wstring(L"\u53D7")));
  EXPECT_EQ(parseChildList("junk\r\n\r\n0003\tx\r\n", &c), OXMDL_ERR_NONE);
  EXPECT_EQ(c.size(), 1u);
  for (const std::string& bad : {std::string("00G1\tx\r\n"), std::string("0001\tx\n"), std::string("0001\tx"),
                                 "0001\t" + std::string(300, 'n') + "\r\n", std::string("0001\ta\0b\r\n", 10)}) {
    EXPECT_EQ(parseChildList(bad, &c), OXMDL_ERR_STG_FILE_FMTILLGL_FLD) << bad;
  }
  std::string text;
  EXPECT_EQ(formatChildList({{1, L"a\r\nb"}}, &text), OXMDL_ERR_STG_FILE_FMTILLGL_FLD);
  EXPECT_EQ(formatChildList({{1, std::wstring(253, L'x')}}, &text), OXMDL_ERR_STG_FILE_FMTILLGL_FLD);
  EXPECT_EQ(formatChildList({{1, std::wstring(126, L'\u3042')}}, &text), OXMDL_ERR_NONE) << "252 bytes fit";
  std::vector<MessageLine> lines;
  EXPECT_EQ(parseMessageList("0A05\t1\t0\r\n0003\t2\t1\r\n\r\n0004\t-1\t0", &lines), OXMDL_ERR_NONE);
  EXPECT_EQ(formatMessageList(lines), "0A05\t1\t0\r\n0003\t0\t1\r\n0004\t0\t0\r\n");
  EXPECT_EQ(parseMessageList("0001\t1\r\n", &lines), OXMDL_ERR_STG_FILE_FMTILLGL_MSG);
  EXPECT_EQ(parseMessageList("zz\t1\t1\r\n", &lines), OXMDL_ERR_STG_FILE_FMTILLGL_MSG);
}

TEST(StoreFormats, EntryListStepsAndDateCheck) {
  std::vector<uint32_t> words(kEntryWords, kEntryFree);
  EXPECT_EQ(parseEntryList("0A\t0003\r\nFF\t0010\r\n", 0x05, words.data()), OXMDL_ERR_NONE);
  EXPECT_EQ(std::pair(words[0x0A05], words[0xFF05]), std::pair(3u, 0x10u));
  EXPECT_EQ(parseEntryList("0A\t0003\r\n0B", 0x05, words.data()), OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY);
  EXPECT_EQ(parseEntryList("xx\t0003\r\n", 0x05, words.data()), OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY);
  // The last date in range stays; each field just past its range zeroes the date, the milliseconds stay.
  SYSTEMTIME ok{2099, 12, 6, 31, 24, 60, 60, 7};
  checkRecordDate(&ok);
  EXPECT_EQ(ok.wYear, 2099);
  for (SYSTEMTIME bad : {SYSTEMTIME{1900, 1, 0, 1, 0, 0, 0, 7}, SYSTEMTIME{2000, 13, 0, 1, 0, 0, 0, 7},
                         SYSTEMTIME{2000, 1, 7, 1, 0, 0, 0, 7}, SYSTEMTIME{2000, 1, 0, 0, 0, 0, 0, 7},
                         SYSTEMTIME{2000, 1, 0, 1, 25, 0, 0, 7}, SYSTEMTIME{2000, 1, 0, 1, 0, 61, 0, 7}}) {
    checkRecordDate(&bad);
    EXPECT_EQ(when(bad), "0000-00-00 00:00:00.007 w0");
  }
}

}  // namespace
}  // namespace oxm
