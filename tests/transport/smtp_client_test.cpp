// SmtpClient against a scripted server: the conversation of every authentication choice, byte
// for byte, and the error paths a real server will not take (refused commands, unusable
// replies, stalls, closes, cancel), each a row of data with the code it must end with.
#include "transport/smtp_client.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "frame/oxerror.h"
#include "platform/connmgr.h"
#include "tests/transport/transport_fixture.h"

namespace oxm::test {
namespace {

struct Event {
  int kind;
  unsigned code;
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{kind " << e.kind << ", 0x" << std::hex << e.code << std::dec << "}";
}

struct Recorder : SmtpClient::NotifySmtp {
  std::vector<Event> events;
  bool notify(int kind, long a, long) override {
    events.push_back({kind, static_cast<unsigned>(a)});
    return true;
  }
};

const Event kAccepted{0, 0};
Event failed(unsigned code) { return {1, code}; }

// The server side of an accepted message from MAIL FROM on: one recipient, the text lines.
Script deliver(const std::vector<std::string>& textLines, const char* dataEnd = "250 queued\r\n") {
  Script s = {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"),
              expect("RCPT TO: <you@example.jp>\r\n"),  send("250 OK\r\n"),
              expect("DATA\r\n"),                      send("354 go ahead\r\n")};
  for (const std::string& line : textLines) s.push_back(expect(line));
  s.push_back(expect(".\r\n"));
  s.push_back(send(dataEnd));
  return s;
}

Script join(std::initializer_list<Script> parts) {
  Script all;
  for (const Script& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const char kText[] = "Subject: hi\r\n\r\nline\r\n.\r\n..two\r\nend\r\n";
// kText on the wire: lines starting with "." get one more, then CR LF "." CR LF.
const std::vector<std::string> kWire = {"Subject: hi\r\n", "\r\n", "line\r\n", "..\r\n", "...two\r\n", "end\r\n", "\r\n"};

const Script kGreeting = {send("220 test ESMTP\r\n")};
const Script kHelo = {expect("HELO OxMail\r\n"), send("250 hello\r\n")};
const Script kEhloAuth = {expect("EHLO OxMail\r\n"),
                          send("250-test\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 HELP\r\n")};
const Script kQuitAfterError = {expect("QUIT\r\n"), expectClose()};

class SmtpClientTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    client_.registerNotifySmtp(&recorder_);
  }
  void TearDown() override {
    net::setPortRedirect(587, 0);
    TransportTest::TearDown();
  }

  MailAccount account(unsigned port, unsigned method = 0) {
    MailAccount a;
    a.smtpServerName = L"127.0.0.1";
    a.smtpServerPort = port;
    a.smtpAuthMethod = method;
    a.smtpUserName = L"alice";
    a.smtpPassword = L"secret1";
    return a;
  }

  // Sets account and message and runs newConnection against `script`.
  void run(Script script, MailAccount a, std::string text = kText,
           std::list<std::string> rcpts = {"you@example.jp"}) {
    server_ = std::make_unique<ScriptServer>(std::move(script));
    a.smtpServerPort = a.smtpServerPort ? a.smtpServerPort : server_->port();
    text_ = std::move(text);
    mail_.envelopeFrom = "me@example.jp";
    mail_.recipients = std::move(rcpts);
    mail_.data = &text_;
    client_.setAccount(&a, nullptr);
    client_.setMail(&mail_);
    client_.newConnection();
  }

  void finish() {
    server_->stop();
    EXPECT_EQ(server_->failures(), "");
  }

  Recorder recorder_;
  SmtpClient client_;
  RawEmail_S mail_;
  std::string text_;
};

TEST_F(SmtpClientTest, PlainConversationByteForByteThenQuit) {
  run(join({kGreeting, kHelo, deliver(kWire), {expect("QUIT \r\n"), send("221 bye\r\n")}}), account(0));
  EXPECT_EQ(recorder_.events, std::vector<Event>{kAccepted});
  EXPECT_EQ(client_.state(), SmtpState::Accepted);
  client_.quit();
  EXPECT_EQ(client_.state(), SmtpState::Closed);
  ASSERT_TRUE(server_->waitDone(5000));
  finish();
}

// Each authentication choice, with its exact lines.
TEST_F(SmtpClientTest, AuthenticationChoices) {
  struct Case {
    const char* name;
    unsigned method;
    Script auth;  // after the greeting, through the reply that precedes MAIL FROM
  } cases[] = {
      {"CRAM-MD5 chosen from EHLO", 2,
       join({kEhloAuth,
             {expect("AUTH CRAM-MD5\r\n"), send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"),
              expect("YWxpY2UgMzU3NzNlNjMxMmIxZTVkYjVkYzNiMTg4M2I3NWMxOTM=\r\n"), send("235 ok\r\n")}})},
      {"LOGIN forced", 4,
       join({kEhloAuth,
             {expect("AUTH LOGIN\r\n"), send("334 VXNlcm5hbWU6\r\n"), expect("YWxpY2U=\r\n"),
              send("334 UGFzc3dvcmQ6\r\n"), expect("c2VjcmV0MQ==\r\n"), send("235 ok\r\n")}})},
      {"LOGIN chosen when CRAM-MD5 is not offered", 2,
       {expect("EHLO OxMail\r\n"), send("250-test\r\n250 AUTH LOGIN PLAIN\r\n"), expect("AUTH LOGIN\r\n"),
        send("334 VXNlcm5hbWU6\r\n"), expect("YWxpY2U=\r\n"), send("334 UGFzc3dvcmQ6\r\n"), expect("c2VjcmV0MQ==\r\n"),
        send("235 ok\r\n")}},
      {"auto against a server without AUTH", 2,
       {expect("EHLO OxMail\r\n"), send("250-test\r\n250 SIZE 100\r\n"), expect("HELO nimbus\r\n"), send("250 hi\r\n")}},
      {"auto against PLAIN only", 2,
       {expect("EHLO OxMail\r\n"), send("250-test\r\n250 AUTH PLAIN\r\n"), expect("HELO nimbus\r\n"), send("250 hi\r\n")}},
  };
  // A refused EHLO is answered with HELO and the message goes out without authentication.
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (const char* code : {"500", "502", "530", "550"}) {
    all.push_back({code, 2, {expect("EHLO OxMail\r\n"), send(std::string(code) + " no\r\n"), expect("HELO OxMail\r\n"),
                             send("250 hi\r\n")}});
  }
  for (const Case& c : all) {
    SCOPED_TRACE(c.name);
    recorder_.events.clear();
    run(join({kGreeting, c.auth, deliver(kWire), {expect("QUIT \r\n"), send("221 bye\r\n")}}), account(0, c.method));
    EXPECT_EQ(recorder_.events, std::vector<Event>{kAccepted});
    client_.quit();
    ASSERT_TRUE(server_->waitDone(5000));
    finish();
  }
}

// With the protocol log switched on (its file exists), the conversation is logged and the AUTH
// answers are masked.
TEST_F(SmtpClientTest, ProtocolLogMasksTheAuthAnswers) {
  const std::string file = root_.host("Application Data/OxenMail/OxMailLog.txt");
  ::mkdir(root_.host("Application Data").c_str(), 0777);
  ::mkdir(root_.host("Application Data/OxenMail").c_str(), 0777);
  writeHostFile(file, "");
  SmtpClient logged;  // the log is switched on when the client is made
  logged.registerNotifySmtp(&recorder_);
  server_ = std::make_unique<ScriptServer>(
      join({kGreeting, kEhloAuth,
            {expect("AUTH LOGIN\r\n"), send("334 VXNlcm5hbWU6\r\n"), expect("YWxpY2U=\r\n"),
             send("334 UGFzc3dvcmQ6\r\n"), expect("c2VjcmV0MQ==\r\n"), send("235 ok\r\n")},
            deliver(kWire)}));
  MailAccount a = account(server_->port(), 4);
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  logged.setAccount(&a, nullptr);
  logged.setMail(&mail_);
  logged.newConnection();
  EXPECT_EQ(recorder_.events, std::vector<Event>{kAccepted});
  const std::string log = readHostFile(file);
  EXPECT_NE(log.find("*** Smtp Protocol Start "), std::string::npos);
  EXPECT_NE(log.find("-[OUT(13)]EHLO OxMail\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("-[IN (16)]220 test ESMTP\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("-[OUT(12)]AUTH LOGIN\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("YWxpY2U="), std::string::npos) << "the user name's answer is masked";
  EXPECT_EQ(log.find("c2VjcmV0MQ=="), std::string::npos) << "the password's answer is masked";
  finish();
}

// Every failure: the code, and QUIT sent first unless the connection itself failed.
TEST_F(SmtpClientTest, ErrorPathsEndWithTheirCode) {
  const std::string endless(70000, 'x');
  struct Case {
    const char* name;
    unsigned method;
    Script script;
    unsigned code;
    std::list<std::string> rcpts = {"you@example.jp"};
    std::string text = kText;
  } cases[] = {
      {"5xx on MAIL FROM", 0,
       join({kGreeting, kHelo, {expect("MAIL FROM: <me@example.jp>\r\n"), send("553 no such sender\r\n")},
             kQuitAfterError}),
       SMTP_ADDRESS_ERR},
      {"5xx on the second RCPT of three", 0,
       join({kGreeting, kHelo,
             {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"), expect("RCPT TO: <a@example.jp>\r\n"),
              send("250 OK\r\n"), expect("RCPT TO: <b@example.jp>\r\n"), send("550 unknown user\r\n")},
             kQuitAfterError}),
       SMTP_ADDRESS_ERR, {"a@example.jp", "b@example.jp", "c@example.jp"}},
      {"a recipient with CR LF is never sent", 0,
       join({kGreeting, kHelo, {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n")}, kQuitAfterError}),
       SMTP_ADDRESS_ERR, {"x@example.jp>\r\nRSET\r\nRCPT TO: <y@example.jp"}},
      {"DATA refused", 0,
       join({kGreeting, kHelo,
             {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"), expect("RCPT TO: <you@example.jp>\r\n"),
              send("250 OK\r\n"), expect("DATA\r\n"), send("554 no\r\n")},
             kQuitAfterError}),
       SMTP_RESPONSE_ERR},
      {"the text refused", 0, join({kGreeting, kHelo, deliver(kWire, "552 too big\r\n"), kQuitAfterError}),
       SMTP_RESPONSE_ERR},
      {"greeting without a code", 0, {send("hello there\r\n"), expect("QUIT\r\n"), expectClose()}, SMTP_RESPONSE_ERR},
      {"binary garbage", 0, {send(std::string("\x00\xff\x16\x03\x01\r\n", 7)), expect("QUIT\r\n"), expectClose()},
       SMTP_RESPONSE_ERR},
      {"endless multi-line EHLO reply", 2,
       join({kGreeting, {expect("EHLO OxMail\r\n"), send("250-" + endless + "\r\n"), expect("QUIT\r\n"), expectClose()}}),
       SMTP_RESPONSE_ERR},
      {"single-line EHLO reply", 2,
       join({kGreeting, {expect("EHLO OxMail\r\n"), send("250 test\r\n")}, kQuitAfterError}), SMTP_RESPONSE_ERR},
      {"EHLO 5xx multi-line", 2,
       join({kGreeting, {expect("EHLO OxMail\r\n"), send("554-no\r\n554 never\r\n")}, kQuitAfterError}),
       SMTP_AUTH_UNAVAILABLE_ERR},
      {"CRAM-MD5 forced, not offered", 3,
       join({kGreeting, {expect("EHLO OxMail\r\n"), send("250-test\r\n250 AUTH PLAIN\r\n")}, kQuitAfterError}),
       SMTP_AUTH_METHOD_ERR},
      {"challenge that is not Base64", 3,
       join({kGreeting, kEhloAuth,
             {expect("AUTH CRAM-MD5\r\n"), send("334 <not base64>\r\n"), expect("*\r\n"), send("501 cancelled\r\n")},
             kQuitAfterError}),
       SMTP_AUTH_UNAVAILABLE_ERR},
      {"wrong password", 4,
       join({kGreeting, kEhloAuth,
             {expect("AUTH LOGIN\r\n"), send("334 VXNlcm5hbWU6\r\n"), expect("YWxpY2U=\r\n"),
              send("334 UGFzc3dvcmQ6\r\n"), expect("c2VjcmV0MQ==\r\n"), send("535 Incorrect authentication data\r\n")},
             kQuitAfterError}),
       SMTP_AUTH_ERR},
      {"server closes after the greeting", 0, join({kGreeting, {expect("HELO OxMail\r\n"), close()}}), SMTP_SEND_ERR},
      {"server closes mid-DATA", 0,
       join({kGreeting, kHelo,
             {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"), expect("RCPT TO: <you@example.jp>\r\n"),
              send("250 OK\r\n"), expect("DATA\r\n"), send("354 go\r\n"), expect("Subject: hi\r\n"), close()}}),
       SMTP_SEND_ERR},
      {"server stalls after the text", 0, join({kGreeting, kHelo, deliver(kWire, ""), {stall()}}), SMTP_TIMEOUT_ERR},
      {"no recipients", 0, {stall()}, SMTP_SEQUENCE_ERR, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_.events.clear();
    run(c.script, account(0, c.method), c.text, c.rcpts);
    EXPECT_EQ(recorder_.events, std::vector<Event>{failed(c.code)});
    client_.quit();  // nothing to do after a failure
    finish();
  }
}

TEST_F(SmtpClientTest, MissingCredentialsAndNoServer) {
  MailAccount a = account(0, 2);
  a.smtpPassword.clear();
  run(join({kGreeting, kQuitAfterError}), a);
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_AUTH_ERR)});
  finish();

  // No server name: nothing happens at all.
  recorder_.events.clear();
  MailAccount none;
  client_.setAccount(&none, nullptr);
  client_.newConnection();
  EXPECT_EQ(client_.state(), SmtpState::Closed);
  EXPECT_TRUE(recorder_.events.empty());

  // Nothing listens: the connect fails.
  const unsigned closedPort = [] {
    ScriptServer gone(Script{});
    return gone.port();
  }();
  run({}, account(closedPort));
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_CONNECT_ERR)});
}

TEST_F(SmtpClientTest, SeveralMessagesOnOneConnection) {
  std::string second = "Subject: 2\r\n\r\nno final line end";
  run(join({kGreeting, kHelo, deliver(kWire),
            deliver({"Subject: 2\r\n", "\r\n", "no final line end\r\n"}, "334 odd\r\n"),
            {expect("QUIT \r\n"), send("221 bye\r\n")}}),
      account(0));
  ASSERT_EQ(recorder_.events, std::vector<Event>{kAccepted});
  RawEmail_S next{"me@example.jp", {"you@example.jp"}, &second};
  client_.setMail(&next);
  client_.sendEmail();
  // A "334" after the text still counts as accepted; the next message then has no place.
  EXPECT_EQ(recorder_.events, (std::vector<Event>{kAccepted, kAccepted}));
  EXPECT_EQ(client_.state(), SmtpState::Accepted334);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events.back(), failed(SMTP_SEQUENCE_ERR));
  client_.quit();
  ASSERT_TRUE(server_->waitDone(5000));
  finish();
}

// Replies that arrive a byte at a time read exactly as whole ones.
TEST_F(SmtpClientTest, RepliesSplitAnywhere) {
  Script script = {send("220 test ESMTP\r\n", 1, 1), expect("EHLO OxMail\r\n"),
                   send("250-test\r\n250-AUTH LOGIN\r\n250 HELP\r\n", 1, 1), expect("AUTH LOGIN\r\n"),
                   send("334 VXNlcm5hbWU6\r\n", 3, 1), expect("YWxpY2U=\r\n"), send("334 UGFzc3dvcmQ6\r\n", 5, 1),
                   expect("c2VjcmV0MQ==\r\n"), send("235 ok\r\n", 1, 1)};
  run(join({script, deliver(kWire), {expect("QUIT \r\n"), send("221 bye\r\n")}}), account(0, 4));
  EXPECT_EQ(recorder_.events, std::vector<Event>{kAccepted});
  client_.quit();
  finish();
}

TEST_F(SmtpClientTest, StartTlsNotOfferedGoesOnInPlainText) {
  // Port 587 (redirected to the scripted server) asks for STARTTLS: greeting, EHLO OxMail_1 without STARTTLS, then
  // the usual conversation without a second greeting.
  server_ = std::make_unique<ScriptServer>(
      join({kGreeting, {expect("EHLO OxMail_1\r\n"), send("250-test\r\n250 AUTH LOGIN\r\n")}, kEhloAuth,
            {expect("AUTH LOGIN\r\n"), send("334 VXNlcm5hbWU6\r\n"), expect("YWxpY2U=\r\n"), send("334 UGFzc3dvcmQ6\r\n"),
             expect("c2VjcmV0MQ==\r\n"), send("235 ok\r\n")},
            deliver(kWire), {expect("QUIT \r\n"), send("221 bye\r\n")}}));
  net::setPortRedirect(587, server_->port());
  MailAccount a = account(587, 4);
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  client_.setAccount(&a, nullptr);
  client_.setMail(&mail_);
  client_.newConnection();
  EXPECT_EQ(recorder_.events, std::vector<Event>{kAccepted});
  client_.quit();
  ASSERT_TRUE(server_->waitDone(5000));
  finish();

  // STARTTLS offered and refused.
  recorder_.events.clear();
  server_ = std::make_unique<ScriptServer>(
      join({kGreeting, {expect("EHLO OxMail_1\r\n"), send("250-test\r\n250 STARTTLS\r\n"), expect("STARTTLS\r\n"),
                        send("454 TLS not available\r\n")},
            kQuitAfterError}));
  net::setPortRedirect(587, server_->port());
  text_ = kText;
  client_.setAccount(&a, nullptr);
  client_.setMail(&mail_);
  client_.newConnection();
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_AUTH_ERR)});
  finish();
}

