#include "frame/oxerror.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

struct Row {
  unsigned int code;
  std::string name;
  std::string text;
};

const std::vector<Row>& tableRows() {
  static const std::vector<Row> rows = {
#define OXM_ERROR(name, value, text) {value, #name, text},
#include "frame/oxerror_table.inc"
#undef OXM_ERROR
  };
  return rows;
}

std::string nameOf(unsigned int code) {
  const char* name = GetOxMiddleErrorName(code);
  return name ? name : "<none>";
}

// The block table: block, first and last code.
struct Block {
  unsigned int block, first, last;
};
const Block kBlocks[] = {
    {0x00, 0x02000002, 0x020000E0}, {0x02, 0x02000201, 0x0200020C}, {0x04, 0x02000401, 0x02000409},
    {0x06, 0x02000601, 0x02000601}, {0x08, 0x02000801, 0x02000808}, {0x09, 0x02000901, 0x02000902},
    {0x20, 0x02002001, 0x0200201F}, {0x21, 0x02002101, 0x02002119}, {0x22, 0x02002201, 0x02002201},
    {0x23, 0x02002301, 0x02002311}, {0x24, 0x02002401, 0x02002401}, {0x40, 0x02004001, 0x02004006},
    {0x41, 0x02004101, 0x02004107}, {0x43, 0x02004301, 0x02004301}, {0x44, 0x02004401, 0x02004401},
    {0x45, 0x02004501, 0x02004503}, {0x47, 0x02004701, 0x02004722},
};

TEST(OxErrorTable, EveryCodeHasTheCodeFormAndLiesInItsBlock) {
  ASSERT_FALSE(tableRows().empty());
  EXPECT_EQ(tableRows().front().code, 0x02000000u);
  EXPECT_EQ(tableRows().front().name, "OXMDL_ERR_NONE");
  for (const Row& row : tableRows()) {
    if (row.code == 0x02000000) continue;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.code & 0xFFFF0000u, 0x02000000u);
    unsigned int block = (row.code >> 8) & 0xFF;
    bool inBlock = false;
    for (const Block& b : kBlocks) {
      if (b.block == block) inBlock = row.code >= b.first && row.code <= b.last;
    }
    EXPECT_TRUE(inBlock) << std::hex << row.code;
  }
}

TEST(OxErrorTable, ValuesAndNamesAreUniqueSortedAndTextsPlain) {
  std::set<std::string> names;
  unsigned int previous = 0;
  for (const Row& row : tableRows()) {
    SCOPED_TRACE(row.name);
    EXPECT_GT(row.code, previous);
    previous = row.code;
    EXPECT_TRUE(names.insert(row.name).second) << "duplicate name";
    bool knownPrefix = row.name.starts_with("OXMDL_ERR_") || row.name.starts_with("POP_") ||
                       row.name.starts_with("SMTP_") || row.name.starts_with("SENDER_");
    EXPECT_TRUE(knownPrefix);
    ASSERT_FALSE(row.text.empty());
    EXPECT_FALSE(std::isupper(static_cast<unsigned char>(row.text.front())));
    EXPECT_NE(row.text.back(), '.');
    EXPECT_EQ(row.text.find("Part "), std::string::npos);
  }
}

