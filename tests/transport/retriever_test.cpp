// The retriever against a scripted POP3 server: what is stored and heard, the UID files, the indicators.
#include <gtest/gtest.h>

#include "accounts/classifier.h"
#include "accounts/system_info.h"
#include "frame/registry_value.h"
#include "frame/scope_guard.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tests/transport/account_fixture.h"

namespace oxm::test {
namespace {

std::string msg(const std::string& n, const std::string& body = "") {
  return "From: s" + n + "@example.com\r\nTo: alice@example.com\r\nSubject: m" + n +
         "\r\nDate: Thu, 01 Jan 2026 00:00:00 +0000\r\n\r\n" + (body.empty() ? "body " + n + "\r\n" : body);
}

class RetrieverScriptTest : public RetrieverTest {
 protected:
  // Runs one retrieval against `script`; the server must have seen exactly what it expects.
  bool retrieve(const Script& script, const Call& call = {}) {
    ScriptServer server(script);
    pointAt(server.port(), settings);
    const bool result = run(call);
    openAfter = connmgr::openConnections();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
    return result;
  }
  // uid, partial and unread flags and text of each stored message, one string each.
  std::vector<std::string> summary() {
    std::vector<std::string> out;
    for (const Stored& s : stored())
      out.push_back(s.uid + " p" + std::to_string(s.partial) + " u" + std::to_string(s.unread) + " " + s.text);
    return out;
  }

  Settings settings;
  int openAfter = 0;
};

// New messages only, not one that RecvUID.dat notes after the last UID and the store holds; the
// UID files byte for byte; the account's name for the periodic retrieval.
TEST_F(RetrieverScriptTest, OnlyNewMessagesAreStoredWithTheirUidFiles) {
  ASSERT_TRUE(account_->SaveLastUID("u1"));
  ASSERT_TRUE(account_->SaveUIDL({L"u1"}));
  std::string m2 = msg("2");
  const std::string m3 = msg("3", "..dot line\r\n");
  ASSERT_TRUE(OxClassifier().SaveToFolder(m2, "u2", false, account_.get()));
  writeHostFile(data("Mail/RecvUID.dat"), "u0\nu1\nu2\nu3\n");  // u3 noted, its save never done
  // u2 was found: the last UID moves to it before the conversation, which takes u3 alone as new.
  ASSERT_TRUE(retrieve(popLogin() + uidl("1 u1\r\n2 u2\r\n3 u3\r\n") + list("3", m3.size()) +
                           fetch("3", m3.size(), m3) + lastUidl("3", "u3") + quit(),
                       [&](OxRetriever& r, OxRASController& ras) {
                         return r.RetrieveMessages(account_.get(), &ras, "") && r.SetPeriodicRetrAccountName();
                       }));
  EXPECT_EQ(recorder.events, "C1 C2 K7:1," + std::to_string(m3.size()) + " n K0 K4:1");
  EXPECT_GT(recorder.progress, 0);
  EXPECT_EQ(summary(), (std::vector<std::string>{"u2 p0 u1 " + m2, "u3 p0 u1 " + msg("3", ".dot line\r\n")}));
  EXPECT_EQ(accountFile("LastUID.ini"), u16("u3"));
  EXPECT_FALSE(hostFileExists(data("Mail/LastUID.ini_tmp"))) << "the older copy kept during the run is gone";
  EXPECT_EQ(accountFile("UID.list"), u16("u1\r\nu2\r\nu3\r\n"));
  EXPECT_EQ(accountFile("RecvUID.dat"), "") << "emptied once LastUID.ini names the messages";
  std::wstring name;
  EXPECT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", L"PeriodicRetrAccount", &name));
  EXPECT_EQ(name, L"Mail");
  // Messages arrived; the result indicator is not for a retrieval in the foreground.
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL), 1u);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 99u);
  EXPECT_EQ(recorder.activeAsked, 0);
}

// Periodic in the background: "nothing new" goes to the indicator; in the foreground it stays.
TEST_F(RetrieverScriptTest, NothingNewDuringPeriodicRetrieval) {
  ASSERT_TRUE(account_->SaveLastUID("u1"));
  periodic = true;
  foreground = false;
  EXPECT_TRUE(retrieve(popLogin() + uidl("1 u1\r\n") + quit()));
  EXPECT_EQ(recorder.events, "C1 C2 E:OXMDL_ERR_RTV_NOTHING_NEW");
  EXPECT_GT(recorder.activeAsked, 0);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 3u);
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL), 99u);
  SetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX, 99u);
  foreground = true;
  EXPECT_TRUE(retrieve(popLogin() + uidl("1 u1\r\n") + quit()));
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 99u);
}

