#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/support/testroot.h"

namespace oxm::test {

namespace {

const std::string kSource = OXM_SOURCE_DIR;

bool runs(const std::string& command) { return std::system(command.c_str()) == 0; }

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

sockaddr_in loopback(unsigned port) {
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return addr;
}

}  // namespace

std::string makeTempDir(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
}

int startServerProcess(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // Dies with the thread that started it; its own process group holds the server's children.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setpgid(0, 0);
    int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid < 0 ? -1 : pid;
}

bool waitServerUp(int* pid, const std::vector<unsigned>& ports) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(*pid, &status, WNOHANG) == *pid) {
      *pid = -1;  // it ended: a port was taken, or the configuration was refused
      return false;
    }
    if (portsAccept(ports)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void stopServerProcess(int* pid) {
  if (*pid <= 0) return;
  ::kill(-*pid, SIGKILL);
  waitpid(*pid, nullptr, 0);
  *pid = -1;
}

const std::string& certDir() {
  // Made once for the build tree and shared by the test processes; a lock keeps parallel
  // tests from making them twice.
  static std::string dir;
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string cached = OXM_CERT_DIR;
    if (::access((cached + "/trust-all.pem").c_str(), R_OK) == 0) {
      dir = cached;
      return;
    }
    if (!installed("/usr/bin/openssl")) return;
    int lock = ::open((cached + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) return;
    if (::access((cached + "/trust-all.pem").c_str(), R_OK) != 0) {
      std::string made = cached + ".tmp";
      std::error_code ec;
      std::filesystem::remove_all(made, ec);
      if (runs(kSource + "/scripts/certs.sh " + made + " >/dev/null 2>&1")) {
        std::filesystem::remove_all(cached, ec);
        std::filesystem::rename(made, cached, ec);
      }
    }
    ::close(lock);
    if (::access((cached + "/trust-all.pem").c_str(), R_OK) == 0) dir = cached;
  });
  return dir;
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
  sockaddr_in addr = loopback(0);
  socklen_t len = sizeof addr;
  unsigned port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

bool portsAccept(const std::vector<unsigned>& ports) {
  bool up = true;
  for (unsigned port : ports) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(port);
    up = up && fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) ::close(fd);
  }
  return up;
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
    if (server->port_ == server->tlsPort_) continue;
    std::string script = kSource + "/scripts/dovecot.sh";
    int pid = startServerProcess({"/bin/bash", script, "run", server->dir_,
                                  std::to_string(server->port_), std::to_string(server->tlsPort_),
                                  certDir() + "/" + cert + ".crt", certDir() + "/" + cert + ".key"});
    if (pid < 0) break;
    server->pid_ = pid;
    if (waitServerUp(&server->pid_, {server->port_, server->tlsPort_})) return server;
    stopServerProcess(&server->pid_);
  }
  *why = "dovecot did not start; see " + server->dir_ + "/dovecot.log";
  return nullptr;
}

Dovecot::~Dovecot() {
  stopServerProcess(&pid_);
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

}  // namespace oxm::test
