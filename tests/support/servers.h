// Real servers and their certificates for the tests, made by the scripts in scripts/ in a
// temporary folder on 127.0.0.1 and free high ports.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oxm::test {

// The folder of the certificates of scripts/certs.sh (localhost, wronghost, expired, trailing
// with .crt and .key, trust-all.pem), made once in the build tree; "" when openssl is missing.
const std::string& certDir();
// The certificate's DER bytes, read from its PEM file.
std::string certDer(const std::string& name);
// A free TCP port on 127.0.0.1 (bound and released at once).
unsigned freePort();

// Runs args[0] (a path) as a child leading its own process group, its output appended to `log`.
// With `input` >= 0 that descriptor is its standard input; without, it is killed when the thread
// that started it ends. The pid or -1.
int startServerProcess(std::vector<std::string> args, const std::string& log = "/dev/null", int input = -1);
// Waits (at most 10 s) until every port takes connections; false when the time runs out or the
// child ends first (*pid then becomes -1).
bool waitServerUp(int* pid, const std::vector<unsigned>& ports);
// Starts the process `spawn` makes for n distinct free ports, up to three times (a port taken
// between the probe and the start fails the start); true once every port is up.
bool startOnFreePorts(size_t n, const std::function<int(const std::vector<unsigned>&)>& spawn, int* pid,
                      std::vector<unsigned>* ports);
// Kills that process group and reaps the child; *pid becomes -1. Nothing when *pid <= 0.
void stopServerProcess(int* pid);

// One Dovecot POP3 server in its own temporary folder: the users alice/secret1 and bob/secret2
// (maildir), a plain port and an implicit-TLS port with the certificate named at start. It is
// killed when the thread that started it ends; the destructor stops it and removes the folder.
class Dovecot {
 public:
  // Null, with the reason in *why, when dovecot or openssl is missing, the tests do not run
  // as root, or the server does not come up.
  static std::unique_ptr<Dovecot> start(const std::string& cert, std::string* why);
  ~Dovecot();
  Dovecot(const Dovecot&) = delete;
  Dovecot& operator=(const Dovecot&) = delete;

  unsigned port() const { return ports_[0]; }
  unsigned tlsPort() const { return ports_[1]; }
  const std::string& dir() const { return dir_; }
  // Puts messages into the user's maildir as files (LF line ends, served with CR LF), in order:
  // message i of the mailbox is the i-th of all added so far. Safe while the server runs.
  void addMessages(const std::string& user, const std::vector<std::string>& messages);

 private:
  Dovecot() = default;
  std::string dir_;
  std::vector<unsigned> ports_{0, 0};
  int added_ = 0;
  int pid_ = -1;  // the server's process, leader of its process group
};

}  // namespace oxm::test

// In a test body: the server or a skip naming what is missing.
#define OXM_START_DOVECOT(var, cert)                           \
  std::string var##_why;                                       \
  auto var = ::oxm::test::Dovecot::start(cert, &var##_why);    \
  if (!var) GTEST_SKIP() << var##_why
