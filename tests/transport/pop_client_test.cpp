// The POP3 client against a scripted server: one row per conversation and what must come out.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "frame/registry_value.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::test {
namespace {

using namespace std::string_literals;
using Setup = std::function<void(MailAccount&, std::list<std::string>&)>;

struct Scenario {
  const char* name;
  Script script;
  std::string events;
  std::map<std::string, std::string> mails = {};  // uid -> text, all that must arrive
  std::vector<std::string> latest = {};           // getUidlList at the end
  std::string lastRecvUid = "";
  int mode = 0;
  Setup setup = {};
  std::function<bool(PopClient&, int, long, long)> hook = {};
  bool serverMayFail = false;  // the client leaves while the server still sends
};

const std::string kMsg1 = "Subject: a\r\n\r\n..\r\n..x\r\n";  // dot lines, stuffed
const std::string kBinary = "Subject: b\r\n\r\n\x01\x02\x80\xff\x00z\x1b$B\r\n"s;
const Script kListAll = ask("LIST", "+OK\r\n1 100\r\n2 200\r\n.\r\n");
const Script kDele1 = ask("DELE 1", "+OK\r\n"), kDele2 = ask("DELE 2", "+OK\r\n");
const std::string kLines = [] {
  std::string out;
  for (int i = 0; i < 50; ++i) out += std::string(60, 'b') + "\r\n";
  return out;
}();

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> all = {
      {"two new messages, none known: STAT path, dot lines and binary bytes",
       popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, 40) + fetch("1", 20, kMsg1) + fetch("2", 20, kBinary) +
           lastUidl("2", "u2") + quit(),
       "K7:2,40 n K0 n K0 K4:2", {{"u1", "Subject: a\r\n\r\n.\r\n.x\r\n"}, {"u2", kBinary}}, {"u1", "u2"}, "u2"},
      {"UIDL answered '-': STAT, time-stamp UIDs, no UIDL at the end",
       popLogin() + ask("UIDL", "-ERR command not supported\r\n") + stat(1, 30) + fetch("1", 30, "Subject: c\r\n\r\n") +
           quit(),
       "K7:1,30 n K0 K4:1", {{"20261207010203000400000000", "Subject: c\r\n\r\n"}}, {"20261207010203000400000000"}},
      {"malformed first UIDL line", popLogin() + uidl("not a uidl line\r\n") + quit(), "E:POP_RESPONSE_ERR"},
      {.name = "last UID found inside another line: only the lines after it are new",
       .script = popLogin() + uidl("1 aaa\r\n2 xbbx\r\n3 ccc\r\n") + list("3", 50) + fetch("3", 50, "Subject: 3\r\n\r\n") +
                 lastUidl("3", "ccc") + quit(),
       .events = "K7:1,50 n K0 K4:1", .mails = {{"ccc", "Subject: 3\r\n\r\n"}}, .latest = {"aaa", "xbbx", "ccc"},
       .lastRecvUid = "ccc", .setup = [](MailAccount& a, auto&) { a.lastUid = L"bb"; }},
      {.name = "some UIDs known, last UID not found: LIST of all",
       .script = popLogin() + uidl("1 u1\r\n2 u2\r\n") + kListAll + fetch("2", 200, "S: 2\r\n") + lastUidl("2", "u2") +
                 quit(),
       .events = "K7:1,200 n K0 K4:1", .mails = {{"u2", "S: 2\r\n"}}, .latest = {"u1", "u2"}, .lastRecvUid = "u2",
       .setup = [](MailAccount& a, auto&) { a.uidList = {L"u1"}; a.lastUid = L"zz"; }},
      {.name = "UseUidlListAlways = 1 ignores the last UID: everything known, nothing fetched",
       .script = popLogin() + uidl("1 u1\r\n2 u2\r\n") + kListAll + quit(),
       .events = "K7:0,0 K4:0", .latest = {"u1", "u2"},
       .setup = [](MailAccount& a, auto&) {
         a.uidList = {L"u1", L"u2"};
         a.lastUid = L"u1";
         SetRegistryDword(HKEY_CURRENT_USER, L"Software\\TAMARIN\\OxMail", L"UseUidlListAlways", 1);
       }},
      {"a reply that outgrows its buffer is asked again as TOP n 0",
       popLogin() + uidl("1 o\r\n") + stat(1, 10) + fetch("1", 10, "Subject: o\r\n\r\n" + kLines) +
           ask("TOP 1 0", "+OK\r\nSubject: o\r\n\r\n.\r\n") + lastUidl("1", "o") + quit(),
       "K7:1,10 n K2 K4:1", {{"o", "Subject: o\r\n\r\n"}}, {"o"}, "o"},
      {"a header that outgrows its buffer too: the message is left on the server",
       popLogin() + uidl("1 o\r\n") + stat(1, 10) + fetch("1", 10, kLines) + ask("TOP 1 0", "+OK\r\n" + kLines + ".\r\n") +
           lastUidl("1", "o") + quit(),
       "K7:1,10 n K4:0", {}, {}, "o"},
      {"a server that stalls: time-out", popLogin() + Script{expect("UIDL\r\n"), stall()}, "E:POP_TIMEOUT_ERR"},
      {"a server that closes mid-message: what came before stays delivered",
       popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, 40) + fetch("1", 20, "S: 1\r\n") + list("2", 20) +
           Script{expect("RETR 2\r\n"), send("+OK\r\nS: 2\r\n"), close()},
       "K7:2,40 n K0 n E:POP_SEND_ERR", {{"u1", "S: 1\r\n"}}, {"u1"}},
      {"garbage greeting", Script{send("\x16\x03\x01\x02\x00\xff garbage\r\n"s)} + quit(), "E:POP_RESPONSE_ERR"},
      {.name = "an endless greeting line", .script = {send(std::string(1 << 20, 'x')), stall()},
       .events = "E:POP_RESPONSE_ERR", .serverMayFail = true},
      {.name = "APOP without a time stamp in the greeting", .script = Script{send("+OK ready\r\n")} + quit(),
       .events = "E:POP_APOP_ERR", .setup = [](MailAccount& a, auto&) { a.apopEnabled = 1; }},
      {.name = "select mode: only the listed UIDs, the walk ends at the last UID",
       .script = popLogin() + uidl("1 u1\r\n2 u2\r\n3 u3\r\n4 u4\r\n") + list("2", 30) + fetch("2", 30, "S: 2\r\n") +
                 lastUidl("2", "u2") + quit(),
       .events = "K7:1,30 n K0 K4:1", .mails = {{"u2", "S: 2\r\n"}}, .latest = {"u1", "u3", "u2"}, .lastRecvUid = "u2",
       .mode = 2, .setup = [](MailAccount& a, auto& list) { a.lastUid = L"u3"; list = {"u2", "u4"}; }},
      {.name = "delete-selected mode", .script = popLogin() + uidl("1 u1\r\n2 u2\r\n3 u3\r\n") + kDele2 + quit(),
       .events = "K9:1", .latest = {"u1", "u3"}, .mode = 3,
       .setup = [](MailAccount& a, auto& list) { a.lastUid = L"u3"; list = {"u2"}; }},
      {.name = "a declined mailbox size ends as 'declined'", .script = popLogin() + uidl("1 u1\r\n") + stat(1, 10) + quit(),
       .events = "K7:1,10 K5:0", .hook = [](PopClient&, int kind, long, long) { return kind != 7; }},
      {.name = "cancel while a message arrives: it is finished, dropped, then QUIT",
       .script = popLogin() + uidl("1 c\r\n") + stat(1, 30) + list("1", 30) +
                 Script{expect("RETR 1\r\n"), send("+OK\r\nSubject: c\r\n"), pause(300), send("\r\nbody\r\n.\r\n")} +
                 quit(),
       .events = "K7:1,30 n E:POP_CANCEL_ERR K6:0",
       .hook = [](PopClient& client, int kind, long, long) { return kind != 8 || (client.cancel(), true); }},
      {.name = "a DELE refused after delivery",
       .script = popLogin() + uidl("1 u1\r\n") + stat(1, 10) + fetch("1", 10, "S\r\n") + ask("DELE 1", "-ERR no\r\n") +
                 quit(),
       .events = "K7:1,10 n K0 E:POP_DELE_ERR", .mails = {{"u1", "S\r\n"}}, .latest = {"u1"},
       .setup = [](MailAccount& a, auto&) { a.deleteFromServer = 1; }},
      // The next LIST, and after its reply the next RETR, go out before a message is handed
      // over. Declined, the next message is read to its end, so the refused QUIT is seen as such;
      // a refused LIST is answered after the handover; a failed read ends the conversation only
      // once the message in hand is delivered.
      {.name = "a message declined while the next RETR is out",
       .script = popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, 40) + fetch("1", 20, "S\r\n") +
                 fetch("2", 20, "S2\r\n..\r\n") + quit("-ERR cannot\r\n"),
       .events = "K7:2,40 n K0 E:POP_QUIT_ERR", .mails = {{"u1", "S\r\n"}},
       .hook = [](PopClient&, int kind, long, long) { return kind != 0; }},
      {"the next LIST refused while a message is handed over",
       popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, 40) + fetch("1", 20, "S\r\n") + ask("LIST 2", "-ERR no\r\n") +
           quit(),
       "K7:2,40 n K0 n E:POP_LIST_RETR_ERR", {{"u1", "S\r\n"}}, {"u1"}},
      {"a server that closes after the next LIST",
       popLogin() + uidl("1 u1\r\n2 u2\r\n") + stat(2, 40) + fetch("1", 20, "S\r\n") +
           Script{expect("LIST 2\r\n"), close()},
       "K7:2,40 n K0 E:POP_SEND_ERR", {{"u1", "S\r\n"}}, {"u1"}},
      {"QUIT refused", popLogin() + uidl("") + stat(0, 0) + quit("-ERR cannot\r\n"), "K7:0,0 E:POP_QUIT_ERR"},
      // Each other command refused: its own code, then QUIT.
      {"STAT refused", popLogin() + uidl("1 u1\r\n") + ask("STAT", "-ERR no\r\n") + quit(), "E:POP_STAT_ERR"},
      {.name = "LIST of a new message refused",
       .script = popLogin() + uidl("1 u1\r\n2 u2\r\n") + ask("LIST 2", "-ERR no\r\n") + quit(),
       .events = "E:POP_LIST_ERR", .latest = {"u1"}, .setup = [](MailAccount& a, auto&) { a.lastUid = L"u1"; }},
      {"LIST before RETR refused",
       popLogin() + uidl("1 u1\r\n") + stat(1, 10) + ask("LIST 1", "-ERR no\r\n") + quit(), "K7:1,10 n E:POP_LIST_RETR_ERR"},
      {"RETR refused",
       popLogin() + uidl("1 u1\r\n") + stat(1, 10) + list("1", 10) + ask("RETR 1", "-ERR no\r\n") + quit(),
       "K7:1,10 n E:POP_RETR_ERR"},
      {"last UIDL refused", popLogin() + uidl("1 u1\r\n") + stat(1, 10) + fetch("1", 10, "S\r\n") +
           ask("UIDL 1", "-ERR no\r\n") + quit(), "K7:1,10 n K0 E:POP_UIDL_LAST_ERR", {{"u1", "S\r\n"}}, {"u1"}},
      {.name = "DELE of a selected message refused",
       .script = popLogin() + uidl("1 u1\r\n") + ask("DELE 1", "-ERR no\r\n") + quit(),
       .events = "E:POP_DELE_SELECTED_ERR", .latest = {"u1"}, .mode = 3,
       .setup = [](MailAccount&, auto& list) { list = {"u1"}; }},
      {.name = "DELE of a received message refused (clearing the server)",
       .script = popLogin() + uidl("1 u1\r\n") + ask("DELE 1", "-ERR no\r\n") + quit(),
       .events = "E:POP_DELE_RECEIVED_ERR", .latest = {"u1"}, .mode = 4,
       .setup = [](MailAccount& a, auto&) { a.uidList = {L"u1"}; }},
  };
  return all;
}

