// The library's certificate check on the test certificates: the host name, the validity
// dates, malformed calls, and the question for an unknown issuer.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/question.h"
#include "platform/registry.h"
#include "transport/ras_controller.h"
#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

struct Questions {
  int asked = 0;
  bool answer = false;
  std::wstring title, text;
};

bool answerQuestion(const wchar_t* title, const wchar_t* text, void* context) {
  auto* q = static_cast<Questions*>(context);
  ++q->asked;
  q->title = title;
  q->text = text;
  return q->answer;
}

class CertCheckTest : public test::RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();  // the host clock: the certificates are made by the run, valid from now on
    if (test::certDir().empty()) GTEST_SKIP() << "no test certificates (openssl missing)";
  }
  void TearDown() override {
    OxSetQuestionCallback(nullptr, nullptr);
    RootTest::TearDown();
  }
  int check(const std::string& cert, const char* host, unsigned long flags = 0, unsigned long type = 1) {
    der_ = test::certDer(cert);
    BLOB blob{static_cast<DWORD>(der_.size()), reinterpret_cast<BYTE*>(der_.data())};
    std::string name = host;
    return certificateValidationCallback(type, name.data(), 1, &blob, flags);
  }
  std::string der_;
};

TEST_F(CertCheckTest, SubjectNameAndValidity) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"localhost", "localhost", 0},
      {"localhost", "LocalHost", 0},   // case aside
      {"localhost", "127.0.0.1", 10},  // the common name only, not the alternative names
      {"localhost", "localhost.", 10}, {"wronghost", "localhost", 10},
      {"wronghost", "wrong.example", 0},
      {"trailing", "localhost", 0},  // fields after the common name
      {"expired", "localhost", 10},  // out of date
  };
  for (const auto& [cert, host, want] : cases) EXPECT_EQ(check(cert, host), want) << cert << " for " << host;
}

// The expired certificate: 2020-01-01 00:00:00 to 2020-02-01 00:00:00 UTC, both ends included.
TEST_F(CertCheckTest, ValidityEndsAreIncluded) {
  const std::pair<SYSTEMTIME, int> cases[] = {{{2019, 12, 0, 31, 23, 59, 59, 999}, 10},
                                               {{2020, 1, 0, 1, 0, 0, 0, 0}, 0},
                                               {{2020, 2, 0, 1, 0, 0, 0, 0}, 0},
                                               {{2020, 2, 0, 1, 0, 0, 1, 0}, 10}};
  for (const auto& [utc, want] : cases) {
    setFixedClock(utc, -540);
    EXPECT_EQ(check("expired", "localhost"), want) << utc.wYear << "-" << utc.wMonth << "-" << utc.wDay;
  }
}

TEST_F(CertCheckTest, MalformedCallsAreRefused) {
  debugCaptureStart();
  EXPECT_EQ(check("localhost", "localhost", 0, 2), 10);
  char host[] = "localhost";
  EXPECT_EQ(certificateValidationCallback(1, host, 0, nullptr, 0), 10);
  std::string garbage = "not a certificate";
  BLOB blob{static_cast<DWORD>(garbage.size()), reinterpret_cast<BYTE*>(garbage.data())};
  EXPECT_EQ(certificateValidationCallback(1, host, 1, &blob, 0), 5);
  // Cut short: the first half of a real certificate.
  std::string der = test::certDer("localhost");
  BLOB half{static_cast<DWORD>(der.size() / 2), reinterpret_cast<BYTE*>(der.data())};
  EXPECT_EQ(certificateValidationCallback(1, host, 1, &half, 0), 5);
  std::wstring lines = debugCaptured();
  debugCaptureStop();
  EXPECT_EQ(lines,
            L"[SSL] certificateValidationCallback()\r\n[SSL]  dwType error [2]\r\n"
            L"[SSL] certificateValidationCallback()\r\n[SSL]  pCertChain error\r\n"
            L"[SSL] certificateValidationCallback()\r\n[SSL]  - gSslCrackCertificate() error!!!!!!\r\n"
            L"[SSL] certificateValidationCallback()\r\n[SSL]  - gSslCrackCertificate() error!!!!!!\r\n");
}

// An unknown issuer goes to the user; a Yes is remembered under the host's first character.
TEST_F(CertCheckTest, UnknownIssuerAsksTheUserAndRemembersYes) {
  // Nobody to ask: No.
  EXPECT_EQ(check("wronghost", "mail.example", 1), 10);

  Questions q;
  OxSetQuestionCallback(answerQuestion, &q);
  EXPECT_EQ(check("wronghost", "mail.example", 1), 10);
  EXPECT_EQ(q.asked, 1);
  EXPECT_EQ(q.title, L"確認");
  EXPECT_EQ(q.text, L"サーバー証明書が無効です。続行しますか?");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key), ERROR_FILE_NOT_FOUND);

  q.answer = true;
  EXPECT_EQ(check("expired", "mail.example", 1), 0);
  EXPECT_EQ(q.asked, 2);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(RegQueryDword(key, L"m", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);

  // Remembered: any host with the same first letter passes without a question.
  q.answer = false;
  EXPECT_EQ(check("wronghost", "mx.other", 1), 0);
  EXPECT_EQ(q.asked, 2);
  // Another first letter is asked; a value other than 1 is no acceptance.
  EXPECT_EQ(RegSetDword(key, L"p", 2), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(check("wronghost", "pop.example", 1), 10);
  EXPECT_EQ(q.asked, 3);
}

}  // namespace
}  // namespace oxm
