#include "platform/net.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/fault.h"
#include "tests/support/script_server.h"
#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm::net {
namespace {

using test::Script;
using NetTest = test::RootTest;

TEST_F(NetTest, InterruptEndsWaitsAndKeepsTheConnection) {
  test::ScriptServer server(Script{test::expect("QUIT\r\n"), test::send("+OK bye\r\n"), test::expectClose()});
  Socket socket;
  ASSERT_TRUE(socket.open() && socket.connect("127.0.0.1", server.port()) == kOk);
  std::atomic<int> waited{99};
  std::thread reader([&] { waited = socket.waitReadable(-1); });
  while (waited.load() == 99) {
    socket.interrupt();
    std::this_thread::yield();
  }
  reader.join();
  EXPECT_EQ(waited.load(), kInterrupted);
  // Every wait ends until the interruption is cleared; the connection is still usable.
  char buf[64];
  EXPECT_EQ(socket.waitReadable(-1), kInterrupted);
  EXPECT_EQ(socket.recv(buf, sizeof buf), -1);
  socket.clearInterrupt();
  EXPECT_EQ(socket.waitReadable(0), 0);
  EXPECT_EQ(socket.send("QUIT\r\n", 6), 6);
  EXPECT_EQ(socket.waitReadable(-1), 1);
  EXPECT_EQ(std::string(buf, std::max(0L, socket.recv(buf, sizeof buf))), "+OK bye\r\n");
}

TEST_F(NetTest, ShutdownFromAnotherThreadEndsABlockedReceive) {
  test::ScriptServer server(Script{test::stall()});
  Socket socket;
  ASSERT_TRUE(socket.open() && socket.connect("127.0.0.1", server.port()) == kOk);
  std::atomic<long> got{99};
  std::thread reader([&] {
    char buf[16];
    got = socket.recv(buf, sizeof buf);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it block in recv
  socket.shutdownFromOtherThread();
  reader.join();
  EXPECT_EQ(got.load(), -1);
  EXPECT_EQ(socket.send("x", 1), -1);
  EXPECT_EQ(socket.waitReadable(0), -1);
  socket.close();
  EXPECT_FALSE(socket.isOpen());
  test::ScriptServer again(Script{test::send("hi\r\n")});
  ASSERT_TRUE(socket.open() && socket.connect("127.0.0.1", again.port()) == kOk) << "the same object again";
  char buf[8];
  EXPECT_EQ(socket.recv(buf, sizeof buf), 4);
}

// Writing to a peer that has gone fails; the process gets no SIGPIPE (plain and TLS).
TEST_F(NetTest, SendingToAClosedPeerFailsQuietly) {
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "tls" : "plain");
    if (tls && test::certDir().empty()) GTEST_SKIP() << "no test certificates (openssl missing)";
    test::TlsFiles files;
    if (tls) files = {test::certDir() + "/localhost.crt", test::certDir() + "/localhost.key", true};
    test::ScriptServer server(Script{test::send("bye\r\n")}, files);
    Socket socket;
    ASSERT_TRUE(socket.open());
    if (tls) socket.setSecure("localhost", nullptr, false);
    ASSERT_EQ(socket.connect("127.0.0.1", server.port()), kOk);
    char buf[16];
    EXPECT_EQ(socket.waitReadable(-1), 1);
    EXPECT_EQ(socket.recv(buf, sizeof buf), 5);
    ASSERT_TRUE(server.waitDone());
    std::string block(64 * 1024, 'x');
    long sent = 0;
    for (int i = 0; i < 100 && sent >= 0; ++i) sent = socket.send(block.data(), block.size());
    EXPECT_EQ(sent, -1);
    EXPECT_LE(socket.recv(buf, sizeof buf), 0);
  }
}

TEST_F(NetTest, RefusedConnectAndUnsecuredHandshake) {
  unsigned closed = test::freePort();
  Socket socket;
  fault::failNth(fault::Op::Socket, 1, 0);
  EXPECT_FALSE(socket.open());
  EXPECT_FALSE(socket.isOpen());
  ASSERT_TRUE(socket.open());
  EXPECT_EQ(socket.connect("127.0.0.1", closed), kConnectFailed);
  EXPECT_EQ(socket.handshake(), kHandshakeFailed);  // not in secure mode
  Socket never;
  EXPECT_EQ(never.connect("127.0.0.1", closed), kConnectFailed);  // never opened
  EXPECT_EQ(never.send("x", 1), -1);
}

}  // namespace
}  // namespace oxm::net
