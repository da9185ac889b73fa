// The POP3 client against a scripted server: one row per conversation, what the server says,
// what the client must send, and the reports and messages that must come out of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <thread>

#include "frame/registry_value.h"
#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/memory.h"
#include "tests/transport/pop_fixture.h"

namespace oxm::test {
namespace {

using namespace std::string_literals;

struct Scenario {
  const char* name;
  Script script;
  std::string events;                             // the recorder's tokens
  std::map<std::string, std::string> mails = {};  // uid -> text, all that must arrive
  std::vector<std::string> latest = {};           // getUidlList at the end
  std::string lastRecvUid = "";
  int mode = 0;
  std::function<void(MailAccount&, std::list<std::string>&)> setup = {};
  std::function<bool(PopClient&, int, long, long)> hook = {};
  bool serverMayFail = false;  // the client leaves while the server still sends
};

const std::string kMsg1 = "Subject: a\r\n\r\n..\r\n..x\r\n";  // dot lines, stuffed
const std::string kMsg1Text = "Subject: a\r\n\r\n.\r\n.x\r\n";
const std::string kBinary = "Subject: b\r\n\r\n\x01\x02\x80\xff\x00z\x1b$B\r\n"s;

Script uidl(const std::string& reply) { return {expect("UIDL\r\n"), send(reply)}; }
Script quit(const std::string& reply = "+OK bye\r\n") { return {expect("QUIT\r\n"), send(reply)}; }
// LIST n, then RETR n (or the given command) answered with `body` and the terminator.
Script fetch(const std::string& n, long size, const std::string& body, const std::string& command = "") {
  return {expect("LIST " + n + "\r\n"), send("+OK " + n + " " + std::to_string(size) + "\r\n"),
          expect(command.empty() ? "RETR " + n + "\r\n" : command), send("+OK\r\n" + body + ".\r\n")};
}
Script lastUidl(const std::string& n, const std::string& uid) {
  return {expect("UIDL " + n + "\r\n"), send("+OK " + n + " " + uid + "\r\n")};
}
std::string lines(int count, char fill) {
  std::string out;
  for (int i = 0; i < count; ++i) out += std::string(60, fill) + "\r\n";
  return out;
}

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> all = {
      {"two new messages, none known: STAT path, dot lines and binary bytes",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 2 40\r\n")} +
           fetch("1", 20, kMsg1) + fetch("2", 20, kBinary) + lastUidl("2", "u2") + quit(),
       "K7:2,40 n K0 n K0 K4:2",
       {{"u1", kMsg1Text}, {"u2", kBinary}},
       {"u1", "u2"},
       "u2"},
      {"UIDL answered '-': STAT, time-stamp UIDs, no UIDL at the end",
       popLogin() + uidl("-ERR command not supported\r\n") + Script{expect("STAT\r\n"), send("+OK 1 30\r\n")} +
           fetch("1", 30, "Subject: c\r\n\r\n") + quit(),
       "K7:1,30 n K0 K4:1",
       {{"20261207010203000400000000", "Subject: c\r\n\r\n"}},
       {"20261207010203000400000000"}},
      {"malformed first UIDL line", popLogin() + uidl("+OK\r\nnot a uidl line\r\n.\r\n") + quit(),
       "E:POP_RESPONSE_ERR"},
      {"malformed later UIDL line", popLogin() + uidl("+OK\r\n1 a\r\n2\r\n.\r\n") + quit(), "E:POP_RESPONSE_ERR"},
      {"UIDL with a UID over 70 bytes", popLogin() + uidl("+OK\r\n1 a\r\n2 " + std::string(71, 'u') + "\r\n.\r\n") + quit(),
       "E:POP_RESPONSE_ERR"},
      {"UIDL whose first line is 1 MB", popLogin() + uidl("+OK\r\n1 " + std::string(1 << 20, 'x') + "\r\n.\r\n") +
           Script{expectClose()},
       "E:POP_RESPONSE_ERR", {}, {}, "", 0, {}, {}, true},
      {"last UID found inside another line: only the lines after it are new",
       popLogin() + uidl("+OK\r\n1 aaa\r\n2 xbbx\r\n3 ccc\r\n.\r\n") +
           Script{expect("LIST 3\r\n"), send("+OK 3 50\r\n")} + fetch("3", 50, "Subject: 3\r\n\r\n") +
           lastUidl("3", "ccc") + quit(),
       "K7:1,50 n K0 K4:1",
       {{"ccc", "Subject: 3\r\n\r\n"}},
       {"aaa", "xbbx", "ccc"},
       "ccc",
       0,
       [](MailAccount& a, std::list<std::string>&) { a.lastUid = L"bb"; }},
      {"some UIDs known, last UID not found: LIST of all",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n.\r\n") +
           Script{expect("LIST\r\n"), send("+OK\r\n1 100\r\n2 200\r\n.\r\n")} + fetch("2", 200, "S: 2\r\n") +
           lastUidl("2", "u2") + quit(),
       "K7:1,200 n K0 K4:1",
       {{"u2", "S: 2\r\n"}},
       {"u1", "u2"},
       "u2",
       0,
       [](MailAccount& a, std::list<std::string>&) {
         a.uidList = {L"u1"};
         a.lastUid = L"zz";
       }},
      {"UseUidlListAlways = 1 ignores the last UID: everything known, nothing fetched",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n.\r\n") +
           Script{expect("LIST\r\n"), send("+OK\r\n1 100\r\n2 200\r\n.\r\n")} + quit(),
       "K7:0,0 K4:0",
       {},
       {"u1", "u2"},
       "",
       0,
       [](MailAccount& a, std::list<std::string>&) {
         a.uidList = {L"u1", L"u2"};
         a.lastUid = L"u1";
         SetRegistryDword(HKEY_CURRENT_USER, L"Software\\TAMARIN\\OxMail", L"UseUidlListAlways", 1);
       }},
      {"a message over 3 MB comes header only",
       popLogin() + uidl("+OK\r\n1 big\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 3145729\r\n")} +
           fetch("1", 3145729, "Subject: big\r\n\r\n", "TOP 1 0\r\n") + lastUidl("1", "big") + quit(),
       "K7:1,3145729 n K2 K4:1",
       {{"big", "Subject: big\r\n\r\n"}},
       {"big"},
       "big"},
      {"partial mode: TOP n lines, shorter than the LIST size",
       popLogin() + uidl("+OK\r\n1 p\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 3145729\r\n")} +
           fetch("1", 3145729, "Subject: p\r\n\r\nl1\r\nl2\r\n", "TOP 1 2\r\n") + lastUidl("1", "p") + quit(),
       "K7:1,3145729 n K1 K4:1",
       {{"p", "Subject: p\r\n\r\nl1\r\nl2\r\n"}},
       {"p"},
       "p",
       1},
      {"a reply that outgrows its buffer is asked again as TOP n 0",
       popLogin() + uidl("+OK\r\n1 o\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 10\r\n")} +
           fetch("1", 10, "Subject: o\r\n\r\n" + lines(50, 'b')) +
           Script{expect("TOP 1 0\r\n"), send("+OK\r\nSubject: o\r\n\r\n.\r\n")} + lastUidl("1", "o") + quit(),
       "K7:1,10 n K2 K4:1",
       {{"o", "Subject: o\r\n\r\n"}},
       {"o"},
       "o"},
      {"a header that outgrows its buffer too: the message is left on the server",
       popLogin() + uidl("+OK\r\n1 o\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 10\r\n")} +
           fetch("1", 10, lines(50, 'b')) + Script{expect("TOP 1 0\r\n"), send("+OK\r\n" + lines(50, 'h') + ".\r\n")} +
           lastUidl("1", "o") + quit(),
       "K7:1,10 n K4:0", {}, {}, "o"},
      {"a server that stalls: time-out", popLogin() + Script{expect("UIDL\r\n"), stall()}, "E:POP_TIMEOUT_ERR"},
      {"a server that closes mid-message: what came before stays delivered",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 2 40\r\n")} +
           fetch("1", 20, "S: 1\r\n") +
           Script{expect("LIST 2\r\n"), send("+OK 2 20\r\n"), expect("RETR 2\r\n"), send("+OK\r\nS: 2\r\n"), close()},
       "K7:2,40 n K0 n E:POP_SEND_ERR",
       {{"u1", "S: 1\r\n"}},
       {"u1"}},
      {"garbage greeting", Script{send("\x16\x03\x01\x02\x00\xff garbage\r\n"s)} + quit(), "E:POP_RESPONSE_ERR"},
      {"an endless greeting line", Script{send(std::string(1 << 20, 'x')), stall()}, "E:POP_RESPONSE_ERR", {}, {}, "", 0,
       {}, {}, true},
      {"a message reply that never ends: time-out, the buffer stays at its capacity",
       popLogin() + uidl("+OK\r\n1 e\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 10\r\n")} +
           Script{expect("LIST 1\r\n"), send("+OK 1 10\r\n"), expect("RETR 1\r\n"),
                  send("+OK\r\n" + lines(60000, 'e'), 65536, 1), stall()},
       "K7:1,10 n E:POP_TIMEOUT_ERR", {}, {}, "", 0, {}, {}, true},
      {"APOP with the greeting's time stamp; an empty mailbox ends as nothing to do",
       Script{send("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n"),
              expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"), send("+OK\r\n")} +
           uidl("+OK\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 0 0\r\n")} + quit(),
       "K7:0,0 K5:0",
       {},
       {},
       "",
       0,
       [](MailAccount& a, std::list<std::string>&) {
         a.apopEnabled = 1;
         a.popUserName = L"mrose";
         a.popPassword = L"tanstaaf";
       }},
      {"APOP without a time stamp in the greeting", Script{send("+OK ready\r\n")} + quit(), "E:POP_APOP_ERR", {}, {}, "", 0,
       [](MailAccount& a, std::list<std::string>&) { a.apopEnabled = 1; }},
      {"wrong password",
       Script{send("+OK ready\r\n"), expect("USER alice\r\n"), send("+OK\r\n"), expect("PASS secret1\r\n"),
              send("-ERR [AUTH] Authentication failed.\r\n")} +
           quit(),
       "E:POP_AUTH_ERR"},
      {"delete from server: earlier messages first, then each one after delivery, no UIDL n",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n.\r\n") +
           Script{expect("LIST\r\n"), send("+OK\r\n1 100\r\n2 200\r\n.\r\n"), expect("DELE 1\r\n"), send("+OK\r\n")} +
           fetch("2", 200, "S: 2\r\n") + Script{expect("DELE 2\r\n"), send("+OK\r\n")} + quit(),
       "K7:1,200 n K0 K4:1",
       {{"u2", "S: 2\r\n"}},
       {},
       "",
       0,
       [](MailAccount& a, std::list<std::string>&) {
         a.uidList = {L"u1"};
         a.deleteFromServer = 1;
       }},
      {"select mode: only the listed UIDs, the walk ends at the last UID",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n4 u4\r\n.\r\n") +
           Script{expect("LIST 2\r\n"), send("+OK 2 30\r\n")} + fetch("2", 30, "S: 2\r\n") + lastUidl("2", "u2") +
           quit(),
       "K7:1,30 n K0 K4:1",
       {{"u2", "S: 2\r\n"}},
       {"u1", "u3", "u2"},
       "u2",
       2,
       [](MailAccount& a, std::list<std::string>& list) {
         a.lastUid = L"u3";
         list = {"u2", "u4"};
       }},
      {"delete-selected mode",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n.\r\n") + Script{expect("DELE 2\r\n"), send("+OK\r\n")} + quit(),
       "K9:1",
       {},
       {"u1", "u3"},
       "",
       3,
       [](MailAccount& a, std::list<std::string>& list) {
         a.lastUid = L"u3";
         list = {"u2"};
       }},
      {"clear mode: every message received before is deleted",
       popLogin() + uidl("+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n.\r\n") +
           Script{expect("DELE 1\r\n"), send("+OK\r\n"), expect("DELE 2\r\n"), send("+OK\r\n")} + quit(),
       "K4:0",
       {},
       {},
       "",
       4,
       [](MailAccount& a, std::list<std::string>&) { a.lastUid = L"u2"; }},
      {"a declined mailbox size ends as 'declined'",
       popLogin() + uidl("+OK\r\n1 u1\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 10\r\n")} + quit(),
       "K7:1,10 K5:0", {}, {}, "", 0, {}, [](PopClient&, int kind, long, long) { return kind != 7; }},
      {"cancel while a message arrives: it is finished, dropped, then QUIT",
       popLogin() + uidl("+OK\r\n1 c\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 30\r\n")} +
           Script{expect("LIST 1\r\n"), send("+OK 1 30\r\n"), expect("RETR 1\r\n"), send("+OK\r\nSubject: c\r\n"),
                  pause(300), send("\r\nbody\r\n.\r\n")} +
           quit(),
       "K7:1,30 n E:POP_CANCEL_ERR K6:0", {}, {}, "", 0, {},
       [](PopClient& client, int kind, long, long) {
         if (kind == 8) client.cancel();
         return true;
       }},
      {"a DELE refused after delivery",
       popLogin() + uidl("+OK\r\n1 u1\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 1 10\r\n")} +
           fetch("1", 10, "S\r\n") + Script{expect("DELE 1\r\n"), send("-ERR no\r\n")} + quit(),
       "K7:1,10 n K0 E:POP_DELE_ERR", {{"u1", "S\r\n"}}, {"u1"}, "", 0,
       [](MailAccount& a, std::list<std::string>&) { a.deleteFromServer = 1; }},
      {"QUIT refused", popLogin() + uidl("+OK\r\n.\r\n") + Script{expect("STAT\r\n"), send("+OK 0 0\r\n")} +
           quit("-ERR cannot\r\n"),
       "K7:0,0 E:POP_QUIT_ERR"},
  };
  return all;
}

