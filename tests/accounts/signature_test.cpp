#include "accounts/signature.h"

#include <cstdio>

#include "accounts/signature_files.h"
#include "platform/fault.h"
#include "tests/accounts/accounts_fixture.h"

namespace oxm::test {
namespace {

using Attributes = OxSignatureInterface::Attributes;

class SignatureTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(createWork());
    signature_.reset(work_->OpenSignature());
    ASSERT_NE(signature_, nullptr);
  }
  std::string file(int n) { return data("Work/Signature/Data" + std::to_string(n) + ".txt"); }
  // Reads the files of `mask` into r_.
  bool read(uint64_t mask) {
    r_.mask = mask;
    return signature_->ReadAttributes(&r_);
  }

  std::unique_ptr<OxSignatureInterface> signature_;  // released after the root: it holds no file open
  Attributes r_;
};

TEST_F(SignatureTest, FilesHoldRawUtf16AndTheLimitIs4096Characters) {
  ASSERT_TRUE(signature_->WriteAttributes(Attributes{3, L"山田 太郎", std::wstring(4096, L'x')}));
  EXPECT_EQ(readHostFile(file(1)), std::string("\x71\x5c\x30\x75\x20\x00\x2a\x59\xce\x90", 10));
  EXPECT_EQ(readHostFile(file(2)), u16(std::string(4096, 'x')));
  // One character more is refused for the file it is meant for, which stays as it was.
  EXPECT_OXM_FAIL(signature_->WriteAttributes(Attributes{1, std::wstring(4097, L'y'), L""}), OXMDL_ERR_SIG_TOO_LONG1);
  EXPECT_OXM_FAIL(signature_->WriteAttributes(Attributes{2, L"", std::wstring(4097, L'y')}), OXMDL_ERR_SIG_TOO_LONG2);
  EXPECT_EQ(readHostFile(file(1)).size(), 10u);
  // A character above U+FFFF takes two of the 4096.
  const std::wstring astral = std::wstring(4094, L'z') + L"\U0001F600";
  EXPECT_TRUE(signature_->WriteAttributes(Attributes{2, L"", astral}));
  EXPECT_FALSE(signature_->WriteAttributes(Attributes{2, L"", astral + L"z"}));
  ASSERT_TRUE(read(2));
  EXPECT_EQ(r_.strSignature2, astral);
  // A mask without either bit does nothing and succeeds.
  EXPECT_TRUE(read(4) && signature_->WriteAttributes(Attributes{0, L"", L""}));
}

TEST_F(SignatureTest, MaskChoosesTheFileAndDamagedFilesGiveTheirCodes) {
  writeHostFile(file(1), std::string("a\0b\0\0\0c\0", 8));  // text ends at the first NUL
  writeHostFile(file(2), std::string("d\0e", 3));           // an odd last byte
  r_.strSignature1 = L"untouched";
  ASSERT_TRUE(read(2));
  EXPECT_EQ(r_.strSignature1 + L"|" + r_.strSignature2, L"untouched|de");
  writeHostFile(file(2), std::string(8193, 'x'));
  EXPECT_OXM_FAIL(read(3), OXMDL_ERR_SIG_TOO_LONG2);
  EXPECT_EQ(r_.strSignature1, L"ab");  // the first is read before the second fails
  std::remove(file(2).c_str());
  EXPECT_OXM_FAIL(read(2), OXMDL_ERR_SIG_NOFILE2);
  fault::failNth(fault::Op::Read, 1, ERROR_ACCESS_DENIED);
  EXPECT_OXM_FAIL(read(1), OXMDL_ERR_SIG_READ1);
  // Only the backup of an interrupted replacement is left: it is the file again.
  std::rename(file(1).c_str(), (file(1) + "_bak").c_str());
  r_.strSignature1.clear();
  ASSERT_TRUE(read(1));
  EXPECT_EQ(r_.strSignature1, L"ab");
  EXPECT_FALSE(hostFileExists(file(1) + "_bak"));
  // Writing makes a missing file.
  ASSERT_TRUE(signature_->WriteAttributes(Attributes{2, L"", L"new"}));
  EXPECT_EQ(readHostFile(file(2)), u16("new"));
}

TEST_F(SignatureTest, WriteFailuresKeepTheOldText) {
  ASSERT_TRUE(signature_->WriteAttributes(Attributes{3, L"one", L"two"}));
  const Attributes w{3, L"ONE", L"TWO"};
  fault::setFreeSpace(511999);
  EXPECT_OXM_FAIL(signature_->WriteAttributes(w), OXMDL_ERR_SIG_DISK_FULL);
  fault::setFreeSpace(std::nullopt);
  const struct { fault::Op op; int n; DWORD error; unsigned code; } cases[] = {
      {fault::Op::Open, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_OPEN1},
      {fault::Op::Write, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_WRITE1},
      {fault::Op::Write, 1, ERROR_DISK_FULL, OXMDL_ERR_SIG_DISK_FULL},
      {fault::Op::Rename, 1, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_COMMIT1},
      {fault::Op::Write, 2, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_WRITE2},  // after the first went
      {fault::Op::Rename, 2, ERROR_ACCESS_DENIED, OXMDL_ERR_SIG_COMMIT2},
  };
  for (const auto& c : cases) {
    fault::failNth(c.op, c.n, c.error);
    EXPECT_OXM_FAIL(signature_->WriteAttributes(w), c.code);
    fault::reset();
    EXPECT_EQ(readHostFile(file(2)), u16("two"));
    EXPECT_FALSE(hostFileExists(file(1) + "_tmp") || hostFileExists(file(2) + "_tmp"));
  }
  EXPECT_EQ(readHostFile(file(1)), u16("ONE"));
}

TEST_F(SignatureTest, OpensShareOneObjectPerDirectory) {
  std::unique_ptr<OxSignatureInterface> second(work_->OpenSignature());
  ASSERT_NE(second, nullptr);
  const std::wstring dir = L"\\Application Data\\OxMail\\Work\\Signature";
  second.reset();
  EXPECT_TRUE(signatureInUse(dir));
  signature_.reset();
  EXPECT_FALSE(signatureInUse(dir));
  OxSignatureInterface none(nullptr);
  r_.mask = 1;
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_OXM_FAIL(none.ReadAttributes(&r_), OXMDL_ERR_NONE);
  EXPECT_OXM_FAIL(none.WriteAttributes(r_), OXMDL_ERR_NONE);
}

}  // namespace
}  // namespace oxm::test
