#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "tests/support/testroot.h"

namespace oxm::test {

namespace {

const std::string kSource = OXM_SOURCE_DIR;

bool runs(const std::string& command) { return std::system(command.c_str()) == 0; }

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

std::string makeTempDir(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
}

// The certificate folder lives as long as the process.
struct CertFolder {
  std::string dir;
  ~CertFolder() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

}  // namespace

const std::string& certDir() {
  static CertFolder folder;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!installed("/usr/bin/openssl")) return;
    std::string dir = makeTempDir("oxmcerts");
    if (dir.empty()) return;
    if (runs(kSource + "/scripts/certs.sh " + dir + " >/dev/null 2>&1")) {
      folder.dir = dir;
    } else {
      std::filesystem::remove_all(dir);
    }
  });
  return folder.dir;
}

std::string certDer(const std::string& name) {
  std::string path = certDir() + "/" + name + ".crt";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return "";
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return "";
  unsigned char* der = nullptr;
  int n = i2d_X509(cert, &der);
  std::string bytes = n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)) : "";
  OPENSSL_free(der);
  X509_free(cert);
  return bytes;
}

unsigned freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  unsigned port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

std::unique_ptr<Dovecot> Dovecot::start(const std::string& cert, std::string* why) {
  if (!installed("/usr/sbin/dovecot")) {
    *why = "dovecot is not installed (Debian package dovecot-pop3d)";
    return nullptr;
  }
  if (::geteuid() != 0) {
    *why = "the Dovecot tests run as root (Dovecot switches to its own users)";
    return nullptr;
  }
  if (certDir().empty()) {
    *why = "no test certificates (is openssl installed?)";
    return nullptr;
  }
  std::unique_ptr<Dovecot> server(new Dovecot);
  server->dir_ = makeTempDir("oxmdovecot");
  if (server->dir_.empty()) {
    *why = "no temporary folder";
    return nullptr;
  }
  // Two free ports; a port taken between the probe and the start fails the start, so try again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    server->port_ = freePort();
    server->tlsPort_ = freePort();
    std::string crt = certDir() + "/" + cert + ".crt";
    std::string key = certDir() + "/" + cert + ".key";
    if (server->port_ != server->tlsPort_ &&
        runs(kSource + "/scripts/dovecot.sh start " + server->dir_ + " " + std::to_string(server->port_) +
             " " + std::to_string(server->tlsPort_) + " " + crt + " " + key + " >/dev/null 2>&1"))
      return server;
    runs(kSource + "/scripts/dovecot.sh stop " + server->dir_ + " >/dev/null 2>&1");
  }
  *why = "dovecot did not start; see " + server->dir_ + "/dovecot.log";
  return nullptr;
}

Dovecot::~Dovecot() {
  runs(kSource + "/scripts/dovecot.sh stop " + dir_ + " >/dev/null 2>&1");
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Dovecot::addMessages(const std::string& user, const std::vector<std::string>& messages) {
  struct passwd* mail = getpwnam("mail");
  uid_t uid = mail ? mail->pw_uid : 8;
  gid_t gid = mail ? mail->pw_gid : 8;
  std::string home = dir_ + "/home/" + user;
  std::string maildir = home + "/Maildir";
  for (const std::string& d : {home, maildir, maildir + "/cur", maildir + "/new", maildir + "/tmp"}) {
    ::mkdir(d.c_str(), 0700);
    if (::chown(d.c_str(), uid, gid) != 0) return;
  }
  // The leading time field orders the messages as Dovecot numbers them.
  for (const std::string& text : messages) {
    ++added_;
    std::string name = std::to_string(1600000000 + added_) + ".M" + std::to_string(added_) +
                       "P1.oxmtest,S=" + std::to_string(text.size()) + ":2,";
    std::string tmp = maildir + "/tmp/" + name;
    writeHostFile(tmp, text);
    if (::chown(tmp.c_str(), uid, gid) != 0) return;
    std::filesystem::rename(tmp, maildir + "/cur/" + name);
  }
}

int Dovecot::messageCount(const std::string& user) const {
  int count = 0;
  std::error_code ec;
  for (const char* sub : {"/cur", "/new"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/home/" + user + "/Maildir" + sub, ec)) {
      (void)entry;
      ++count;
    }
  }
  return count;
}

}  // namespace oxm::test
