// The retriever and sender tests' set-up: an account with its trays, the test phone-status
// library, recorders, what the storage holds, Dovecot and Exim, and killed runs in a child.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_creator.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/support/children.h"
#include "tests/support/exim.h"
#include "tests/support/servers.h"
#include "tests/support/stored_messages.h"
#include "tests/transport/transport_fixture.h"
#include "transport/periodic.h"
#include "transport/ras_controller.h"
#include "transport/retriever.h"
#include "transport/sender.h"

namespace oxm::test {

// Runs `body` on account `name` in a child killed at the nth call of `op` (n 0: none): 0 when
// it returned true, 1 false, -1 killed.
inline int killedRun(const wchar_t* name, fault::Op op, int n,
                     const std::function<bool(OxAccountInfoInterface*, OxRASController*)>& body) {
  const int status = childStatus([&] {
    std::unique_ptr<OxAccountInfoInterface> account(OxAccountInfoInterface::OpenAccountInfo(name, L""));
    if (!account) return 3;
    if (n > 0) fault::killAtNth(op, n);
    OxRASController ras;
    return body(account.get(), &ras) ? 0 : 1;
  });
  if (WIFSIGNALED(status)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}
inline std::string describeRun(fault::Op op, int n, int result) {
  return "op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(n) + " result " +
         std::to_string(result);
}

// The reports as tokens (notifyToken); progress (kind 8) is only counted.
class RetrieverRecorder : public OxRetriever::Notify {
 public:
  bool notify(unsigned int kind, long a, long b) override {
    if (kind == 8) {
      ++progress;
    } else {
      events += (events.empty() ? "" : " ") + notifyToken(kind, a, b);
    }
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

using Call = std::function<bool(OxRetriever&, OxRASController&)>;
using Settings = std::function<void(OxAccountInfoInterface::Attributes&)>;

// The account "Mail" with the phone-status library in the device's Windows directory.
class RetrieverTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    FreePhoneStatusDLL();
    ::mkdir(root_.host("Windows").c_str(), 0777);
    writeHostFile(root_.host("Windows/TmPhoneStatus.dll"), readHostFile(OXM_PHONE_STATUS_DLL));
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL, 99u);  // untouched marks
    SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, 99u);
    ASSERT_TRUE(OxAccountCreator().CreateFolders(L"Mail")) << std::hex << GetOxMiddleError();
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
    AccountsTest::TearDown();
  }

  // The POP3 login of the account; `extra` sets more settings on the same record.
  void pointAt(unsigned port, const Settings& extra = {}) {
    OxAccountInfoInterface::Attributes a;
    a.strPopServerName = L"127.0.0.1";
    a.uiPopServerPort = port;
    a.strPopUserName = L"alice";
    a.strPopPasswd = L"secret1";
    a.mask = 0x3C;  // server, port, user, password
    if (extra) extra(a);
    ASSERT_TRUE(account_->SetAccountInfoAttributes(a)) << std::hex << GetOxMiddleError();
  }

  // One retrieval of a fresh retriever (RetrieveMessages unless `call` says otherwise).
  bool run(const Call& call = {}) {
    OxRetriever retriever;
    recorder = RetrieverRecorder();
    recorder.foreground = foreground;
    EXPECT_TRUE(retriever.registerNotify(&recorder));
    if (wAccount) retriever.SetWAccountMode();
    if (periodic) retriever.StartPeriodicRetr();
    OxRASController ras;
    return call ? call(retriever, ras) : retriever.RetrieveMessages(account_.get(), &ras, "");
  }

  std::vector<Stored> stored() { return storedMessages(*account_); }
  std::vector<std::string> storedUids() {
    std::vector<std::string> uids;
    for (const Stored& s : stored()) uids.push_back(s.uid);
    return uids;
  }
  std::string accountFile(const std::string& name) { return readHostFile(data("Mail/" + name)); }

  ShortSteps steps_;
  std::unique_ptr<OxAccountInfoInterface> account_;
  unsigned long inbox_ = 0;
  RetrieverRecorder recorder;
  bool wAccount = false, periodic = false, foreground = true;
};

