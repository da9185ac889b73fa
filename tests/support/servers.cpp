#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "tests/support/testroot.h"

namespace oxm::test {

namespace {

const std::string kSource = OXM_SOURCE_DIR;

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

// A TCP socket on 127.0.0.1:port that is bound (`bind`) or connected; -1 when that fails.
int loopbackSocket(unsigned* port, bool bind) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(*port));
  socklen_t len = sizeof addr;
  auto* sa = reinterpret_cast<sockaddr*>(&addr);
  if (fd >= 0 && (bind ? ::bind(fd, sa, len) == 0 && ::getsockname(fd, sa, &len) == 0
                      : ::connect(fd, sa, len) == 0)) {
    *port = ntohs(addr.sin_port);
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

bool portsAccept(const std::vector<unsigned>& ports) {
  for (unsigned port : ports) {
    const int fd = loopbackSocket(&port, false);
    if (fd < 0) return false;
    ::close(fd);
  }
  return true;
}

}  // namespace

int startServerProcess(std::vector<std::string> args, const std::string& log, int input) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (input >= 0)
      ::dup2(input, 0);
    else
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setpgid(0, 0);  // its own process group holds the server's children
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid < 0 ? -1 : pid;
}

bool waitServerUp(int* pid, const std::vector<unsigned>& ports) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    if (::waitpid(*pid, nullptr, WNOHANG) == *pid) {
      *pid = -1;  // it ended: a port was taken, or the configuration was refused
      return false;
    }
    if (portsAccept(ports)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool startOnFreePorts(size_t n, const std::function<int(const std::vector<unsigned>&)>& spawn, int* pid,
                      std::vector<unsigned>* ports) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    ports->clear();
    for (size_t i = 0; i < n; ++i) ports->push_back(freePort());
    if (std::set<unsigned>(ports->begin(), ports->end()).size() != n) continue;
    if ((*pid = spawn(*ports)) < 0) return false;
    if (waitServerUp(pid, *ports)) return true;
    stopServerProcess(pid);
  }
  return false;
}

void stopServerProcess(int* pid) {
  if (*pid <= 0) return;
  ::kill(-*pid, SIGKILL);
  ::waitpid(*pid, nullptr, 0);
  *pid = -1;
}

const std::string& certDir() {
  // Made once for the build tree and shared by the test processes; a lock keeps parallel
  // tests from making them twice.
  static std::string dir;
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string cached = OXM_CERT_DIR;
    auto made = [&] { return ::access((cached + "/trust-all.pem").c_str(), R_OK) == 0; };
    if (!made() && installed("/usr/bin/openssl")) {
      const int lock = ::open((cached + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
      if (lock < 0 || ::flock(lock, LOCK_EX) != 0) return;
      std::error_code ec;
      if (!made()) {
        std::filesystem::remove_all(cached + ".tmp", ec);
        if (std::system((kSource + "/scripts/certs.sh " + cached + ".tmp >/dev/null 2>&1").c_str()) == 0) {
          std::filesystem::remove_all(cached, ec);
          std::filesystem::rename(cached + ".tmp", cached, ec);
        }
      }
      ::close(lock);
    }
    if (made()) dir = cached;
  });
  return dir;
}

std::string certDer(const std::string& name) {
  FILE* f = std::fopen((certDir() + "/" + name + ".crt").c_str(), "r");
  if (!f) return "";
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return "";
  unsigned char* der = nullptr;
  const int n = i2d_X509(cert, &der);
  std::string bytes = n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)) : "";
  OPENSSL_free(der);
  X509_free(cert);
  return bytes;
}

unsigned freePort() {
  unsigned port = 0;
  const int fd = loopbackSocket(&port, true);
  if (fd < 0) return 0;
  ::close(fd);
  return port;
}

std::unique_ptr<Dovecot> Dovecot::start(const std::string& cert, std::string* why) {
  *why = !installed("/usr/sbin/dovecot") ? "dovecot is not installed (Debian package dovecot-pop3d)"
         : ::geteuid() != 0 ? "the Dovecot tests run as root (Dovecot switches to its own users)"
         : certDir().empty() ? "no test certificates (is openssl installed?)"
                             : "";
  if (!why->empty()) return nullptr;
  std::unique_ptr<Dovecot> server(new Dovecot);
  server->dir_ = makeTempDir("oxmdovecot");
  const std::string files = certDir() + "/" + cert;
  auto spawn = [&](const std::vector<unsigned>& ports) {
    return startServerProcess({"/bin/bash", kSource + "/scripts/dovecot.sh", "run", server->dir_,
                               std::to_string(ports[0]), std::to_string(ports[1]), files + ".crt", files + ".key"});
  };
  if (startOnFreePorts(2, spawn, &server->pid_, &server->ports_)) return server;
  *why = "dovecot did not start; see " + server->dir_ + "/dovecot.log";
  return nullptr;
}

Dovecot::~Dovecot() {
  stopServerProcess(&pid_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Dovecot::addMessages(const std::string& user, const std::vector<std::string>& messages) {
  const struct passwd* mail = ::getpwnam("mail");
  const uid_t uid = mail ? mail->pw_uid : 8;
  const gid_t gid = mail ? mail->pw_gid : 8;
  const std::string home = dir_ + "/home/" + user, maildir = home + "/Maildir";
  for (const std::string& d : {home, maildir, maildir + "/cur", maildir + "/new", maildir + "/tmp"}) {
    ::mkdir(d.c_str(), 0700);
    if (::chown(d.c_str(), uid, gid) != 0) return;
  }
  // The leading time field orders the messages as Dovecot numbers them.
  for (const std::string& text : messages) {
    ++added_;
    const std::string name = std::to_string(1600000000 + added_) + ".M" + std::to_string(added_) +
                             "P1.oxmtest,S=" + std::to_string(text.size()) + ":2,";
    writeHostFile(maildir + "/tmp/" + name, text);
    if (::chown((maildir + "/tmp/" + name).c_str(), uid, gid) != 0) return;
    std::filesystem::rename(maildir + "/tmp/" + name, maildir + "/cur/" + name);
  }
}

}  // namespace oxm::test
