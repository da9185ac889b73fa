#include "platform/net.h"

#include "platform/fault.h"
#include "tests/support/script_server.h"
#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm::net {
namespace {

using test::Script;
using NetTest = test::RootTest;

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

TEST_F(NetTest, RefusedConnectUnsecuredHandshakeAndUnopenedSocket) {
  unsigned closed = test::freePort();
  Socket socket, never;
  fault::failNth(fault::Op::Socket, 1, 0);
  EXPECT_FALSE(socket.open() || socket.isOpen());
  ASSERT_TRUE(socket.open());
  EXPECT_EQ(socket.connect("127.0.0.1", closed), kConnectFailed);
  EXPECT_EQ(socket.handshake(), kHandshakeFailed);  // not in secure mode
  EXPECT_EQ(never.connect("127.0.0.1", closed), kConnectFailed);  // never opened
  EXPECT_EQ(never.send("x", 1), -1);
}

}  // namespace
}  // namespace oxm::net
