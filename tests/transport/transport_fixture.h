// The transport tests' set-up: a temporary root, short steps, a fresh emulated Connection
// Manager, and a client socket connected to a scripted server.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/connmgr.h"
#include "platform/fault.h"
#include "platform/net.h"
#include "platform/worker.h"
#include "tests/support/script_server.h"
#include "tests/support/testroot.h"

namespace oxm::test {

inline Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
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
  void SetUp() override {
    RootTest::SetUp();
    setStepScale(0.001);  // 600 steps in 0.6 s
    connmgr::reset();
  }
  void TearDown() override {
    setStepScale(1.0);
    connmgr::reset();
    RootTest::TearDown();
  }

  // Starts the server and connects `socket` to it.
  void serve(std::vector<Script> scripts) {
    server_ = std::make_unique<ScriptServer>(std::move(scripts));
    ASSERT_TRUE(socket_.open());
    ASSERT_EQ(socket_.connect("127.0.0.1", server_->port()), net::kOk);
  }

  std::unique_ptr<ScriptServer> server_;
  net::Socket socket_;
};

}  // namespace oxm::test