TEST(OxErrorTable, NamedCodesKeepTheirValues) {
  EXPECT_EQ(OXMDL_ERR_NONE, 0x02000000u);
  EXPECT_EQ(OXMDL_ERR_CONV_MTOW, 0x02000097u);
  EXPECT_EQ(OXMDL_ERR_STG_DISK_FULL, 0x02000207u);
  EXPECT_EQ(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY, 0x02000407u);
  EXPECT_EQ(OXMDL_ERR_RAS_DISCONNECTED, 0x02000601u);
  EXPECT_EQ(OXMDL_ERR_STG_FOLDER_FULL, 0x02000807u);
  EXPECT_EQ(OXMDL_ERR_STG_FOLDER_LIMIT, 0x02000808u);
  EXPECT_EQ(OXMDL_ERR_STG_PRIM_FIND, 0x02004701u);
  EXPECT_EQ(OXMDL_ERR_STG_PRIM_BACKUP, 0x02004708u);
  EXPECT_EQ(OXMDL_ERR_STG_PRIM_NOFILE, 0x0200470Du);
  EXPECT_EQ(OXMDL_ERR_STG_NO_ATTACHMENT, 0x02004722u);
  EXPECT_EQ(OXMDL_ERR_INI_KEY_INVALID, 0x02000099u);
  EXPECT_EQ(OXMDL_ERR_INI_BATCH_COMMIT, 0x020000A6u);
  EXPECT_EQ(OXMDL_ERR_REG_OPEN, 0x020000CEu);
  EXPECT_EQ(OXMDL_ERR_INI_DISK_FULL, 0x0200020Au);
  EXPECT_EQ(OXMDL_ERR_INI_BATCH_DISK_FULL, 0x0200020Cu);
  EXPECT_EQ(OXMDL_ERR_INI_NO_MEMORY2, 0x02000409u);
  EXPECT_EQ(OXMDL_ERR_ACC_FIND, 0x020000A9u);
  EXPECT_EQ(OXMDL_ERR_ACC_INVALID_CHAR, 0x020000B9u);
  EXPECT_EQ(OXMDL_ERR_ACC_UIDL_WRITE_END, 0x020000DBu);
  EXPECT_EQ(OXMDL_ERR_ACC_CREATE_DIR, 0x020000BFu);
  EXPECT_EQ(OXMDL_ERR_ACC_DISK_FULL, 0x0200020Bu);
  EXPECT_EQ(OXMDL_ERR_COM_CREATE, 0x020000E0u);
  EXPECT_EQ(OXMDL_ERR_CLS_CREATE, 0x02000009u);
  EXPECT_EQ(OXMDL_ERR_CLS_FILE_OLD_LINE, 0x02000025u);
  EXPECT_EQ(OXMDL_ERR_CLS_NO_MEMORY, 0x02000404u);
  EXPECT_EQ(OXMDL_ERR_CLS_NO_ACCOUNT, 0x02004301u);
  EXPECT_EQ(OXMDL_ERR_CLS_TOO_MANY, 0x02004502u);
  EXPECT_EQ(OXMDL_ERR_SIG_OPEN2, 0x0200002Eu);
  EXPECT_EQ(OXMDL_ERR_SIG_TOO_LONG1, 0x0200003Fu);
  EXPECT_EQ(OXMDL_ERR_SIG_DISK_FULL, 0x02000206u);
  EXPECT_EQ(OXMDL_ERR_SIG_NO_MEMORY, 0x02000406u);
  EXPECT_EQ(OXMDL_ERR_SIG_TREE_RMDIR, 0x02000028u);
  EXPECT_EQ(POP_THREAD_ERR, 0x02002001u);
  EXPECT_EQ(POP_ABORT_ERR, 0x02002009u);
  EXPECT_EQ(POP_FILE_FULL_ERR, 0x0200200Bu);
  EXPECT_EQ(POP_TIMEOUT_ERR, 0x0200200Du);
  EXPECT_EQ(POP_UIDL_LIST_ERR, 0x02002017u);
  EXPECT_EQ(SMTP_GENERAL_ERR, 0x02002101u);
  EXPECT_EQ(SMTP_CANCEL_ERR, 0x0200210Au);
  EXPECT_EQ(SMTP_ADDRESS_ERR, 0x0200210Eu);
  EXPECT_EQ(SENDER_FREESPACE_ERROR, 0x02002111u);
  EXPECT_EQ(SENDER_STRAGEGETDATA_ERROR, 0x02002113u);
  EXPECT_EQ(SENDER_DISCONNECT_ERROR, 0x02002115u);
  EXPECT_EQ(SENDER_SENTFOLDER_FULL_ERROR, 0x02002119u);
}

