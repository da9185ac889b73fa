// The files of an account's parts: the classification rules and the two signatures.
#include "accounts/rule_file.h"

#include <cstdio>
#include <tuple>

#include "accounts/classification.h"
#include "accounts/signature.h"
#include "accounts/signature_files.h"
#include "platform/device.h"
#include "platform/fault.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Rules = std::vector<OxClassificationParamInterface::Attributes>;
using Signature = OxSignatureInterface::Attributes;

class PartFilesTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(createWork());
    param_.reset(work_->OpenClassificationParamInterface());
    signature_.reset(work_->OpenSignature());
    ASSERT_TRUE(param_ && signature_);
  }
  std::string ruleFile() { return data("Work/Classification/Rule.cls"); }
  std::string signatureFile(int n) { return data("Work/Signature/Data" + std::to_string(n) + ".txt"); }
  // Reads the signature files of `mask` into r_.
  bool read(uint64_t mask) {
    r_.mask = mask;
    return signature_->ReadAttributes(&r_);
  }
  std::unique_ptr<OxClassificationParamInterface> param_;
  std::unique_ptr<OxSignatureInterface> signature_;
  Rules out_;
  Signature r_;
};

TEST_F(PartFilesTest, RuleFileHasFiveCutColumnsAndAtMost256Lines) {
  Rules in = {
      {L"n", L"From", L"kw", 5, 1, 0},
      // 12 characters: the first 10 stay. A control character counts before it is dropped.
      {L"abcdefghijkl", L"X-ML-name", L"k", 4294967295u, 3, 0},
      {L"a\x01" L"bcdefghijkl", L"Subject:xy", std::wstring(130, L'w') + L"\r\n", 7, 2, 0},
      {L"件名", L"件名", L"テスト", 12, 1, 0},
  };
  ASSERT_TRUE(param_->SetAttributes(in));
  EXPECT_EQ(readHostFile(ruleFile()),
            u16("n\tFrom\tkw\t5\t1\r\n") + u16("abcdefghij\tX-ML-name\tk\t-1\t3\r\n") +
                u16("abcdefghi\tSubject:x\t" + std::string(128, 'w') + "\t7\t2\r\n") +
                std::string("\xf6\x4e\x0d\x54\x09\0\xf6\x4e\x0d\x54\x09\0\xc6\x30\xb9\x30\xc8\x30\x09\0", 20) +
                u16("12\t1\r\n"));
  ASSERT_TRUE(param_->GetAttributes(&out_));  // "-1" reads as its 32-bit pattern
  EXPECT_EQ(std::tie(out_.at(1).ulFolderID, out_[2].ulFormat), std::make_tuple(4294967295u, 0u));
  Rules many(256, {L"r", L"To", L"k", 1, 1, 0});
  ASSERT_TRUE(param_->SetAttributes(many));
  const std::string before = readHostFile(ruleFile());
  EXPECT_EQ(before.size(), 256u * 2 * 12);
  many.push_back(many.back());
  EXPECT_OXM_FAIL(param_->SetAttributes(many), OXMDL_ERR_CLS_TOO_MANY);
  EXPECT_EQ(readHostFile(ruleFile()), before);
  writeHostFile(ruleFile(), before + u16("r\tTo\tk\t1\t1\r\n"));
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_TOO_MANY);
  EXPECT_OXM_FAIL(param_->GetAttributes(nullptr), OXMDL_ERR_CLS_NULL_ARG);
}

TEST_F(PartFilesTest, RuleFileReadsOldLinesAndStopsAtBrokenOnes) {
  // A four-column line is read (target 0, format 16); the read goes on and reports it.
  writeHostFile(ruleFile(), u16("a\tFrom\tx\t9\r\nb\tTo\ty\t8\t2\r\n"));
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_FILE_OLD_LINE);
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(std::tie(out_[0].ulFolderID, out_[0].ulTarget, out_[0].ulFormat, out_[1].ulTarget, out_[1].ulFormat),
            std::make_tuple(9u, 0u, 16u, 2u, 0u));
  const struct { std::string file; unsigned code; size_t kept; } cases[] = {
      {u16("a\tFrom\tx\t1\t1\r\nno tabs here\r\nc\tCc\tz\t1\t1\r\n"), OXMDL_ERR_CLS_FILE_FIELD, 1},
      {u16("a\tFrom\tx\t1\t1\n"), OXMDL_ERR_CLS_FILE_FORMAT, 0},  // LF alone is no line end
      {u16("a\tFrom\tx\t1"), OXMDL_ERR_CLS_FILE_FIELD, 0},        // four columns, no CR LF
      {u16("a\tFrom\t" + std::string(160, 'k') + "\t1\t" + std::string(20, '1') + "\r\n"),  // longer than any written
       OXMDL_ERR_CLS_FILE_FORMAT, 0},
      {u16("a\tFrom\tx\t1\t1\r\n") + "z", OXMDL_ERR_NONE, 1},  // an odd last byte is not a character
  };
  for (const auto& c : cases) {
    writeHostFile(ruleFile(), c.file);
    out_.assign(5, {});
    SetOxMiddleError(OXMDL_ERR_NONE);
    EXPECT_EQ(param_->GetAttributes(&out_), c.code == OXMDL_ERR_NONE) << c.file.size();
    EXPECT_EQ(std::make_pair(GetOxMiddleError(), out_.size()), std::make_pair(c.code, c.kept)) << c.file.size();
  }
}

