// Dovecot, Exim and nginx for the tests (servers.h, exim.h, nginx.h), and their certificates.
#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/exim.h"
#include "tests/support/nginx.h"
#include "tests/support/testroot.h"

namespace oxm::test {

namespace fs = std::filesystem;

ServerProcess::ServerProcess(const char* prefix, size_t ports) : dir_(makeTempDir(prefix)), ports_(ports) {}

ServerProcess::~ServerProcess() {
  stop();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string ServerProcess::launch(const std::function<std::vector<std::string>()>& args, int input) {
  const std::string log = dir_ + "/start.log";
  for (int attempt = 0; attempt < 3; ++attempt) {
    for (unsigned& port : ports_) port = freePort();
    if (std::set<unsigned>(ports_.begin(), ports_.end()).size() != ports_.size()) continue;
    std::vector<std::string> words = args();
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
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
    if (pid_ < 0) break;
    if (up()) return "";
    stop();
  }
  return args()[1] + " did not start: " + readHostFile(log);
}

// Waits (at most 10 s) until every port takes connections; false when the child ends first.
bool ServerProcess::up() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    const bool accept = std::all_of(ports_.begin(), ports_.end(), [](unsigned port) {
      const int fd = loopbackSocket(&port, false);
      return fd >= 0 && ::close(fd) == 0;
    });
    if (accept) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void ServerProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

const std::string& certDir() {
  static const std::string dir = ::access(OXM_CERT_DIR "/trust-all.pem", R_OK) == 0 ? OXM_CERT_DIR : "";
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

unsigned freePort() {
  unsigned port = 0;
  const int fd = loopbackSocket(&port, true);
  return fd >= 0 && ::close(fd) == 0 ? port : 0;
}

std::unique_ptr<Dovecot> Dovecot::start(const std::string& cert, std::string* why) {
  *why = ::access("/usr/sbin/dovecot", X_OK) != 0 ? "dovecot is not installed (Debian package dovecot-pop3d)"
         : ::geteuid() != 0 ? "the Dovecot tests run as root (Dovecot switches to its own users)"
         : certDir().empty() ? "no test certificates (is openssl installed?)"
                             : "";
  if (!why->empty()) return nullptr;
  std::unique_ptr<Dovecot> server(new Dovecot);
  const std::string files = certDir() + "/" + cert;
  *why = server->launch([&] {
    return std::vector<std::string>{"/bin/bash", OXM_SOURCE_DIR "/scripts/dovecot.sh", "run", server->dir_,
                                    std::to_string(server->port()), std::to_string(server->tlsPort()),
                                    files + ".crt", files + ".key"};
  });
  return why->empty() ? std::move(server) : nullptr;
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
    fs::rename(maildir + "/tmp/" + name, maildir + "/cur/" + name);
  }
}

EximServer* EximServer::shared(std::string* whyNot) {
  static std::string failure;
  static std::unique_ptr<EximServer> server = [] {
    std::unique_ptr<EximServer> s(new EximServer);
    failure = s->start();
    return failure.empty() ? std::move(s) : nullptr;
  }();
  *whyNot = failure;
  return server.get();
}

// The script keeps Exim while its standard input, a pipe only this process holds, stays open: when
// the program ends, however it ends, the script ends the whole group.
std::string EximServer::start() {
  if (!fs::exists("/usr/sbin/exim4")) return "exim4 is not installed (Debian package exim4-daemon-light)";
  if (certDir().empty()) return "openssl is missing: no certificates";
  // Exim reads the certificate as its own user: a copy in a folder it can reach.
  fs::create_directories(dir_ + "/certs");
  fs::permissions(dir_, fs::perms(0755));
  fs::permissions(dir_ + "/certs", fs::perms(0755));
  for (const char* file : {"localhost.crt", "localhost.key"})
    fs::copy_file(certDir() + "/" + file, dir_ + "/certs/" + file, fs::copy_options::overwrite_existing);
  int feed[2];
  if (::pipe2(feed, O_CLOEXEC) != 0) return "no pipe";
  feed_ = feed[1];
  const std::string failed = launch([&] {
    std::vector<std::string> args = {"/bin/sh", OXM_SOURCE_DIR "/scripts/exim.sh", "run", dir_ + "/exim",
                                     dir_ + "/certs"};
    for (unsigned port : ports_) args.push_back(std::to_string(port));
    return args;
  }, feed[0]);
  ::close(feed[0]);
  plainPort = ports_[0], submitPort = ports_[1], strictPort = ports_[2], smtpsPort = ports_[3];
  return failed;
}

EximServer::~EximServer() {
  if (feed_ >= 0) ::close(feed_);
}

std::vector<EximDelivery> EximServer::deliveries(size_t n) {
  std::vector<EximDelivery> found;
  for (int i = 0; i < 500; ++i) {
    found.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_ + "/exim/out/new", ec)) {
      // Each file: "MAIL FROM:<a>\r\nRCPT TO:<b>\r\n\r\n" and the data.
      const std::string raw = readHostFile(entry.path().string());
      const size_t split = raw.find("\r\n\r\n");
      const size_t line = raw.find("\r\n");
      if (split == std::string::npos || line >= split) continue;
      found.push_back({raw.substr(10, line - 10), raw.substr(line + 10, split - line - 10), raw.substr(split + 4)});
    }
    if (found.size() >= n) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::sort(found.begin(), found.end(), [](const EximDelivery& a, const EximDelivery& b) {
    return std::tie(a.mailFrom, a.rcptTo, a.data) < std::tie(b.mailFrom, b.rcptTo, b.data);
  });
  return found;
}

void EximServer::clear() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_ + "/exim/out/new", ec)) fs::remove(entry.path(), ec);
}

const char* NginxServer::kNoEcho =
    "the nginx echo module is not installed (Debian package libnginx-mod-http-echo)";

std::unique_ptr<NginxServer> NginxServer::start(std::string* why) {
  if (::access("/usr/sbin/nginx", X_OK) != 0) {
    *why = "nginx is not installed (Debian package nginx)";
    return nullptr;
  }
  std::unique_ptr<NginxServer> server(new NginxServer);
  server->echo_ = ::access("/usr/lib/nginx/modules/ngx_http_echo_module.so", R_OK) == 0;
  *why = server->launch([&] {
    return std::vector<std::string>{"/bin/bash", OXM_SOURCE_DIR "/scripts/nginx.sh", "run", server->dir_,
                                    std::to_string(server->ports_[0])};
  });
  return why->empty() ? std::move(server) : nullptr;
}

void NginxServer::put(const std::string& path, const std::string& bytes) const {
  const std::string docroot = dir_ + "/www";
  const fs::path file = fs::path(docroot) / path;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  // As root the workers run as nobody: every folder on the way and the file must be readable.
  for (auto dir = file.parent_path(); dir.string().size() >= docroot.size(); dir = dir.parent_path())
    ::chmod(dir.c_str(), 0755);
  writeHostFile(file.string(), bytes);
  ::chmod(file.c_str(), 0644);
}

}  // namespace oxm::test