// The same conversation with every server reply sent one byte at a time.
Script byteByByte(Script script) {
  for (Step& step : script) {
    if (step.kind == Step::Send && step.text.size() < 4096) step.piece = 1;
  }
  return script;
}

class PopScenarioTest : public PopTest, public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

TEST_P(PopScenarioTest, Conversation) {
  auto [index, split] = GetParam();
  const Scenario& s = scenarios()[index];
  SCOPED_TRACE(s.name);
  SYSTEMTIME clock{2026, 12, 1, 7, 1, 2, 3, 4};
  setFixedClock(clock, 0);
  ScriptServer server(split ? byteByByte(s.script) : s.script);
  MailAccount a = account(server.port());
  std::list<std::string> list;
  if (s.setup) s.setup(a, list);
  PopRun run = converse(a, s.mode, list, s.hook);

  ASSERT_TRUE(server.waitDone()) << "the client left the connection open";
  // Split into bytes, a reply the client refuses early is still being sent when it leaves.
  std::string failures = server.failures();
  if (split) failures = std::regex_replace(failures, std::regex("step [0-9]+: the client closed before the send\n"), "");
  if (!s.serverMayFail) {
    EXPECT_EQ(failures, "");
  }
  EXPECT_EQ(run.events, s.events);
  EXPECT_EQ(run.mails, s.mails);
  EXPECT_EQ(run.latest, s.latest);
  EXPECT_EQ(run.lastRecvUid, s.lastRecvUid);
}