TEST_F(PartFilesTest, RulesAreConvertedFromDataIniAtTheFirstRead) {
  using Keys = std::vector<std::pair<std::wstring, std::wstring>>;
  auto writeOld = [&](const Keys& keys) {
    std::remove(ruleFile().c_str());
    OxProfileManipulator old(L"\\Application Data\\OxMail\\Work\\Classification\\Data.ini");
    ASSERT_TRUE(old.CreateNewProfile());
    for (const auto& [key, value] : keys) ASSERT_TRUE(old.WritePrivateProfileString(key, value));
  };
  writeOld({{L"count", L"2"}, {L"0name", L"a"}, {L"0field", L"To"}, {L"0keyword", L"x"}, {L"0folderid", L"6"},
            {L"1name", L"b"}, {L"1field", L"From"}, {L"1keyword", L"y"}, {L"1folderid", L"7"}});
  ASSERT_TRUE(param_->GetAttributes(&out_));
  EXPECT_EQ(readHostFile(ruleFile()), u16("a\tTo\tx\t6\t1\r\nb\tFrom\ty\t7\t1\r\n"));
  EXPECT_FALSE(hostFileExists(data("Work/Classification/Data.ini")));
  // An empty value: nothing is converted, Data.ini stays.
  writeOld({{L"count", L"1"}, {L"0name", L"a"}, {L"0field", L""}, {L"0keyword", L"k"}, {L"0folderid", L"1"}});
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_FILE_MIGRATE);
  EXPECT_FALSE(hostFileExists(ruleFile()));
  EXPECT_TRUE(hostFileExists(data("Work/Classification/Data.ini")));
  std::remove(data("Work/Classification/Data.ini").c_str());
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_FILE_MIGRATE);
  EXPECT_OXM_FAIL(param_->SetAttributes({}), OXMDL_ERR_CLS_FILE_NOFILE);
}