class PopScenarioTest : public PopTest, public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

// Each conversation as scripted, and again with every server reply sent one byte at a time.
TEST_P(PopScenarioTest, Conversation) {
  auto [index, split] = GetParam();
  const Scenario& s = scenarios()[index];
  SCOPED_TRACE(s.name);
  setFixedClock(SYSTEMTIME{2026, 12, 1, 7, 1, 2, 3, 4}, 0);
  Script script = s.script;
  for (Step& step : script) {
    if (split && step.kind == Step::Send && step.text.size() < 4096) step.piece = 1;
  }
  ScriptServer server(script);
  MailAccount a = account(server.port());
  std::list<std::string> list;
  if (s.setup) s.setup(a, list);
  PopRun run = converse(a, s.mode, list, s.hook);
  ASSERT_TRUE(server.waitDone()) << "the client left the connection open";
  // Split into bytes, a reply the client refuses early is still being sent when it leaves.
  std::string failures = server.failures();
  if (split) failures = std::regex_replace(failures, std::regex("step [0-9]+: the client closed before the send\n"), "");
  if (!s.serverMayFail) { EXPECT_EQ(failures, ""); }
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

// No server or no selection: nothing; an early cancel and a missing listener: no connection.
TEST_F(PopTest, NoConversationWithoutServerOrSelection) {
  PopClient client;
  PopRecorder recorder(client);
  ASSERT_TRUE(client.registerNotifyPop(&recorder));
  EXPECT_FALSE(client.registerNotifyPop(&recorder)) << "a second listener is refused";
  MailAccount a = account(1);  // nothing listens on port 1: a connect attempt would report
  for (int mode : {2, 3, 0}) {
    if (mode == 0) a.popServerName.clear();
    client.setAccount(&a, nullptr);
    client.setPopMode(mode);
    client.newConnection();
  }
  EXPECT_EQ(recorder.events, "");
  a.popServerName = L"127.0.0.1";
  client.setAccount(&a, nullptr);
  client.cancel();
  client.newConnection();
  EXPECT_EQ(recorder.events, "E:POP_CANCEL_ERR K6:0");
  EXPECT_TRUE(client.registerNotifyPop(nullptr));
  SetOxMiddleError(OXMDL_ERR_NONE);
  client.newConnection();
  EXPECT_EQ(GetOxMiddleError(), POP_CONNECT_ERR);
}

// A mailbox of 100,000 messages, all known: the substring rule stays linear, nothing is fetched.
TEST_F(PopTest, HundredThousandKnownUids) {
  setStepScale(0.05);  // 30 s for the 2.5 MB UIDL reply: slow builds (ThreadSanitizer) need more than 0.6 s
  constexpr int kCount = 100000;
  std::string uidls, lists;
  std::list<std::wstring> known;
  for (int i = 1; i <= kCount; ++i) {
    char uid[32];
    std::snprintf(uid, sizeof uid, "%08X6b14ce99", i);
    uidls += std::to_string(i) + " " + uid + "\r\n";
    lists += std::to_string(i) + " 200\r\n";
    known.emplace_back(uid, uid + 16);
  }
  ScriptServer server(popLogin() + uidl(uidls) + ask("LIST", "+OK\r\n" + lists + ".\r\n") + quit());
  MailAccount a = account(server.port());
  a.uidList = std::move(known);
  PopRun run = converse(a);
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");
  EXPECT_EQ(run.events, "K7:0,0 K4:0");
  ASSERT_EQ(run.latest.size(), static_cast<size_t>(kCount));
  EXPECT_EQ(run.latest.back(), "000186A06b14ce99");
}

// A cancel during the login from another thread. (A used cancel does not stop the next run:
// NoConversationWithoutServerOrSelection.)
TEST_F(PopTest, CancelFromAnotherThread) {
  setStepScale(0.01);  // 6 s of steps: the other thread comes well before the time-out
  ScriptServer server(Script{expect("QUIT\r\n")});
  PopClient client;
  PopRecorder recorder(client);
  ASSERT_TRUE(client.registerNotifyPop(&recorder));
  MailAccount a = account(server.port());
  client.setAccount(&a, nullptr);
  std::thread other([&] {
    while (server.connections() == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.cancel();
  });
  client.newConnection();
  other.join();
  ASSERT_TRUE(server.waitDone());
  EXPECT_EQ(server.failures(), "");
  client.quit();  // the connection is closed: nothing more is reported
  EXPECT_EQ(recorder.events, "E:POP_CANCEL_ERR");
}

TEST_F(PopTest, DataConnectionLostWhileWaiting) {
  HCONNECTION handle = openConnection(20);
  ScriptServer server(popLogin() + Script{expect("UIDL\r\n"), stall()});
  EXPECT_EQ(converse(account(server.port()), 0, {}, {}, handle).events, "E:OXMDL_ERR_RAS_DISCONNECTED");
  ASSERT_TRUE(server.waitDone());
  ConnMgrReleaseConnection(handle, 0);
}

// The memory and size limits before each RETR, at their boundaries.
TEST_F(PopTest, MemoryAndSizeLimits) {
  struct Case {
    const char* name;
    uint64_t availPhys;
    int mode;
    long total;
    Script fetches;
    std::string events;
  } cases[] = {
      {"under 300 KB free: a message over 32 KB is skipped (not deleted), one of 32 KB still comes", 307199, 0, 65537,
       list("1", 32769) + fetch("2", 32768, "S\r\n") + kDele2, "K7:2,65537 n n K0 K4:1"},
      {"300 KB free: both come", 307200, 0, 65537, fetch("1", 32769, "S\r\n") + kDele1 + fetch("2", 32768, "S\r\n") + kDele2,
       "K7:2,65537 n K0 n K0 K4:2"},
      {"memory below twice the size in KB: header only, even in partial mode", 400000, 1, 409601023,
       fetch("1", 204800512, "S\r\n", "TOP 1 0") + kDele1 + fetch("2", 204800511, "S\r\n", "TOP 2 2") + kDele2,
       "K7:2,409601023 n K2 n K1 K4:2"},
      {"exactly 3 MB still comes whole, one byte more header only", 1u << 30, 0, 6291457,
       fetch("1", 3145728, "S\r\n") + kDele1 + fetch("2", 3145729, "S\r\n", "TOP 2 0") + kDele2,
       "K7:2,6291457 n K0 n K2 K4:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setFixedAvailPhys(c.availPhys);
    ScriptServer server(popLogin() + uidl("1 one\r\n2 two\r\n") + stat(2, c.total) + c.fetches + quit());
    MailAccount a = account(server.port());
    a.deleteFromServer = 1;
    EXPECT_EQ(converse(a, c.mode).events, c.events);
    ASSERT_TRUE(server.waitDone());
    EXPECT_EQ(server.failures(), "");
  }
}

// Each host call failed in turn: one code, the socket closed, what came is whole and once.
TEST_F(PopTest, FaultAtEveryHostCall) {
  const Scenario& full = scenarios()[0];
  const std::pair<fault::Op, const char*> sweeps[] = {
      {fault::Op::Connect, "E:POP_CONNECT_ERR"}, {fault::Op::Send, "E:POP_SEND_ERR"},
      {fault::Op::Recv, "E:POP_SEND_ERR"}, {fault::Op::Thread, "E:POP_THREAD_ERR"}};
  for (const auto& [op, code] : sweeps) {
    int n = 1;
    for (;; ++n) {
      SCOPED_TRACE("op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(n));
      fault::Session session;
      fault::failNth(op, n, 10054);
      ScriptServer server(full.script);
      PopRun run = converse(account(server.port()));
      if (server.connections() > 0) {
        ASSERT_TRUE(server.waitDone()) << "the socket stayed open";
      } else {
        server.stop();  // the failure came before the connection
      }
      if (run.events == full.events) break;  // past the last call: nothing was injected
      EXPECT_TRUE(run.events.ends_with(code)) << run.events;
      EXPECT_EQ(run.events.find("E:"), run.events.rfind("E:")) << "one error report";
      for (const auto& [uid, text] : run.mails) EXPECT_EQ(text, full.mails.at(uid));
      ASSERT_LT(n, 100);
    }
    EXPECT_GT(n, 1) << "the operation was never reached";
  }
}

}  // namespace
}  // namespace oxm::test