INSTANTIATE_TEST_SUITE_P(Scripts, PopScenarioTest,
                         ::testing::Combine(::testing::Range<size_t>(0, scenarios().size()), ::testing::Bool()),
                         [](const auto& info) {
                           return "row" + std::to_string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_bytewise" : "");
                         });

TEST_F(PopTest, NoConversationWithoutServerOrSelection) {
  PopClient client;
  PopRecorder recorder(client);
  ASSERT_TRUE(client.registerNotifyPop(&recorder));
  EXPECT_FALSE(client.registerNotifyPop(&recorder)) << "a second listener is refused";
  MailAccount a = account(1);  // nothing listens on port 1: a connect attempt would report
  for (int mode : {2, 3}) {
    client.setAccount(&a, nullptr);
    client.setPopMode(mode);
    client.newConnection();
  }
  a.popServerName.clear();
  client.setAccount(&a, nullptr);
  client.setPopMode(0);
  client.newConnection();
  EXPECT_EQ(recorder.events, "");

  // A cancel before the conversation is reported at once, without a connection.
  a.popServerName = L"127.0.0.1";
  client.setAccount(&a, nullptr);
  client.cancel();
  client.newConnection();
  EXPECT_EQ(recorder.events, "E:POP_CANCEL_ERR K6:0");

  // Without a listener the code goes to the last error.
  EXPECT_TRUE(client.registerNotifyPop(nullptr));
  SetOxMiddleError(OXMDL_ERR_NONE);
  client.newConnection();
  EXPECT_EQ(GetOxMiddleError(), POP_CONNECT_ERR);
}

