// Real servers and their certificates for the transport tests, made by the scripts in
// scripts/ in a temporary folder on 127.0.0.1 and free high ports. A test that needs a tool
// that is not installed skips with a message that names it.
#pragma once

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
// Whether every one of the ports on 127.0.0.1 takes a connection now.
bool portsAccept(const std::vector<unsigned>& ports);

// One Dovecot POP3 server in its own temporary folder: the users alice/secret1 and
// bob/secret2 (maildir), a plain port and an implicit-TLS port with the certificate named at
// start ("localhost", "wronghost" or "expired"). It runs as a child of the thread that starts
// it and is killed when that thread or the process ends, however it ends; the destructor stops
// it and removes the folder.
class Dovecot {
 public:
  // Null, with the reason in *why, when dovecot or openssl is missing, the tests do not run
  // as root (Dovecot switches to its own users), or the server does not come up.
  static std::unique_ptr<Dovecot> start(const std::string& cert, std::string* why);
  ~Dovecot();
  Dovecot(const Dovecot&) = delete;
  Dovecot& operator=(const Dovecot&) = delete;

  unsigned port() const { return port_; }
  unsigned tlsPort() const { return tlsPort_; }
  const std::string& dir() const { return dir_; }
  // Puts messages into the user's maildir as files (LF line ends, served with CR LF), in order:
  // message i of the mailbox is the i-th of all added so far. Safe while the server runs.
  void addMessages(const std::string& user, const std::vector<std::string>& messages);
  // The files of the user's maildir (cur and new), for tests that check what the server kept.
  int messageCount(const std::string& user) const;

 private:
  Dovecot() = default;
  bool waitUp();
  void kill();
  std::string dir_;
  unsigned port_ = 0;
  unsigned tlsPort_ = 0;
  int added_ = 0;
  int pid_ = -1;  // the server's process, leader of its process group
};

}  // namespace oxm::test

// In a test body: the server or a skip naming what is missing.
#define OXM_START_DOVECOT(var, cert)                           \
  std::string var##_why;                                       \
  auto var = ::oxm::test::Dovecot::start(cert, &var##_why);    \
  if (!var) GTEST_SKIP() << var##_why
