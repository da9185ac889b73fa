// Shared set-up of the retriever tests: a device root with one mail account "Mail" (its four
// trays), short steps, a fresh Connection Manager, the test phone-status library in the device's
// Windows directory, a recorder of the reports, and what the account's storage and files hold.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "platform/connmgr.h"
#include "platform/worker.h"
#include "store/storage_interface.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/support/stored_messages.h"
#include "tests/transport/pop_fixture.h"
#include "transport/periodic.h"
#include "transport/retriever.h"

namespace oxm::test {

// The retriever's reports as tokens (notifyToken); progress (kind 8) is only counted.
class RetrieverRecorder : public OxRetriever::Notify {
 public:
  bool notify(unsigned int kind, long a, long b) override {
    if (kind == 8) {
      ++progress;
      return true;
    }
    events += (events.empty() ? "" : " ") + notifyToken(kind, a, b);
    return true;
  }
  bool isActive(bool* active, OxRetriever*) override {
    ++activeAsked;
    *active = foreground;
    return true;
  }

  std::string events;
  int progress = 0;
  int activeAsked = 0;
  bool foreground = true;
};

class RetrieverTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    setStepScale(0.001);
    connmgr::reset();
    FreePhoneStatusDLL();
    ::mkdir(root_.host("Windows").c_str(), 0777);
    writeHostFile(root_.host("Windows/TmPhoneStatus.dll"), readHostFile(OXM_PHONE_STATUS_DLL));
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, 99u);  // untouched marks
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, 99u);
    OxAccountCreator creator;
    ASSERT_TRUE(creator.CreateFolders(L"Mail")) << std::hex << GetOxMiddleError();
    account_.reset(OxAccountInfoInterface::OpenAccountInfo(L"Mail", L""));
    ASSERT_TRUE(account_);
    OxAccountInfoInterface::Attributes a;
    a.mask = uint64_t{1} << 28;
    ASSERT_TRUE(account_->GetAccountInfoAttributes(&a));
    inbox_ = a.ulJusinTrayID;
  }
  void TearDown() override {
    account_.reset();
    FreePhoneStatusDLL();
    setStepScale(1.0);
    connmgr::reset();
    AccountsTest::TearDown();
  }

  // The POP3 login of the account; `extra` sets more settings on the same record.
  void pointAt(const std::string& host, unsigned port,
               const std::function<void(OxAccountInfoInterface::Attributes&)>& extra = {}) {
    OxAccountInfoInterface::Attributes a;
    a.strPopServerName = std::wstring(host.begin(), host.end());
    a.uiPopServerPort = port;
    a.strPopUserName = L"alice";
    a.strPopPasswd = L"secret1";
    a.mask = 0x3C;  // server, port, user, password
    if (extra) extra(a);
    ASSERT_TRUE(account_->SetAccountInfoAttributes(a)) << std::hex << GetOxMiddleError();
  }

  std::vector<Stored> stored() { return storedMessages(*account_); }
  std::vector<std::string> storedUids() {
    std::vector<std::string> uids;
    for (const Stored& s : stored()) uids.push_back(s.uid);
    return uids;
  }
  std::wstring lastUid() {
    std::wstring uid;
    EXPECT_TRUE(account_->GetLastUID(&uid));
    return uid;
  }
  std::list<std::wstring> uidList() {
    std::list<std::wstring> uids;
    EXPECT_TRUE(account_->GetUIDL(&uids));
    return uids;
  }
  std::string accountFile(const std::string& name) { return readHostFile(data("Mail/" + name)); }

  std::unique_ptr<OxAccountInfoInterface> account_;
  unsigned long inbox_ = 0;
};

}  // namespace oxm::test
