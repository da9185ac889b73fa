#include "frame/oxerror.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct Row {
  unsigned int code;
  std::string name, text;
};
const std::vector<Row> kRows = {
#define OXM_ERROR(name, value, text) {value, #name, text},
#include "frame/oxerror_table.inc"
#undef OXM_ERROR
};

std::string nameOf(unsigned int code) {
  const char* name = GetOxMiddleErrorName(code);
  return name ? name : "<none>";
}

TEST(OxErrorTable, HoldsExactlyTheCodesOfTheSystemWithPlainTexts) {
  const unsigned int ranges[][2] = {
      {0x02000000, 0x02000000}, {0x02000002, 0x02000007}, {0x02000009, 0x02000009}, {0x0200000B, 0x0200000D},
      {0x02000018, 0x0200001C}, {0x0200001E, 0x0200002A}, {0x0200002D, 0x02000061}, {0x02000066, 0x02000068},
      {0x0200006A, 0x0200006F}, {0x02000071, 0x02000076}, {0x02000078, 0x0200007D}, {0x0200007F, 0x02000080},
      {0x02000083, 0x02000083}, {0x02000087, 0x0200008C}, {0x0200008F, 0x02000092}, {0x02000094, 0x02000097},
      {0x02000099, 0x020000A6}, {0x020000A9, 0x020000AE}, {0x020000B0, 0x020000B2}, {0x020000B4, 0x020000C7},
      {0x020000C9, 0x020000CE}, {0x020000D0, 0x020000D1}, {0x020000D5, 0x020000D8}, {0x020000DA, 0x020000E0},
      {0x02000201, 0x02000203}, {0x02000205, 0x0200020C}, {0x02000401, 0x02000401}, {0x02000403, 0x02000409},
      {0x02000601, 0x02000601}, {0x02000801, 0x02000808}, {0x02000901, 0x02000902}, {0x02002001, 0x02002009},
      {0x0200200B, 0x02002017}, {0x02002019, 0x0200201F}, {0x02002101, 0x0200210F}, {0x02002111, 0x02002113},
      {0x02002115, 0x02002119}, {0x02002201, 0x02002201}, {0x02002301, 0x02002311}, {0x02002401, 0x02002401},
      {0x02004001, 0x02004006}, {0x02004101, 0x02004107}, {0x02004301, 0x02004301}, {0x02004401, 0x02004401},
      {0x02004501, 0x02004503}, {0x02004701, 0x02004706}, {0x02004708, 0x02004722}};
  std::set<unsigned int> expected, actual;
  for (const auto& r : ranges)
    for (unsigned int code = r[0]; code <= r[1]; ++code) expected.insert(code);
  std::set<std::string> names;
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    actual.insert(row.code);
    EXPECT_TRUE(names.insert(row.name).second) << "duplicate name";
    EXPECT_TRUE(row.name.starts_with("OXMDL_ERR_") || row.name.starts_with("POP_") ||
                row.name.starts_with("SMTP_") || row.name.starts_with("SENDER_"));
    ASSERT_FALSE(row.text.empty());
    EXPECT_EQ(row.text.find("Part "), std::string::npos);
    EXPECT_EQ(nameOf(row.code), row.name) << "found again by value";
    EXPECT_EQ(row.text, GetOxMiddleErrorText(row.code) ? GetOxMiddleErrorText(row.code) : "<none>");
  }
  EXPECT_EQ(actual, expected);
  EXPECT_STREQ(GetOxMiddleErrorText(0x02000099), "the key name contains \"=\"");
  EXPECT_STREQ(GetOxMiddleErrorText(0x02004719), "the message is open and cannot be removed or moved");
  // Not codes: below the table, a gap, past its end, outside the 0x02 prefix.
  for (unsigned int code : {0x00000000u, 0x02000001u, 0x02004723u, 0x03000207u, 0xFFFFFFFFu})
    EXPECT_TRUE(!GetOxMiddleErrorName(code) && !GetOxMiddleErrorText(code)) << std::hex << code;
}

// Store file codes per kind: format, open/write/read (+7, +14), and the six outcomes where the mask has a 1.
TEST(OxErrorTable, StoreFileCodesFollowTheNamingPattern) {
  const char* const outcomes[6] = {"BACKUP", "DELBAK", "RESTORE", "DELTMP", "COMMIT", "NOFILE"};
  const struct {
    const char* kind;
    unsigned int fmt, open, base;
    const char* mask;
  } rows[] = {{"TREESTS", 0, 0x0200004D, 0x02000063, "000111"},
              {"DATASTS", 0, 0x02000051, 0x0200006A, "111111"},
              {"MSG", 0x02000045, 0x0200004E, 0x02000071, "111111"},
              {"FLD", 0x02000044, 0x0200004F, 0x02000078, "111111"},
              {"FDB", 0x02000046, 0x02000050, 0x0200007F, "110010"},
              {"EML", 0x02000047, 0x02000052, 0x02000086, "011111"},
              {"ENTRY", 0x02000048, 0x02000053, 0x0200008E, "011110"}};
  for (const auto& row : rows) {
    const std::string k = row.kind;
    EXPECT_EQ(nameOf(row.fmt), row.fmt ? "OXMDL_ERR_STG_FILE_FMTILLGL_" + k : "<none>");
    for (auto [offset, io] : {std::pair{0u, "OPEN_"}, {7u, "WRITE_"}, {14u, "READ_"}})
      EXPECT_EQ(nameOf(row.open + offset), "OXMDL_ERR_STG_FILEIO_FILE_" + std::string(io) + k);
    for (unsigned int i = 0; i < 6; ++i) {
      const std::string name = "OXMDL_ERR_STG_" + std::string(outcomes[i]) + "_" + k;
      EXPECT_EQ(nameOf(row.base + i), row.mask[i] == '1' ? name : "<none>");
    }
  }
  for (unsigned int i = 0; i < 6; ++i) {
    EXPECT_EQ(nameOf(0x02004708 + i), "OXMDL_ERR_STG_PRIM_" + std::string(outcomes[i]));
    EXPECT_EQ(nameOf(0x0200001E + i), "OXMDL_ERR_CLS_FILE_" + std::string(outcomes[i]));
  }
}

}  // namespace
