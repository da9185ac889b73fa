// SmtpClient against a scripted server: each authentication choice byte for byte, and the error paths.
#include <chrono>
#include <thread>

#include "tests/transport/transport_fixture.h"

namespace oxm::test {
namespace {

const char kText[] = "Subject: hi\r\n\r\nline\r\n.\r\n..two\r\nend\r\n";
// kText on the wire: lines starting with "." get one more, then CR LF "." CR LF.
const std::vector<std::string> kWire = {"Subject: hi\r\n", "\r\n", "line\r\n", "..\r\n", "...two\r\n", "end\r\n", "\r\n"};

const std::string kGreet = "S: 220 test ESMTP\n", kHelo = "E: HELO OxMail\nS: 250 hello\n",
                  kEhloAuth = "E: EHLO OxMail\nS: 250-test\\r\\n250-AUTH PLAIN LOGIN CRAM-MD5\\r\\n250 HELP\n",
                  kLogin = "E: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nE: YWxpY2U=\nS: 334 UGFzc3dvcmQ6\nE: c2VjcmV0MQ==\n",
                  kMailFrom = "E: MAIL FROM: <me@example.jp>\nS: 250 OK\n",
                  kMailRcpt = kMailFrom + "E: RCPT TO: <you@example.jp>\nS: 250 OK\n",
                  kQuitAfterError = "E: QUIT\nEXPECT-CLOSE\n";
const Script kQuit = parseScript("E: QUIT \nS: 221 bye");

// The server side of an accepted message from MAIL FROM on: one recipient, the text lines.
Script deliver(const std::vector<std::string>& textLines = kWire, const char* dataEnd = "250 queued\r\n") {
  Script s = parseScript(kMailRcpt + "E: DATA\nS: 354 go ahead");
  for (const std::string& line : textLines) s.push_back(expect(line));
  s.push_back(expect(".\r\n"));
  s.push_back(send(dataEnd));
  return s;
}

class SmtpClientTest : public SmtpTest {
 protected:
  // Runs newConnection of `a` (port 0: the server's; 587 is redirected to it) against `script`.
  void run(Script script, MailAccount a, std::string text = kText, std::list<std::string> rcpts = {"you@example.jp"}) {
    server_ = std::make_unique<ScriptServer>(std::move(script));
    net::setPortRedirect(587, server_->port());
    if (!a.smtpServerPort) a.smtpServerPort = server_->port();
    sendMail(a, std::move(text), std::move(rcpts), "me@example.jp");
  }
  // The server must have seen exactly its script.
  void finish() {
    server_->stop();
    EXPECT_EQ(server_->failures(), "");
  }
};

// Each way to an accepted message, with its exact lines; after QUIT the client is closed.
TEST_F(SmtpClientTest, AuthenticationChoices) {
  const struct {
    const char* name;
    unsigned method;
    std::string auth;  // after the greeting, through the reply that precedes MAIL FROM
  } cases[] = {
      {"LOGIN chosen when CRAM-MD5 is not offered", 2,
       "E: EHLO OxMail\nS: 250-test\\r\\n250 AUTH LOGIN PLAIN\n" + kLogin + "S: 235 ok\n"},
      {"auto against PLAIN only", 2, "E: EHLO OxMail\nS: 250-test\\r\\n250 AUTH PLAIN\nE: HELO nimbus\nS: 250 hi\n"},
      {"EHLO refused: HELO, no authentication", 2, "E: EHLO OxMail\nS: 502 no\nE: HELO OxMail\nS: 250 hi\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run(parseScript(kGreet + c.auth) + deliver() + kQuit, account(0, c.method));
    EXPECT_EQ(recorder_.events, kAccepted);
    EXPECT_EQ(client_.state(), SmtpState::Accepted);
    client_.quit();
    EXPECT_EQ(client_.state(), SmtpState::Closed);
    ASSERT_TRUE(server_->waitDone(5000));
    finish();
  }
}

// With the protocol log on (its file exists) the AUTH LOGIN answers are masked; every reply
// comes a byte at a time.
TEST_F(SmtpClientTest, ProtocolLogMasksTheAuthAnswers) {
  const std::string file = switchOnProtocolLog();
  SmtpClient logged;  // the log is switched on when the client is made
  logged.registerNotifySmtp(&recorder_);
  Script script = parseScript(kGreet + kEhloAuth + kLogin + "S: 235 ok") + deliver();
  for (Step& step : script) {
    if (step.kind == Step::Send) step.piece = step.ms = 1;
  }
  server_ = std::make_unique<ScriptServer>(std::move(script));
  MailAccount a = account(server_->port(), 4);
  text_ = kText;
  mail_ = {"me@example.jp", {"you@example.jp"}, &text_};
  logged.setAccount(&a, nullptr);
  logged.setMail(&mail_);
  logged.newConnection();
  EXPECT_EQ(recorder_.events, kAccepted);
  const std::string log = readHostFile(file);
  for (const char* line : {"*** Smtp Protocol Start ", "-[IN (16)]220 test ESMTP\r\n", "-[OUT(12)]AUTH LOGIN\r\n",
                           "-[OUT(10)]********\r\n", "-[OUT(14)]************\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
  }
  finish();
}

// Every failure: the code, and QUIT sent first unless the connection itself failed.
TEST_F(SmtpClientTest, ErrorPathsEndWithTheirCode) {
  const std::string endless(70000, 'x');
  const struct {
    const char* name;
    unsigned method;
    Script script;
    unsigned code;
    std::list<std::string> rcpts = {"you@example.jp"};
    unsigned port = 0;
  } cases[] = {
      {"5xx on MAIL FROM", 0,
       parseScript(kGreet + kHelo + "E: MAIL FROM: <me@example.jp>\nS: 553 no such sender\n" + kQuitAfterError),
       SMTP_ADDRESS_ERR},
      {"5xx on the second RCPT of three", 0,
       parseScript(kGreet + kHelo + kMailFrom + "E: RCPT TO: <a@example.jp>\nS: 250 OK\n"
                                                "E: RCPT TO: <b@example.jp>\nS: 550 unknown user\n" + kQuitAfterError),
       SMTP_ADDRESS_ERR, {"a@example.jp", "b@example.jp", "c@example.jp"}},
      {"a recipient with CR LF is never sent", 0, parseScript(kGreet + kHelo + kMailFrom + kQuitAfterError),
       SMTP_ADDRESS_ERR, {"x@example.jp>\r\nRSET\r\nRCPT TO: <y@example.jp"}},
      {"greeting without a code", 0, parseScript("S: hello there\n" + kQuitAfterError), SMTP_RESPONSE_ERR},
      {"endless multi-line EHLO reply", 2,
       parseScript(kGreet + "E: EHLO OxMail\nS: 250-" + endless + "\n" + kQuitAfterError), SMTP_RESPONSE_ERR},
      {"CRAM-MD5 forced, not offered", 3,
       parseScript(kGreet + "E: EHLO OxMail\nS: 250-test\\r\\n250 AUTH PLAIN\n" + kQuitAfterError), SMTP_AUTH_METHOD_ERR},
      {"challenge that is not Base64", 3,
       parseScript(kGreet + kEhloAuth + "E: AUTH CRAM-MD5\nS: 334 <not base64>\nE: *\nS: 501 cancelled\n" +
                   kQuitAfterError),
       SMTP_AUTH_UNAVAILABLE_ERR},
      {"server closes mid-DATA", 0,
       parseScript(kGreet + kHelo + kMailRcpt + "E: DATA\nS: 354 go\nE: Subject: hi\nCLOSE"), SMTP_SEND_ERR},
      {"server stalls after the text", 0, parseScript(kGreet + kHelo) + deliver(kWire, "") + Script{stall()},
       SMTP_TIMEOUT_ERR},
      // The offer in the first of two reads: the reply is read on, not started again.
      {"STARTTLS offered in a reply read in two parts, and refused", 4,
       parseScript(kGreet + "E: EHLO OxMail_1\nS: 250-STARTTLS\\r\\n\\\nP: 300\nS: 250 AUTH LOGIN\nE: STARTTLS\n" +
                   "S: 454 TLS not available\n" + kQuitAfterError),
       SMTP_AUTH_ERR, {"you@example.jp"}, 587},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run(c.script, account(c.port, c.method), kText, c.rcpts);
    EXPECT_EQ(recorder_.events, failed(c.code));
    client_.quit();  // nothing to do after a failure
    finish();
  }

  // No server name: nothing happens at all.
  sendMail(MailAccount(), kText, {"you@example.jp"}, "me@example.jp");
  EXPECT_EQ(client_.state(), SmtpState::Closed);
  EXPECT_TRUE(recorder_.events.empty());
}

// A "334" after the text still counts as accepted; the next message then has no place.
TEST_F(SmtpClientTest, SeveralMessagesOnOneConnection) {
  std::string second = "Subject: 2\r\n\r\nno final line end";
  run(parseScript(kGreet + kHelo) + deliver() +
          deliver({"Subject: 2\r\n", "\r\n", "no final line end\r\n"}, "334 odd\r\n") + kQuit,
      account(0));
  ASSERT_EQ(recorder_.events, kAccepted);
  RawEmail_S next{"me@example.jp", {"you@example.jp"}, &second};
  client_.setMail(&next);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events, (Events{{0, 0}, {0, 0}}));
  EXPECT_EQ(client_.state(), SmtpState::Accepted334);
  client_.sendEmail();
  EXPECT_EQ(recorder_.events.back(), failed(SMTP_SEQUENCE_ERR)[0]);
  client_.quit();
  ASSERT_TRUE(server_->waitDone(5000));
  finish();
}

// Cancel while the reply to DATA is kept back, and while the text blocks the send.
TEST_F(SmtpClientTest, CancelDuringTheWaitAndDuringData) {
  const std::pair<const char*, size_t> cases[] = {{"E: DATA\nSTALL", 100}, {"E: DATA\nS: 354 go\nP: 1500", 32 << 20}};
  setStepScale(1.0);  // real steps: only the cancel may end the wait
  for (const auto& [tail, textSize] : cases) {
    SCOPED_TRACE(tail);
    server_.reset();  // the previous case's server, before the clock starts
    std::thread canceller([this] {
      while (client_.state() != SmtpState::Greeting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      while (client_.state() != SmtpState::DataSent) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      client_.cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    run(parseScript("P: 100\n" + kGreet + kHelo + kMailRcpt + tail), account(0), std::string(textSize, 'a'));
    canceller.join();
    EXPECT_EQ(recorder_.events, failed(SMTP_CANCEL_ERR));
    // Without the cancel the stall lasts 600 real steps; the bound only tells the two apart.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "the cancel ended the wait";
    server_->stop();
  }
}

}  // namespace
}  // namespace oxm::test
