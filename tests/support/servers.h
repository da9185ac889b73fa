// Real servers for the tests, run by the scripts in scripts/ on 127.0.0.1 and free ports.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oxm::test {

// The certificates of scripts/certs.sh in the build tree (NAME.crt and .key; trust-all.pem), or "".
const std::string& certDir();
// The certificate's DER bytes, read from its PEM file.
std::string certDer(const std::string& name);
// A free TCP port on 127.0.0.1 (bound and released at once).
unsigned freePort();
// A TCP socket on 127.0.0.1:*port, bound (*port 0: to a free one, written back) or connected; or -1.
int loopbackSocket(unsigned* port, bool bind);

// A server script run as a child leading its own process group, in a temporary folder of its own.
class ServerProcess {
 public:
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  const std::string& dir() const { return dir_; }

 protected:
  ServerProcess(const char* prefix, size_t ports);
  ~ServerProcess();
  // Runs the command args() names once ports_ holds distinct free ports, up to three times (a
  // port may be taken between the probe and the start), its output in dir_/start.log. With
  // `input` >= 0 that is its standard input; without, it is killed when the starting thread
  // ends. "" once every port takes connections, else why not.
  std::string launch(const std::function<std::vector<std::string>()>& args, int input = -1);
  std::string dir_;
  std::vector<unsigned> ports_;

 private:
  bool up();
  void stop();
  int pid_ = -1;
};

// Dovecot POP3: users alice/secret1 and bob/secret2, a plain and an implicit-TLS port (cert: at start).
class Dovecot : public ServerProcess {
 public:
  // Null, with the reason in *why, when dovecot or openssl is missing, not root, or not up.
  static std::unique_ptr<Dovecot> start(const std::string& cert, std::string* why);

  unsigned port() const { return ports_[0]; }
  unsigned tlsPort() const { return ports_[1]; }
  // Puts messages into the user's maildir as files (LF line ends, served with CR LF), in order:
  // message i of the mailbox is the i-th of all added so far. Safe while the server runs.
  void addMessages(const std::string& user, const std::vector<std::string>& messages);

 private:
  Dovecot() : ServerProcess("oxmdovecot", 2) {}
  int added_ = 0;
};

}  // namespace oxm::test

// In a test body: the server or a skip naming what is missing.
#define OXM_START_DOVECOT(var, cert)                           \
  std::string var##_why;                                       \
  auto var = ::oxm::test::Dovecot::start(cert, &var##_why);    \
  if (!var) GTEST_SKIP() << var##_why