// A server that accepts STARTTLS and then never answers the TLS hello: the handshake waits in
// steps like any reply, so the step limit ends it (without the steps it would block for good; the
// watchdog then stops the server and the code is a failed connect instead).
TEST_F(SmtpClientTest, StalledStartTlsHandshakeEndsAtTheStepLimit) {
  server_ = std::make_unique<ScriptServer>(
      join({kGreeting, {expect("EHLO OxMail_1\r\n"), send("250-test\r\n250 STARTTLS\r\n"), expect("STARTTLS\r\n"),
                        send("220 go ahead\r\n"), stall()}}));
  net::setPortRedirect(587, server_->port());
  std::atomic<bool> ended{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended) server_->stop();
  });
  MailAccount a = account(587, 4);
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  client_.setAccount(&a, nullptr);
  client_.setMail(&mail_);
  client_.newConnection();
  ended = true;
  watchdog.join();
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_TIMEOUT_ERR)});
  EXPECT_EQ(client_.state(), SmtpState::TlsHandshake);
  finish();
}

// Cancel from another thread: while the server keeps the reply to DATA back, and while the
// client is blocked sending a text the server does not read.
TEST_F(SmtpClientTest, CancelDuringTheWaitAndDuringData) {
  struct Case {
    const char* name;
    Script tail;
    size_t textSize;
  } cases[] = {
      {"waiting for the reply to DATA",
       {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"), expect("RCPT TO: <you@example.jp>\r\n"),
        send("250 OK\r\n"), expect("DATA\r\n"), stall()},
       100},
      {"sending the text",
       {expect("MAIL FROM: <me@example.jp>\r\n"), send("250 OK\r\n"), expect("RCPT TO: <you@example.jp>\r\n"),
        send("250 OK\r\n"), expect("DATA\r\n"), send("354 go\r\n"), pause(1500)},
       32 << 20},
  };
  setStepScale(1.0);  // real steps: only the cancel may end the wait
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_.events.clear();
    server_.reset();  // the previous case's server, before the clock starts
    // Once this conversation (held 100 ms at its greeting) has sent DATA, the cancel comes
    // 200 ms later from another thread.
    std::thread canceller([this] {
      while (client_.state() != SmtpState::Greeting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      while (client_.state() != SmtpState::DataSent) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      client_.cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    run(join({{pause(100)}, kGreeting, kHelo, c.tail}), account(0), std::string(c.textSize, 'a'));
    canceller.join();
    EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_CANCEL_ERR)});
    // Without the cancel the stall lasts the whole 600 real steps; the bound only tells the two
    // apart, loosely enough for a loaded or sanitized run.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "the cancel ended the wait";
    server_->stop();
  }
}