// Cancel and abort come from another thread while the client waits.
TEST_F(PopTest, CancelAndAbortFromAnotherThread) {
  struct Case {
    const char* name;
    Script script;
    bool abort;
    std::string events;
  } cases[] = {
      {"cancel while waiting for the greeting: QUIT at once, kind 3 only", {expect("QUIT\r\n")}, false,
       "E:POP_CANCEL_ERR"},
      {"cancel after PASS", Script{send("+OK\r\n"), expect("USER alice\r\n"), send("+OK\r\n"), expect("PASS secret1\r\n"),
                                   expect("QUIT\r\n")},
       false, "E:POP_CANCEL_ERR"},
      {"abort during a read: the read reports its time-out", popLogin() + Script{expect("UIDL\r\n"), stall()}, true,
       "E:POP_TIMEOUT_ERR"},
  };
  setStepScale(0.01);  // 6 s of steps: the other thread comes well before the time-out
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server(c.script);
    PopClient client;
    PopRecorder recorder(client);
    ASSERT_TRUE(client.registerNotifyPop(&recorder));
    MailAccount a = account(server.port());
    client.setAccount(&a, nullptr);
    std::thread other([&] {
      while (server.connections() == 0) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      c.abort ? client.abort() : client.cancel();
    });
    client.newConnection();
    other.join();
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
    // The connection is closed: quit has no one to talk to and reports nothing more.
    client.quit();
    EXPECT_EQ(recorder.events, c.events);
  }
}

