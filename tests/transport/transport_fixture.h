// The transport tests' set-up: short steps, the emulated Connection Manager, a scripted server,
// the POP3 and SMTP clients' sides.
#pragma once

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/oxerror.h"
#include "platform/connmgr.h"
#include "platform/fault.h"
#include "platform/net.h"
#include "platform/worker.h"
#include "tests/support/script_server.h"
#include "tests/support/testroot.h"
#include "transport/pop_client.h"
#include "transport/smtp_client.h"

namespace oxm::test {

inline Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Short steps (600 in 0.6 s) and a fresh Connection Manager for the life of a fixture.
struct ShortSteps {
  ShortSteps() {
    setStepScale(0.001);
    connmgr::reset();
  }
  ~ShortSteps() {
    setStepScale(1.0);
    connmgr::reset();
  }
};

// An emulated data connection; `dropAfter` > 0 drops it after that many status queries.
inline HCONNECTION openConnection(int dropAfter = 0) {
  if (dropAfter) connmgr::dropAfterQueries(dropAfter);
  CONNMGR_CONNECTIONINFO info{};
  info.cbSize = 64;
  HCONNECTION handle = nullptr;
  DWORD status = 0;
  EXPECT_EQ(ConnMgrEstablishConnectionSync(&info, &handle, 30000, &status), S_OK);
  return handle;
}

// A listener of the SMTP client or the sender that keeps each report as (kind, code).
using Events = std::vector<std::pair<int, unsigned>>;
template <typename Listener>
struct EventRecorder : Listener {
  Events events;
  bool notify(int kind, long a, long) override {
    events.emplace_back(kind, static_cast<unsigned>(a));
    return true;
  }
  int count(int kind, unsigned code = 0) const {
    return static_cast<int>(std::count(events.begin(), events.end(), std::make_pair(kind, code)));
  }
};

class TransportTest : public RootTest {
 protected:
  // Starts the server and connects `socket` to it.
  void serve(std::vector<Script> scripts) {
    server_ = std::make_unique<ScriptServer>(std::move(scripts));
    ASSERT_TRUE(socket_.open());
    ASSERT_EQ(socket_.connect("127.0.0.1", server_->port()), net::kOk);
  }

  ShortSteps steps_;
  std::unique_ptr<ScriptServer> server_;
  net::Socket socket_;
};

// POP3 reports as tokens, a conversation as one literal ("K7:2,40 n K0 K4:1"): "C" phase, "n"
// before a message, "K0/1/2" saved whole / in part / header only, "E:NAME[,b]" an error.
inline std::string notifyToken(unsigned kind, long a, long b) {
  switch (kind) {
    case 3: {
      const char* name = GetOxMiddleErrorName(static_cast<unsigned>(a));
      return std::string("E:") + (name ? name : std::to_string(a)) + (b ? "," + std::to_string(b) : "");
    }
    case 7: return "K7:" + std::to_string(a) + "," + std::to_string(b);
    case 10: return "n";
    case 11: return "C" + std::to_string(a);
    case 0: case 1: case 2: return "K" + std::to_string(kind);
    default: return "K" + std::to_string(kind) + ":" + std::to_string(a);
  }
}

// Progress (kind 8) is left out; a delivered message is kept by its UID.
class PopRecorder : public PopClient::NotifyPop {
 public:
  explicit PopRecorder(PopClient& client) : client_(client) {}
  bool notify(int kind, long a, long b) override {
    if (kind != 8) events += (events.empty() ? "" : " ") + notifyToken(kind, a, b);
    if (kind <= 2) {
      std::string text, uid;
      client_.getMail(&text, &uid);
      mails[uid] = text;
    }
    return hook ? hook(kind, a, b) : true;
  }

  std::string events;
  std::map<std::string, std::string> mails;  // uid -> text
  std::function<bool(int, long, long)> hook;  // may call cancel() or abort()