// The store file code table: per kind its format-illegal, open, write and read codes and the
// six replacement outcomes; 0 where the kind never reports one.
struct StoreRow {
  const char* kind;
  unsigned int fmt, open, write, read;
  unsigned int outcome[6];
};
const char* const kOutcomes[6] = {"BACKUP", "DELBAK", "RESTORE", "DELTMP", "COMMIT", "NOFILE"};
const StoreRow kStoreRows[] = {
    {"TREESTS", 0, 0x0200004D, 0x02000054, 0x0200005B, {0, 0, 0, 0x02000066, 0x02000067, 0x02000068}},
    {"DATASTS", 0, 0x02000051, 0x02000058, 0x0200005F,
     {0x0200006A, 0x0200006B, 0x0200006C, 0x0200006D, 0x0200006E, 0x0200006F}},
    {"MSG", 0x02000045, 0x0200004E, 0x02000055, 0x0200005C,
     {0x02000071, 0x02000072, 0x02000073, 0x02000074, 0x02000075, 0x02000076}},
    {"FLD", 0x02000044, 0x0200004F, 0x02000056, 0x0200005D,
     {0x02000078, 0x02000079, 0x0200007A, 0x0200007B, 0x0200007C, 0x0200007D}},
    {"FDB", 0x02000046, 0x02000050, 0x02000057, 0x0200005E, {0x0200007F, 0x02000080, 0, 0, 0x02000083, 0}},
    {"EML", 0x02000047, 0x02000052, 0x02000059, 0x02000060,
     {0, 0x02000087, 0x02000088, 0x02000089, 0x0200008A, 0x0200008B}},
    {"ENTRY", 0x02000048, 0x02000053, 0x0200005A, 0x02000061,
     {0, 0x0200008F, 0x02000090, 0x02000091, 0x02000092, 0}},
};

TEST(OxErrorTable, StoreFileCodesFollowTheNamingPattern) {
  EXPECT_EQ(nameOf(0x02000047), "OXMDL_ERR_STG_FILE_FMTILLGL_EML");
  EXPECT_EQ(nameOf(0x02000052), "OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML");
  EXPECT_EQ(nameOf(0x02000060), "OXMDL_ERR_STG_FILEIO_FILE_READ_EML");
  EXPECT_EQ(nameOf(0x02000046), "OXMDL_ERR_STG_FILE_FMTILLGL_FDB");
  EXPECT_EQ(OXMDL_ERR_STG_NOFILE_FLD, 0x0200007Du);
  EXPECT_EQ(OXMDL_ERR_STG_COMMIT_ENTRY, 0x02000092u);

  for (const StoreRow& row : kStoreRows) {
    const std::string k = row.kind;
    SCOPED_TRACE(k);
    if (row.fmt) {
      EXPECT_EQ(nameOf(row.fmt), "OXMDL_ERR_STG_FILE_FMTILLGL_" + k);
    }
    EXPECT_EQ(nameOf(row.open), "OXMDL_ERR_STG_FILEIO_FILE_OPEN_" + k);
    EXPECT_EQ(nameOf(row.write), "OXMDL_ERR_STG_FILEIO_FILE_WRITE_" + k);
    EXPECT_EQ(nameOf(row.read), "OXMDL_ERR_STG_FILEIO_FILE_READ_" + k);
    for (int i = 0; i < 6; ++i) {
      if (row.outcome[i]) {
        EXPECT_EQ(nameOf(row.outcome[i]), "OXMDL_ERR_STG_" + std::string(kOutcomes[i]) + "_" + k);
      }
    }
  }
}