TEST_F(RetrieverScriptTest, HeaderOnlyMessageEndsItsHeaderWithTheOversizeLine) {
  const std::string header = "Subject: big\r\nDate: Thu, 01 Jan 2026 00:00:00 +0000\r\n\r\n";
  wAccount = true;
  ASSERT_TRUE(retrieve(popLogin() + uidl("1 big\r\n") + stat(1, 3145729) + fetch("1", 3145729, header, "TOP 1 0") +
                       lastUidl("1", "big") + quit()));
  EXPECT_EQ(recorder.events, "C1 C2 K7:1,3145729 n K2 K4:1");
  EXPECT_EQ(summary(), std::vector<std::string>{"big p0 u1 Subject: big\r\nDate: Thu, 01 Jan 2026 00:00:00 +0000\r\n"
                                                    "X-Oversize-Oxmail:\r\n\r\n"});
  EXPECT_EQ(accountFile("LastUID.ini"), u16("big"));
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 0u);  // W account: finished with messages
}

// The last UID is written only once the messages it names are committed. A commit whose
// flushes fail leaves LastUID.ini as it was and the UID noted; the next run finds the message,
// moves the last UID past it and fetches only what follows.
TEST_F(RetrieverScriptTest, AFailedCommitLeavesTheLastUidAndTheNextRunMovesIt) {
  ASSERT_TRUE(account_->SaveLastUID("u0"));
  const std::string m1 = msg("1"), m2 = msg("2");
  {
    // Flushes on, so that the directories' flushes are counted too. The run's first four pass,
    // the message file's among them (u1 is stored); the fifth, in the commit, and all after fail.
    const bool sync = syncEnabled();
    ScopeGuard restore([sync] { setSyncEnabled(sync); });
    setSyncEnabled(true);
    fault::failNth(fault::Op::Flush, 5, ERROR_ACCESS_DENIED, -1);
    EXPECT_FALSE(retrieve(popLogin() + uidl("1 u0\r\n2 u1\r\n3 u2\r\n") + list("2", m1.size()) +
                          list("3", m2.size()) + fetch("2", m1.size(), m1) + fetch("3", m2.size(), m2) + quit()));
    fault::reset();
  }
  EXPECT_EQ(storedUids(), (std::vector<std::string>{"u1"}));
  EXPECT_EQ(accountFile("LastUID.ini"), u16("u0"));
  EXPECT_EQ(accountFile("RecvUID.dat"), "u1\n");
  recorder.events.clear();
  EXPECT_TRUE(retrieve(popLogin() + uidl("1 u0\r\n2 u1\r\n3 u2\r\n") + list("3", m2.size()) +
                       fetch("3", m2.size(), m2) + lastUidl("3", "u2") + quit()));
  EXPECT_EQ(recorder.events, "C1 C2 K7:1," + std::to_string(m2.size()) + " n K0 K4:1");
  EXPECT_EQ(storedUids(), (std::vector<std::string>{"u1", "u2"}));
  EXPECT_EQ(accountFile("LastUID.ini"), u16("u2"));
  EXPECT_EQ(accountFile("RecvUID.dat"), "");
}