// The data connection drops while the client waits; the log shows it, with the password masked.
TEST_F(PopTest, DataConnectionLostIsReportedAndLogged) {
  std::filesystem::create_directories(root_.host("Application Data/OxenMail"));
  writeHostFile(root_.host("Application Data/OxenMail/OxMailLog.txt"), "");
  CONNMGR_CONNECTIONINFO info{};
  info.cbSize = sizeof info;
  HCONNECTION handle = nullptr;
  DWORD status = 0;
  ASSERT_EQ(ConnMgrEstablishConnectionSync(&info, &handle, 1000, &status), S_OK);
  connmgr::dropAfterQueries(20);

  ScriptServer server(popLogin() + Script{expect("UIDL\r\n"), stall()});
  EXPECT_EQ(converse(account(server.port()), 0, {}, {}, handle).events, "E:OXMDL_ERR_RAS_DISCONNECTED");
  ASSERT_TRUE(server.waitDone());
  ConnMgrReleaseConnection(handle, 0);

  std::string log = readHostFile(root_.host("Application Data/OxenMail/OxMailLog.txt"));
  EXPECT_NE(log.find("*** Pop Protocol Start "), std::string::npos);
  EXPECT_NE(log.find("-[IN (11)]+OK ready\r\n"), std::string::npos);
  EXPECT_NE(log.find("-[OUT(12)]USER alice\r\n"), std::string::npos);
  EXPECT_NE(log.find("-[OUT(14)]PASS *******\r\n"), std::string::npos);
  EXPECT_EQ(log.find("secret1"), std::string::npos);
  EXPECT_NE(log.find("*** diconnect RAS Connection ***\r\n"), std::string::npos);
}

