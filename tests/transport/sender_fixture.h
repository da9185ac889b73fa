// The sender tests' set-up: an account with its trays whose SMTP server is the shared Exim,
// messages put into its outbox as `oxmail compose` stores them, and a recorder of the reports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "platform/worker.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/support/exim.h"
#include "tests/transport/transport_fixture.h"
#include "transport/ras_controller.h"
#include "transport/sender.h"

namespace oxm::test {

using SenderEvents = Events;
using SenderRecorder = EventRecorder<Sender::Notify>;

// Message i of a test outbox: To names `rcpt`, the body carries i and a line ".".
inline std::string outboxText(int i, const std::string& rcpt = "bob@example.jp") {
  return "From: alice@example.jp\r\nTo: " + rcpt + "\r\nSubject: message " + std::to_string(i) +
         "\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nbody " + std::to_string(i) +
         "\r\n.\r\nend\r\n";
}

class SenderTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    exim_ = EximServer::shared(&why_);
    if (!exim_) return;
    exim_->clear();
    // No "sent from" footer: the filed copy and the delivery are then easy to read.
    ASSERT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, L"Software\\TAMARIN\\OxMail", L"paranoia", 0));
    ASSERT_TRUE(OxAccountCreator().CreateFolders(L"mail"));
    account_ = open(L"mail");
    ASSERT_TRUE(account_);
    setSmtp(exim_->plainPort);
    storage_.reset(account_->OpenStorage());
    ASSERT_TRUE(storage_);
    sender_.RegisterNotify(&recorder_);
    OxAccountInfoInterface::Attributes a;
    a.mask = (uint64_t{1} << 29) | (uint64_t{1} << 30);
    ASSERT_TRUE(account_->GetAccountInfoAttributes(&a));
    outbox_ = a.ulSousinTrayID;
    sent_ = a.ulSousinZumiTrayID;
  }
  void TearDown() override {
    storage_.reset();
    account_.reset();
    AccountsTest::TearDown();
  }

  void setSmtp(unsigned port) {
    OxAccountInfoInterface::Attributes a;
    a.strSenderAddress = L"alice@example.jp";
    a.strSmtpServerName = L"127.0.0.1";
    a.uiSmtpServerPort = port;
    a.mask = (uint64_t{1} << 1) | (uint64_t{1} << 11) | (uint64_t{1} << 12);
    ASSERT_TRUE(account_->SetAccountInfoAttributes(a));
  }
  unsigned long outbox() const { return outbox_; }
  unsigned long sent() const { return sent_; }

  unsigned long add(const std::string& text) {
    std::unique_ptr<OxFolderInterface> folder(storage_->OpenFolder(outbox_));
    unsigned long id = 0;
    EXPECT_TRUE(folder && folder->CreateMessage(&id));
    std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(id));
    EXPECT_TRUE(m && m->Write(text));
    return id;
  }

  // The texts of a folder's messages in order; *listed false (and nothing) when the store
  // reports the folder's list damaged (a run that died mid-operation: the next run mends it).
  std::vector<std::string> texts(unsigned long folderId, bool* listed = nullptr) {
    std::vector<unsigned long> ids;
    std::vector<std::string> out;
    std::unique_ptr<OxFolderInterface> folder(storage_->OpenFolder(folderId));
    const bool ok = folder && folder->GetMessageIds(&ids);
    if (listed) *listed = ok;
    for (unsigned long id : ok ? ids : std::vector<unsigned long>{}) {
      std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(id));
      std::string text;
      if (m && m->Read(&text)) out.push_back(text);
    }
    return out;
  }

  std::string why_;
  EximServer* exim_ = nullptr;
  std::unique_ptr<OxAccountInfoInterface> account_;
  std::unique_ptr<OxStorageInterface> storage_;
  unsigned long outbox_ = 0, sent_ = 0;
  SenderRecorder recorder_;
  Sender sender_;
  OxRASController controller_;
};

}  // namespace oxm::test

#define OXM_SENDER_NEEDS_EXIM() \
  if (!exim_) GTEST_SKIP() << "no Exim: " << why_