TEST_F(RetrieverScriptTest, FailuresReachTheCallerAndTheIndicator) {
  // A refused login in W-account mode: error indicator, the connection released.
  wAccount = true;
  EXPECT_FALSE(retrieve(Script{send("+OK ready\r\n")} + ask("USER alice", "+OK\r\n") +
                        ask("PASS secret1", "-ERR [AUTH] failed\r\n") + quit("+OK\r\n")));
  EXPECT_EQ(recorder.events, "C1 C2 E:POP_AUTH_ERR C3");
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 1u);
  EXPECT_EQ(openAfter, 0);
  // No data connection: "no connection" on the indicator, the controller's status as context.
  connmgr::failEstablish(CONNMGR_STATUS_CONNECTIONFAILED);
  OxRetriever retriever;
  RetrieverRecorder r2, other;
  ASSERT_TRUE(retriever.registerNotify(&r2));
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(retriever.registerNotify(&other));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_RTV_NOTIFY_BUSY);
  retriever.SetWAccountMode();
  OxRASController ras;
  EXPECT_FALSE(retriever.RetrieveMessages(account_.get(), &ras, ""));
  EXPECT_EQ(r2.events, "C1 E:OXMDL_ERR_RTV_CONNECT,-2");
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 4u);
  // No account, without a listener: the last error.
  ASSERT_TRUE(retriever.registerNotify(nullptr));
  SetOxMiddleError(OXMDL_ERR_NONE);
  EXPECT_FALSE(retriever.RetrieveMessages(nullptr, &ras, ""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_RTV_NO_ACCOUNT);
  EXPECT_EQ(retriever.HttpReceive(account_.get(), nullptr, nullptr, false), 0x02002311);
  // A selection of two messages with the same UID: no connection.
  std::string a = msg("1"), b = msg("2");
  ASSERT_TRUE(OxClassifier().SaveToFolder(a, "same", false, account_.get()));
  ASSERT_TRUE(OxClassifier().SaveToFolder(b, "same", false, account_.get()));
  EXPECT_FALSE(retriever.RetrieveSelectedMessages({stored()[0].id, stored()[1].id}, account_.get(), &ras, ""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_RTV_UID_DUPLICATE);
  EXPECT_EQ(connmgr::openConnections(), 0);
}

// Room for one more beside a kept message: one of two comes; the limit ends with its run.
TEST_F(RetrieverScriptTest, ReceiveLimitOfTheOldMessageCheck) {
  std::string kept = msg("0");
  ASSERT_TRUE(OxClassifier().SaveToFolder(kept, "u0", false, account_.get()));
  OxMessageInterface::Attributes keep;
  keep.mask = OxMessageInterface::ATTR_KEEP;
  keep.flags[3] = 1;
  std::unique_ptr<OxStorageInterface> storage(account_->OpenStorage());
  ASSERT_TRUE(std::unique_ptr<OxMessageInterface>(storage->OpenMessage(stored()[0].id))->SetAttributes(keep));
  settings = [](OxAccountInfoInterface::Attributes& a) {
    a.bRemoveOldMessageEnabled = true;
    a.ulRemoveOldMessageCnt = 2;
    a.mask |= uint64_t{3} << 23;
  };
  OxRetriever reused;
  reused.registerNotify(&recorder);
  reused.SetWAccountMode();
  const Call runReused = [&](OxRetriever&, OxRASController& ras) {
    return reused.RetrieveMessages(account_.get(), &ras, "");
  };
  const std::string m1 = msg("1"), m2 = msg("2"), m3 = msg("3");
  EXPECT_FALSE(retrieve(popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, m1.size() + m2.size()) +
                            fetch("1", m1.size(), m1) + quit(),
                        runReused));
  EXPECT_EQ(recorder.events,
            "C1 C2 K7:2," + std::to_string(m1.size() + m2.size()) + " n K0 E:OXMDL_ERR_RTV_RECEIVE_LIMIT,1 C3");
  EXPECT_EQ(storedUids(), (std::vector<std::string>{"u0", "u1"}));
  EXPECT_EQ(accountFile("LastUID.ini"), u16("u1"));
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 1u);
  // The check off: both new messages come.
  settings = [](OxAccountInfoInterface::Attributes& a) {
    a.bRemoveOldMessageEnabled = false;
    a.mask |= uint64_t{1} << 23;
  };
  EXPECT_TRUE(retrieve(popLogin() + uidl("1 u1\r\n2 u2-longer\r\n3 u3\r\n") + list("2", m2.size()) +
                           list("3", m3.size()) + fetch("2", m2.size(), m2) + fetch("3", m3.size(), m3) +
                           lastUidl("3", "u3") + quit(),
                       runReused));
  EXPECT_EQ(storedUids(), (std::vector<std::string>{"u0", "u1", "u2-longer", "u3"}));
  EXPECT_EQ(accountFile("RecvUID.dat"), "");
}

TEST_F(RetrieverScriptTest, AutoRetrieverTakesTheWAccount) {
  OxAutoRetriever automatic;
  OxRASController ras;
  std::filesystem::create_directories(root_.host("Application Data/OxenMail/System"));
  OxSystemInfoInterface system;
  ASSERT_TRUE(system.ChangeSystemIni(L""));
  EXPECT_FALSE(automatic.StartWaiting(&ras));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_AUTO_NO_WACCOUNT);
  ASSERT_TRUE(system.ChangeSystemIni(L"Mail"));
  const std::string m1 = msg("1");
  ScriptServer server(popLogin() + uidl("1 w1\r\n") + stat(1, m1.size()) + fetch("1", m1.size(), m1) +
                      lastUidl("1", "w1") + quit());
  pointAt(server.port());
  EXPECT_TRUE(automatic.StartWaiting(&ras));
  EXPECT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");
  EXPECT_EQ(storedUids(), std::vector<std::string>{"w1"});
  EXPECT_EQ(GetPhoneStatus(PHONE_ITEM_RECV_EMAIL_PDX), 0u);  // the W account drives it
  EXPECT_TRUE(automatic.StopWaiting());
}

}  // namespace
}  // namespace oxm::test