TEST_F(SmtpClientTest, LostDataConnectionWhileWaiting) {
  connmgr::dropAfterQueries(2);
  CONNMGR_CONNECTIONINFO info{};
  HCONNECTION connection = nullptr;
  DWORD status = 0;
  ASSERT_EQ(ConnMgrEstablishConnectionSync(&info, &connection, 1000, &status), S_OK);
  server_ = std::make_unique<ScriptServer>(join({kGreeting, kHelo, {stall()}}));
  MailAccount a = account(server_->port());
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  client_.setAccount(&a, connection);
  client_.setMail(&mail_);
  client_.newConnection();
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(OXMDL_ERR_RAS_DISCONNECTED)});
  server_->stop();
  ConnMgrReleaseConnection(connection, 0);
}

TEST_F(SmtpClientTest, PopBeforeSmtp) {
  const Script popOk = {send("+OK POP3 ready <1896.697170952@dbc.mtview.ca.us>\r\n"), expect("USER bob\r\n"),
                        send("+OK\r\n"), expect("PASS secret2\r\n"), send("+OK logged in\r\n"), expect("QUIT \r\n"),
                        send("+OK bye\r\n")};
  const Script popApop = {send("+OK POP3 ready <1896.697170952@dbc.mtview.ca.us>\r\n"),
                          expect("APOP bob c4c9334bac560ecc979e58001b3e22fb\r\n"), send("+OK\r\n"),
                          expect("QUIT \r\n"), send("+OK bye\r\n")};
  const Script popRefused = {send("+OK POP3 ready\r\n"), expect("USER bob\r\n"), send("-ERR who\r\n")};
  struct Case {
    const char* name;
    Script pop;
    bool apop;
    std::vector<Event> events;
  } cases[] = {
      {"USER and PASS", popOk, false, {kAccepted}},
      {"APOP", popApop, true, {kAccepted}},
      {"login refused", popRefused, false, {failed(SMTP_AUTH_ERR)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_.events.clear();
    ScriptServer pop(c.pop);
    server_ = std::make_unique<ScriptServer>(
        join({kGreeting, kHelo, deliver(kWire), {expect("QUIT \r\n"), send("221 bye\r\n")}}));
    MailAccount a = account(server_->port(), 1);
    a.popServerName = L"127.0.0.1";
    a.popServerPort = pop.port();
    a.popUserName = L"bob";
    a.popPassword = c.apop ? L"tanstaaf" : L"secret2";
    a.apopEnabled = c.apop;
    a.popBeforeSmtpLatencySec = 2;
    text_ = kText;
    mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
    client_.setAccount(&a, nullptr);
    client_.setMail(&mail_);
    client_.newConnection();
    EXPECT_EQ(recorder_.events, c.events);
    client_.quit();
    pop.stop();
    EXPECT_EQ(pop.failures(), "");
    if (c.events[0] == kAccepted) finish();
    server_->stop();
  }

  // A cancel during the wait after the POP login: the SMTP server is never reached.
  recorder_.events.clear();
  setStepScale(1.0);
  ScriptServer pop(popOk);
  server_ = std::make_unique<ScriptServer>(Script{});
  MailAccount a = account(server_->port(), 1);
  a.popServerName = L"127.0.0.1";
  a.popServerPort = pop.port();
  a.popUserName = L"bob";
  a.popPassword = L"secret2";
  a.popBeforeSmtpLatencySec = 301;  // cut to 60 s
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  client_.setAccount(&a, nullptr);
  client_.setMail(&mail_);
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    client_.cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  client_.newConnection();
  canceller.join();
  EXPECT_EQ(recorder_.events, std::vector<Event>{failed(SMTP_CANCEL_ERR)});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(server_->connections(), 0);
  pop.stop();
  server_->stop();
}

}  // namespace
}  // namespace oxm::test
