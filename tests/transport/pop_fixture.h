// The POP3 tests' set-up: the server's side of the commands, and a recorder that writes every
// report as a short token, so that a conversation is one literal ("K7:2,40 n K0 K4:1").
#pragma once

#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "tests/transport/transport_fixture.h"
#include "transport/pop_client.h"

namespace oxm::test {

// "C<a>" connection phase, "K7:count,size", "n" before a message, "K0" "K1" "K2" saved whole / in
// part / header only, "E:NAME" an error (",b" when b is not 0), "K<kind>:a" the others.
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
  // One conversation of a fresh client; `hook` answers the reports, `list` is the selection of
  // modes 2 and 3.
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

}  // namespace oxm::test