// The memory and size limits before each RETR, at their boundaries.
TEST_F(PopTest, MemoryAndSizeLimits) {
  struct Case {
    const char* name;
    uint64_t availPhys;
    int mode;
    std::string stat;
    Script fetches;
    std::string events;
  } cases[] = {
      {"under 300 KB free: a message over 32 KB is skipped (not deleted), one of 32 KB still comes", 307199, 0, "+OK 2 65537\r\n",
       Script{expect("LIST 1\r\n"), send("+OK 1 32769\r\n")} + fetch("2", 32768, "S\r\n") +
           Script{expect("DELE 2\r\n"), send("+OK\r\n")},
       "K7:2,65537 n n K0 K4:1"},
      {"300 KB free: both come", 307200, 0, "+OK 2 65537\r\n",
       fetch("1", 32769, "S\r\n") + Script{expect("DELE 1\r\n"), send("+OK\r\n")} + fetch("2", 32768, "S\r\n") +
           Script{expect("DELE 2\r\n"), send("+OK\r\n")},
       "K7:2,65537 n K0 n K0 K4:2"},
      {"memory below twice the size in KB: header only, even in partial mode", 400000, 1, "+OK 2 409601023\r\n",
       fetch("1", 204800512, "S\r\n", "TOP 1 0\r\n") + Script{expect("DELE 1\r\n"), send("+OK\r\n")} +
           fetch("2", 204800511, "S\r\n", "TOP 2 2\r\n") + Script{expect("DELE 2\r\n"), send("+OK\r\n")},
       "K7:2,409601023 n K2 n K1 K4:2"},
      {"exactly 3 MB still comes whole", 1u << 30, 0, "+OK 2 6291457\r\n",
       fetch("1", 3145728, "S\r\n") + Script{expect("DELE 1\r\n"), send("+OK\r\n")} +
           fetch("2", 3145729, "S\r\n", "TOP 2 0\r\n") + Script{expect("DELE 2\r\n"), send("+OK\r\n")},
       "K7:2,6291457 n K0 n K2 K4:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setFixedAvailPhys(c.availPhys);
    ScriptServer server(popLogin() + uidl("+OK\r\n1 one\r\n2 two\r\n.\r\n") +
                        Script{expect("STAT\r\n"), send(c.stat)} + c.fetches + quit());
    MailAccount a = account(server.port());
    a.deleteFromServer = 1;
    PopRun run = converse(a, c.mode);
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
    EXPECT_EQ(run.events, c.events);
  }
}

// Every connect, send, receive and worker start of a conversation failed in turn: each run ends
// with one clear code, closes its socket, and what it delivered is whole and delivered once.
TEST_F(PopTest, FaultAtEveryHostCall) {
  const Scenario& full = scenarios()[0];
  struct Sweep {
    fault::Op op;
    const char* code;
  } sweeps[] = {
      {fault::Op::Connect, "E:POP_CONNECT_ERR"},
      {fault::Op::Send, "E:POP_SEND_ERR"},
      {fault::Op::Recv, "E:POP_SEND_ERR"},
      {fault::Op::Thread, "E:POP_THREAD_ERR"},
  };
  for (const Sweep& sweep : sweeps) {
    int n = 1;
    for (;; ++n) {
      SCOPED_TRACE("op " + std::to_string(static_cast<int>(sweep.op)) + " call " + std::to_string(n));
      fault::Session session;
      fault::failNth(sweep.op, n, 10054);
      ScriptServer server(full.script);
      PopRun run = converse(account(server.port()));
      if (server.connections() > 0) {
        ASSERT_TRUE(server.waitDone()) << "the socket stayed open";
      } else {
        server.stop();  // the failure came before the connection
      }
      if (run.events == full.events) break;  // past the last call: nothing was injected
      EXPECT_TRUE(run.events.ends_with(sweep.code)) << run.events;
      EXPECT_EQ(run.events.find("E:"), run.events.rfind("E:")) << "one error report";
      for (const auto& [uid, text] : run.mails) EXPECT_EQ(text, full.mails.at(uid));
      ASSERT_LT(n, 100);
    }
    EXPECT_GT(n, 1) << "the operation was never reached";
  }
}

// A mailbox of 100,000 known messages: the substring matching stays fast and the lists whole.
TEST_F(PopTest, HundredThousandKnownUids) {
  const int count = 100000;
  std::string uidlReply = "+OK\r\n", listReply = "+OK\r\n";
  MailAccount a;
  for (int i = 1; i <= count; ++i) {
    char uid[32];
    std::snprintf(uid, sizeof uid, "%08X6b14ce99", i);
    uidlReply += std::to_string(i) + " " + uid + "\r\n";
    listReply += std::to_string(i) + " 200\r\n";
    a.uidList.emplace_back(uid, uid + 16);
  }
  uidlReply += ".\r\n";
  listReply += ".\r\n";
  ScriptServer server(popLogin() + uidl(uidlReply) + Script{expect("LIST\r\n"), send(listReply)} + quit());
  MailAccount base = account(server.port());
  base.uidList = std::move(a.uidList);
  PopRun run = converse(base);
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");
  EXPECT_EQ(run.events, "K7:0,0 K4:0");
  ASSERT_EQ(run.latest.size(), static_cast<size_t>(count));
  EXPECT_EQ(run.latest.back(), "000186A06b14ce99");
}

}  // namespace
}  // namespace oxm::test