TEST(OxErrorTable, ReplacementOutcomesAreConsecutivePerKind) {
  // Each module maps the primitive outcomes 0x02004708..0x0200470D in order onto its own six.
  const unsigned int prim[6] = {OXMDL_ERR_STG_PRIM_BACKUP, OXMDL_ERR_STG_PRIM_DELBAK, OXMDL_ERR_STG_PRIM_RESTORE,
                                OXMDL_ERR_STG_PRIM_DELTMP, OXMDL_ERR_STG_PRIM_COMMIT, OXMDL_ERR_STG_PRIM_NOFILE};
  const unsigned int dataSts[6] = {OXMDL_ERR_STG_BACKUP_DATASTS, OXMDL_ERR_STG_DELBAK_DATASTS,
                                   OXMDL_ERR_STG_RESTORE_DATASTS, OXMDL_ERR_STG_DELTMP_DATASTS,
                                   OXMDL_ERR_STG_COMMIT_DATASTS, OXMDL_ERR_STG_NOFILE_DATASTS};
  const unsigned int msg[6] = {OXMDL_ERR_STG_BACKUP_MSG, OXMDL_ERR_STG_DELBAK_MSG, OXMDL_ERR_STG_RESTORE_MSG,
                               OXMDL_ERR_STG_DELTMP_MSG, OXMDL_ERR_STG_COMMIT_MSG, OXMDL_ERR_STG_NOFILE_MSG};
  const unsigned int fld[6] = {OXMDL_ERR_STG_BACKUP_FLD, OXMDL_ERR_STG_DELBAK_FLD, OXMDL_ERR_STG_RESTORE_FLD,
                               OXMDL_ERR_STG_DELTMP_FLD, OXMDL_ERR_STG_COMMIT_FLD, OXMDL_ERR_STG_NOFILE_FLD};
  const unsigned int cls[6] = {OXMDL_ERR_CLS_FILE_BACKUP, OXMDL_ERR_CLS_FILE_DELBAK, OXMDL_ERR_CLS_FILE_RESTORE,
                               OXMDL_ERR_CLS_FILE_DELTMP, OXMDL_ERR_CLS_FILE_COMMIT, OXMDL_ERR_CLS_FILE_NOFILE};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(prim[i], 0x02004708u + i);
    EXPECT_EQ(dataSts[i], 0x0200006Au + i);
    EXPECT_EQ(msg[i], 0x02000071u + i);
    EXPECT_EQ(fld[i], 0x02000078u + i);
    EXPECT_EQ(cls[i], 0x0200001Eu + i);
  }
  // Kinds with gaps keep the positions of the ones they have.
  EXPECT_EQ(OXMDL_ERR_STG_NOFILE_TREESTS - OXMDL_ERR_STG_DELTMP_TREESTS, 2u);
  EXPECT_EQ(OXMDL_ERR_STG_COMMIT_FDB - OXMDL_ERR_STG_BACKUP_FDB, 4u);
  EXPECT_EQ(OXMDL_ERR_STG_NOFILE_EML - OXMDL_ERR_STG_DELBAK_EML, 4u);
  EXPECT_EQ(OXMDL_ERR_STG_COMMIT_ENTRY - OXMDL_ERR_STG_DELBAK_ENTRY, 3u);
}

TEST(OxErrorTable, NameAndTextLookups) {
  EXPECT_STREQ(GetOxMiddleErrorName(0x0200200B), "POP_FILE_FULL_ERR");
  EXPECT_STREQ(GetOxMiddleErrorName(0x02000000), "OXMDL_ERR_NONE");
  EXPECT_STREQ(GetOxMiddleErrorName(0x02004722), "OXMDL_ERR_STG_NO_ATTACHMENT");
  EXPECT_STREQ(GetOxMiddleErrorName(0x02000601), "OXMDL_ERR_RAS_DISCONNECTED");
  EXPECT_STREQ(GetOxMiddleErrorName(0x0200210C), "SMTP_AUTH_METHOD_ERR");
  EXPECT_STREQ(GetOxMiddleErrorName(0x02002117), "SENDER_STORAGEOPEN_ERROR");
  EXPECT_STREQ(GetOxMiddleErrorName(0x020000D7), "OXMDL_ERR_ACC_UID_MTOW");
  EXPECT_STREQ(GetOxMiddleErrorText(0x02000000), "success");
  EXPECT_STREQ(GetOxMiddleErrorText(0x02000099), "the key name contains \"=\"");
  EXPECT_STREQ(GetOxMiddleErrorText(0x02004719), "the message is open and cannot be removed or moved");
  EXPECT_STREQ(GetOxMiddleErrorText(0x02002008), "cancelled");

  // Not codes: the initial last-error value, numbers the code space skips, values around the
  // ends of the table and outside the 0x02 prefix.
  for (unsigned int code : {0x00000000u, 0x01FFFFFFu, 0x02000001u, 0x02000008u, 0x0200001Du, 0x02000062u,
                            0x02000093u, 0x020000E1u, 0x02000204u, 0x02000402u, 0x0200200Au, 0x02002018u,
                            0x02002110u, 0x02002114u, 0x02004707u, 0x02004723u, 0x02010207u, 0x03000207u,
                            0xFFFFFFFFu}) {
    EXPECT_EQ(GetOxMiddleErrorName(code), nullptr) << std::hex << code;
    EXPECT_EQ(GetOxMiddleErrorText(code), nullptr) << std::hex << code;
  }

  // Every row is found again by value.
  for (const Row& row : tableRows()) {
    EXPECT_EQ(nameOf(row.code), row.name);
    const char* text = GetOxMiddleErrorText(row.code);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(row.text, text);
  }
}