// The number in a message's subject line after `prefix`, 0 for a text without one.
inline int subjectNumber(const std::string& text, const std::string& prefix = "Subject: msg ") {
  const size_t at = text.find(prefix);
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + prefix.size());
}

// The retriever against a real Dovecot whose user alice gets numbered messages.
class DovecotRetrieverTest : public RetrieverTest {
 protected:
  void SetUp() override {
    RetrieverTest::SetUp();
    setStepScale(1.0);  // a real server: the real time-outs
    std::string why;
    dovecot_ = Dovecot::start("localhost", &why);
    if (!dovecot_) GTEST_SKIP() << why;
    pointAt(dovecot_->port());
  }
  // Puts messages first..last on the server: "Subject: msg i", `lines` body lines, dot lines in
  // every third; want_ holds them as served (CR LF line ends).
  void add(int first, int last, int lines = 3) {
    std::vector<std::string> files;
    for (int i = first; i <= last; ++i) {
      std::string text = "From: sender" + std::to_string(i) + "@example.com\nTo: alice@example.com\nSubject: msg " +
                         std::to_string(i) + "\nDate: Thu, 01 Jan 2026 00:00:00 +0000\n\n";
      for (int k = 1; k <= lines; ++k) text += "line " + std::to_string(k) + " of message " + std::to_string(i) + "\n";
      if (i % 3 == 0) text += ".a line that starts with a dot\n.\n";
      files.push_back(text);
      std::string& served = want_[i];
      served.clear();
      for (char c : text) served += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    dovecot_->addMessages("alice", files);
  }
  // The maildir files on the server by message number.
  std::map<int, std::string> onServer() {
    std::map<int, std::string> files;
    for (const char* sub : {"/cur", "/new"}) {
      std::error_code ec;
      for (const auto& f : std::filesystem::directory_iterator(dovecot_->dir() + "/home/alice/Maildir" + sub, ec)) {
        files[subjectNumber(readHostFile(f.path().string()))] = f.path().string();
      }
    }
    return files;
  }
  // The stored messages by number, each once; after a kill, the one in flight may lack its text.
  std::map<int, std::string> storedOnce(const std::string& when, bool afterKill = false) {
    std::map<int, std::string> out;
    const std::string inFlight = readHostFile(data("Mail/RecvUID.dat"));
    for (const Stored& s : stored()) {
      const int n = subjectNumber(s.text);
      if (n == 0) {
        EXPECT_TRUE(afterKill && (s.uid == inFlight || s.uid.empty())) << when << ": a message without its text, uid '"
                                                                       << s.uid << "'";
      } else {
        EXPECT_EQ(out.count(n), 0u) << when << ": message " << n << " stored twice";
        out[n] = s.text;
      }
    }
    return out;
  }

  std::map<int, std::string> wanted(int first, int last) { return {want_.find(first), want_.upper_bound(last)}; }
  std::unique_ptr<Dovecot> dovecot_;
  std::map<int, std::string> want_;
};

// Message i of a test outbox: To names `rcpt`, the body carries i and a line ".".
inline std::string outboxText(int i, const std::string& rcpt = "bob@example.jp") {
  return "From: alice@example.jp\r\nTo: " + rcpt + "\r\nSubject: message " + std::to_string(i) +
         "\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nbody " + std::to_string(i) +
         "\r\n.\r\nend\r\n";
}

// The account "mail" whose SMTP server is the shared Exim.
class SenderTest : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    exim_ = EximServer::shared(&why_);
    if (!exim_) GTEST_SKIP() << "no Exim: " << why_;
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

  unsigned long add(const std::string& text) {
    std::unique_ptr<OxFolderInterface> folder(storage_->OpenFolder(outbox_));
    unsigned long id = 0;
    EXPECT_TRUE(folder && folder->CreateMessage(&id));
    std::unique_ptr<OxMessageInterface> m(storage_->OpenMessage(id));
    EXPECT_TRUE(m && m->Write(text));
    return id;
  }

  // The texts of a folder's messages; *listed false (and nothing) when its list is damaged.
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
  EventRecorder<Sender::Notify> recorder_;
  Sender sender_;
  OxRASController controller_;
};

}  // namespace oxm::test