 private:
  PopClient& client_;
};

// The server's side of one command: the line it expects and its reply.
inline Script ask(const std::string& command, const std::string& reply) {
  return {expect(command + "\r\n"), send(reply)};
}
inline Script popLogin() {
  return Script{send("+OK ready\r\n")} + ask("USER alice", "+OK\r\n") + ask("PASS secret1", "+OK logged in\r\n");
}
inline Script uidl(const std::string& lines) { return ask("UIDL", "+OK\r\n" + lines + ".\r\n"); }
inline Script stat(long count, long bytes) {
  return ask("STAT", "+OK " + std::to_string(count) + " " + std::to_string(bytes) + "\r\n");
}
inline Script list(const std::string& n, long bytes) {
  return ask("LIST " + n, "+OK " + n + " " + std::to_string(bytes) + "\r\n");
}
// LIST n, then RETR n (or `command`) answered with `text` and the terminator.
inline Script fetch(const std::string& n, long size, const std::string& text, const std::string& command = "") {
  return list(n, size) + ask(command.empty() ? "RETR " + n : command, "+OK\r\n" + text + ".\r\n");
}
inline Script lastUidl(const std::string& n, const std::string& uid) {
  return ask("UIDL " + n, "+OK " + n + " " + uid + "\r\n");
}
inline Script quit(const std::string& reply = "+OK bye\r\n") { return ask("QUIT", reply); }

struct PopRun {
  std::string events;
  std::map<std::string, std::string> mails;
  std::vector<std::string> latest;  // getUidlList
  std::string lastRecvUid;
};

class PopTest : public TransportTest {
 protected:
  // One conversation of a fresh client; `hook` answers the reports, `list` selects (modes 2, 3).
  PopRun converse(MailAccount a, int mode = 0, std::list<std::string> list = {},
                  std::function<bool(PopClient&, int, long, long)> hook = {}, void* connection = nullptr) {
    PopClient client;
    PopRecorder recorder(client);
    if (hook) recorder.hook = [&](int kind, long x, long y) { return hook(client, kind, x, y); };
    EXPECT_TRUE(client.registerNotifyPop(&recorder));
    client.setAccount(&a, connection);
    client.setPopMode(mode);
    if (!list.empty()) client.setDownloadList(list);
    client.newConnection();
    PopRun run{recorder.events, recorder.mails, {}, client.getLastRecvUid()};
    std::list<std::wstring> latest;
    client.getUidlList(latest);
    for (const std::wstring& uid : latest) run.latest.emplace_back(uid.begin(), uid.end());
    return run;
  }

  MailAccount account(unsigned port) {
    MailAccount a;
    a.popUserName = L"alice";
    a.popPassword = L"secret1";
    a.popServerName = L"127.0.0.1";
    a.popServerPort = port;
    a.partialLines = 2;
    return a;
  }
};

const Events kAccepted = {{0, 0}};
inline Events failed(unsigned code) { return {{1, code}}; }

// The SMTP client with a recorder of its reports.
class SmtpTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    client_.registerNotifySmtp(&recorder_);
  }
  void TearDown() override {
    net::setPortRedirect(465, 0);
    net::setPortRedirect(587, 0);
    TransportTest::TearDown();
  }

  MailAccount account(unsigned port, unsigned method = 0, const wchar_t* password = L"secret1") {
    MailAccount a;
    a.smtpServerName = L"127.0.0.1";
    a.smtpServerPort = port;
    a.smtpAuthMethod = method;
    a.smtpUserName = L"alice";
    a.smtpPassword = password;
    return a;
  }

  // A new conversation of `a` that sends `text`; the reports start afresh.
  void sendMail(MailAccount a, std::string text, std::list<std::string> rcpts, std::string from) {
    recorder_.events.clear();
    text_ = std::move(text);
    mail_ = {std::move(from), std::move(rcpts), &text_};
    client_.setAccount(&a, nullptr);
    client_.setMail(&mail_);
    client_.newConnection();
  }

  EventRecorder<SmtpClient::NotifySmtp> recorder_;
  SmtpClient client_;
  RawEmail_S mail_;
  std::string text_;
};

}  // namespace oxm::test