struct Range {
  unsigned int first, last;
  std::vector<unsigned int> except;
};

void addRanges(std::set<unsigned int>* codes, const std::vector<Range>& ranges) {
  for (const Range& range : ranges) {
    for (unsigned int code = range.first; code <= range.last; ++code) {
      bool excepted = false;
      for (unsigned int e : range.except) excepted = excepted || e == code;
      if (!excepted) codes->insert(code);
    }
  }
}

TEST(OxErrorTable, HoldsExactlyTheCodesOfTheSystem) {
  // The list of all codes outside the named tables, by block.
  std::set<unsigned int> listed;
  addRanges(&listed, {
      {0x02000002, 0x02000002, {}}, {0x02000003, 0x02000003, {}}, {0x02000004, 0x02000004, {}},
      {0x02000005, 0x02000005, {}}, {0x02000006, 0x02000006, {}}, {0x02000007, 0x02000007, {}},
      {0x02000009, 0x02000009, {}}, {0x0200000B, 0x0200000B, {}}, {0x0200000C, 0x0200000C, {}},
      {0x0200000D, 0x0200000D, {}}, {0x02000018, 0x02000025, {0x0200001D}}, {0x02000026, 0x0200002A, {}},
      {0x02000041, 0x02000043, {}}, {0x02000099, 0x020000A6, {}}, {0x020000A9, 0x020000AE, {}},
      {0x020000B0, 0x020000B2, {}}, {0x020000B4, 0x020000C7, {}}, {0x020000C9, 0x020000CE, {}},
      {0x020000D0, 0x020000D0, {}}, {0x020000D1, 0x020000D1, {}}, {0x020000D5, 0x020000D8, {}},
      {0x020000DA, 0x020000E0, {}},
      {0x02000201, 0x0200020C, {0x02000204}},
      {0x02000401, 0x02000401, {}}, {0x02000403, 0x02000406, {}}, {0x02000408, 0x02000408, {}},
      {0x02000409, 0x02000409, {}},
      {0x02000801, 0x02000806, {}},
      {0x02000901, 0x02000901, {}}, {0x02000902, 0x02000902, {}},
      {0x02002001, 0x02002017, {0x0200200A}}, {0x02002019, 0x0200201F, {}},
      {0x02002101, 0x02002119, {0x02002110, 0x02002114}},
      {0x02002201, 0x02002201, {}},
      {0x02002301, 0x02002311, {}},
      {0x02002401, 0x02002401, {}},
      {0x02004001, 0x02004006, {}},
      {0x02004101, 0x02004107, {}},
      {0x02004301, 0x02004301, {}},
      {0x02004401, 0x02004401, {}},
      {0x02004501, 0x02004503, {}},
  });
  for (unsigned int code : listed) EXPECT_NE(GetOxMiddleErrorName(code), nullptr) << std::hex << code;

  // With the named tables (shared codes, store primitives, signature files) and the store
  // file codes that is the whole table, and nothing more.
  std::set<unsigned int> expected = listed;
  addRanges(&expected, {
      {0x02000000, 0x02000000, {}}, {0x02000094, 0x02000097, {}}, {0x02000207, 0x02000207, {}},
      {0x02000407, 0x02000407, {}}, {0x02000601, 0x02000601, {}}, {0x02000807, 0x02000808, {}},
      {0x02004701, 0x02004722, {0x02004707}}, {0x0200002D, 0x02000040, {}},
      {0x02000049, 0x0200004C, {}}, {0x0200008C, 0x0200008C, {}},
  });
  for (const StoreRow& row : kStoreRows) {
    for (unsigned int code : {row.fmt, row.open, row.write, row.read}) {
      if (code) expected.insert(code);
    }
    for (unsigned int code : row.outcome) {
      if (code) expected.insert(code);
    }
  }
  std::set<unsigned int> actual;
  for (const Row& row : tableRows()) actual.insert(row.code);
  EXPECT_EQ(actual, expected);
}

}  // namespace
