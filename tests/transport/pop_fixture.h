// Shared set-up of the POP3 client tests: the transport fixture (temporary root, short steps)
// plus a notification recorder that writes every report as a short token, so that a whole
// conversation is one literal string ("K7:2,40 K0:u1 K0:u2 K4:2", "E:POP_AUTH_ERR").
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

class PopRecorder : public PopClient::NotifyPop {
 public:
  explicit PopRecorder(PopClient& client) : client_(client) {}

  bool notify(int kind, long a, long b) override {
    if (kind == 8) {
      ++progress;
      lastProgress = a;
    } else {
      if (!events.empty()) events += ' ';
      events += token(kind, a, b);
    }
    if (kind <= 2) {
      std::string text, uid;
      client_.getMail(&text, &uid);
      mails[uid] = text;
    }
    if (hook) return hook(kind, a, b);
    return true;
  }

  static std::string token(int kind, long a, long b) {
    switch (kind) {
      case 3: {
        const char* name = GetOxMiddleErrorName(static_cast<unsigned>(a));
        return std::string("E:") + (name ? name : std::to_string(a));
      }
      case 7: return "K7:" + std::to_string(a) + "," + std::to_string(b);
      case 10: return "n";
      case 0: case 1: case 2: return "K" + std::to_string(kind);
      default: return "K" + std::to_string(kind) + ":" + std::to_string(a);
    }
  }

  std::string events;
  std::map<std::string, std::string> mails;  // uid -> text
  int progress = 0;
  long lastProgress = 0;
  // Answers the notification (true when unset); may call cancel() or abort().
  std::function<bool(int, long, long)> hook;

 private:
  PopClient& client_;
};

// A greeting and a USER/PASS login as the scripted server plays it.
inline Script popLogin(const std::string& greeting = "+OK ready\r\n") {
  return {send(greeting), expect("USER alice\r\n"), send("+OK\r\n"), expect("PASS secret1\r\n"),
          send("+OK logged in\r\n")};
}

inline Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What one conversation left behind.
struct PopRun {
  std::string events;
  std::map<std::string, std::string> mails;
  std::vector<std::string> latest;  // getUidlList
  std::string lastRecvUid;
};

class PopTest : public TransportTest {
 protected:
  // One conversation of a fresh client with `a`; `hook` answers the notifications (and may
  // cancel), `list` is the download or delete list of modes 2 and 3.
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