TEST_F(PartFilesTest, RuleFileReplacementFailuresKeepOneWholeFile) {
  const Rules newRules = {{L"new", L"To", L"n", 2, 1, 0}};
  ASSERT_TRUE(param_->SetAttributes({{L"old", L"To", L"o", 1, 1, 0}}));
  const std::string oldBytes = readHostFile(ruleFile());
  const struct { fault::Op op; DWORD error; unsigned code; } failures[] = {
      {fault::Op::Open, ERROR_ACCESS_DENIED, OXMDL_ERR_CLS_FILE_OPEN},
      {fault::Op::Open, ERROR_DISK_FULL, OXMDL_ERR_CLS_DISK_FULL},
      {fault::Op::Write, ERROR_ACCESS_DENIED, OXMDL_ERR_CLS_FILE_WRITE},
      {fault::Op::Rename, ERROR_ACCESS_DENIED, OXMDL_ERR_CLS_FILE_COMMIT},
  };
  for (const auto& c : failures) {
    fault::failNth(c.op, 1, c.error);
    EXPECT_OXM_FAIL(param_->SetAttributes(newRules), c.code);
    fault::reset();
    EXPECT_EQ(readHostFile(ruleFile()), oldBytes);
    EXPECT_FALSE(hostFileExists(ruleFile() + "_tmp"));
  }
  ASSERT_TRUE(param_->SetAttributes(newRules));
  // Only the backup of an interrupted replacement left: it is the file again.
  std::rename(ruleFile().c_str(), (ruleFile() + "_bak").c_str());
  ASSERT_TRUE(param_->GetAttributes(&out_));
  EXPECT_EQ(out_.at(0).strName, L"new");
  writeHostFile(ruleFile() + "_tmp", "partial");  // a stale temporary file that cannot be deleted; a read that fails
  fault::failNth(fault::Op::Delete, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_FILE_DELTMP);
  fault::failNth(fault::Op::Read, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(param_->GetAttributes(&out_), OXMDL_ERR_CLS_FILE_READ);
}

TEST_F(PartFilesTest, SignatureFilesAreRawUtf16Of4096CharactersAtMostAndFailuresGiveCodes) {
  ASSERT_TRUE(signature_->WriteAttributes(Signature{3, L"山田 太郎", std::wstring(4096, L'x')}));
  EXPECT_EQ(readHostFile(signatureFile(1)), std::string("\x71\x5c\x30\x75\x20\x00\x2a\x59\xce\x90", 10));
  EXPECT_EQ(readHostFile(signatureFile(2)), u16(std::string(4096, 'x')));
  EXPECT_OXM_FAIL(signature_->WriteAttributes(Signature{1, std::wstring(4097, L'y'), L""}), OXMDL_ERR_SIG_TOO_LONG1);
  EXPECT_OXM_FAIL(signature_->WriteAttributes(Signature{2, L"", std::wstring(4097, L'y')}), OXMDL_ERR_SIG_TOO_LONG2);
  EXPECT_EQ(readHostFile(signatureFile(1)).size(), 10u);
  // A character above U+FFFF takes two of the 4096.
  const std::wstring astral = std::wstring(4094, L'z') + L"\U0001F600";
  EXPECT_TRUE(signature_->WriteAttributes(Signature{2, L"", astral}));
  EXPECT_FALSE(signature_->WriteAttributes(Signature{2, L"", astral + L"z"}));
  ASSERT_TRUE(read(2));
  EXPECT_EQ(r_.strSignature2, astral);
  EXPECT_TRUE(read(4) && signature_->WriteAttributes(Signature{0, L"", L""}));
  writeHostFile(signatureFile(1), std::string("a\0b\0\0\0c\0", 8));  // text ends at the first NUL
  writeHostFile(signatureFile(2), std::string("d\0e", 3));           // an odd last byte
  r_.strSignature1 = L"untouched";
  ASSERT_TRUE(read(2));
  EXPECT_EQ(r_.strSignature1 + L"|" + r_.strSignature2, L"untouched|de");
  writeHostFile(signatureFile(2), std::string(8193, 'x'));
  EXPECT_OXM_FAIL(read(3), OXMDL_ERR_SIG_TOO_LONG2);
  EXPECT_EQ(r_.strSignature1, L"ab");  // the first is read before the second fails
  std::remove(signatureFile(2).c_str());
  EXPECT_OXM_FAIL(read(2), OXMDL_ERR_SIG_NOFILE2);
  fault::failNth(fault::Op::Read, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(read(1), OXMDL_ERR_SIG_READ1);
  ASSERT_TRUE(signature_->WriteAttributes(Signature{2, L"", L"new"}));  // writing makes a missing file
  EXPECT_EQ(readHostFile(signatureFile(2)), u16("new"));
  // Failed writes keep the old text and leave no temporary file.
  ASSERT_TRUE(signature_->WriteAttributes(Signature{3, L"one", L"two"}));
  const Signature w{3, L"ONE", L"TWO"};
  fault::setFreeSpace(511999);
  EXPECT_OXM_FAIL(signature_->WriteAttributes(w), OXMDL_ERR_SIG_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  const struct { fault::Op op; int n; DWORD error; unsigned code; } cases[] = {
      {fault::Op::Open, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_OPEN1},
      {fault::Op::Write, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_WRITE1},
      {fault::Op::Rename, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_COMMIT1},
      {fault::Op::Write, 2, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_WRITE2},  // after the first went
      {fault::Op::Rename, 2, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_COMMIT2},
  };
  for (const auto& c : cases) {
    fault::failNth(c.op, c.n, c.error);
    EXPECT_OXM_FAIL(signature_->WriteAttributes(w), c.code);
    fault::reset();
    EXPECT_EQ(readHostFile(signatureFile(2)), u16("two"));
    EXPECT_FALSE(hostFileExists(signatureFile(1) + "_tmp") || hostFileExists(signatureFile(2) + "_tmp"));
  }
  EXPECT_EQ(readHostFile(signatureFile(1)), u16("ONE"));
}

TEST_F(PartFilesTest, TreeRemovalReportsEachPartsCodes) {
  ASSERT_EQ(createEmptyRuleFile(L"\\nowhere\\dir"), OXMDL_ERR_CLS_CREATE);
  ASSERT_EQ(createSignatureFiles(L"\\nowhere\\dir"), OXMDL_ERR_SIG_CREATE1);
  const struct { unsigned (*remove)(const std::wstring&); fault::Op op; unsigned code; } cases[] = {
      {removeClassificationTree, fault::Op::Find, OXMDL_ERR_CLS_TREE_FIND},
      {removeClassificationTree, fault::Op::Delete, OXMDL_ERR_CLS_TREE_DELFILE},
      {removeClassificationTree, fault::Op::RemoveDir, OXMDL_ERR_CLS_TREE_RMDIR},
      {removeSignatureTree, fault::Op::Find, OXMDL_ERR_SIG_TREE_FIND},
      {removeSignatureTree, fault::Op::Delete, OXMDL_ERR_SIG_TREE_DELFILE},
      {removeSignatureTree, fault::Op::RemoveDir, OXMDL_ERR_SIG_TREE_RMDIR},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(OxCreateDeviceDirectory(L"\\T\\sub\\deeper"));
    writeHostFile(root_.host("T/a.txt"), "a");
    writeHostFile(root_.host("T/sub/deeper/b.txt"), "b");
    fault::failNth(c.op, 1, ERROR_ACCESS_DENIED, -1);
    EXPECT_EQ(c.remove(L"\\T"), c.code);
    fault::reset();
    EXPECT_EQ(c.remove(L"\\T"), OXMDL_ERR_NONE);
    EXPECT_FALSE(hostFileExists(root_.host("T")));
  }
  EXPECT_EQ(removeClassificationTree(L"\\T"), OXMDL_ERR_NONE);  // nothing there is removed
}

}  // namespace
}  // namespace oxm::test
