#include "platform/net.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/fault.h"
#include "tests/support/script_server.h"
#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm::net {
namespace {

using test::Script;
using NetTest = test::RootTest;

// A blocked receive ended from another thread is the clients' cancel and abort (checked there).
TEST_F(NetTest, InterruptEndsEveryWaitUntilClearedAndKeepsTheConnection) {
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
  char buf[64];
  EXPECT_EQ(waited.load(), kInterrupted);
  EXPECT_EQ(socket.waitReadable(-1), kInterrupted);
  EXPECT_EQ(socket.recv(buf, sizeof buf), -1);
  socket.clearInterrupt();
  EXPECT_EQ(socket.waitReadable(0), 0);
  EXPECT_EQ(socket.send("QUIT\r\n", 6), 6);
  EXPECT_EQ(socket.waitReadable(-1), 1);
  EXPECT_EQ(std::string(buf, std::max(0L, socket.recv(buf, sizeof buf))), "+OK bye\r\n");
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

TEST_F(NetTest, RefusedConnectUnsecuredHandshakeShutdownAndReuse) {
  unsigned closed = test::freePort();
  Socket socket, never;
  fault::failNth(fault::Op::Socket, 1, 0);
  EXPECT_FALSE(socket.open() || socket.isOpen());
  ASSERT_TRUE(socket.open());
  EXPECT_EQ(socket.connect("127.0.0.1", closed), kConnectFailed);
  EXPECT_EQ(socket.handshake(), kHandshakeFailed);  // not in secure mode
  EXPECT_EQ(never.connect("127.0.0.1", closed), kConnectFailed);  // never opened
  EXPECT_EQ(never.send("x", 1), -1);
  // After a shutdown every call fails; closed and opened again, the same object works.
  test::ScriptServer stalled(Script{test::stall()}), again(Script{test::send("hi\r\n")});
  ASSERT_TRUE(socket.open() && socket.connect("127.0.0.1", stalled.port()) == kOk);
  socket.shutdownFromOtherThread();
  EXPECT_EQ(socket.send("x", 1), -1);
  EXPECT_EQ(socket.waitReadable(0), -1);
  socket.close();
  EXPECT_FALSE(socket.isOpen());
  ASSERT_TRUE(socket.open() && socket.connect("127.0.0.1", again.port()) == kOk);
  char buf[8];
  EXPECT_EQ(socket.recv(buf, sizeof buf), 4);
}

}  // namespace
}  // namespace oxm::net
