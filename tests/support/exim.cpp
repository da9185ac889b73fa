#include "tests/support/exim.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/servers.h"
#include "tests/support/testroot.h"

namespace oxm::test {

namespace fs = std::filesystem;

EximServer* EximServer::shared(std::string* whyNot) {
  static std::unique_ptr<EximServer> server;
  static std::string failure;
  static bool tried = false;
  if (tried) {
    *whyNot = failure;
    return server.get();
  }
  tried = true;
  if (!fs::exists("/usr/sbin/exim4")) {
    *whyNot = failure = "exim4 is not installed (Debian package exim4-daemon-light)";
    return nullptr;
  }
  std::unique_ptr<EximServer> s(new EximServer);
  s->dir_ = makeTempDir("oxmexim");
  fs::create_directories(s->dir_ + "/certs");
  fs::permissions(s->dir_, fs::perms(0755));
  fs::permissions(s->dir_ + "/certs", fs::perms(0755));
  const std::string log = s->dir_ + "/start.log";
  // Exim reads the certificate as its own user: a copy in a folder it can reach.
  if (certDir().empty()) {
    *whyNot = failure = "openssl is missing: no certificates";
    return nullptr;
  }
  for (const char* file : {"localhost.crt", "localhost.key"}) {
    fs::copy_file(certDir() + "/" + file, s->dir_ + "/certs/" + file, fs::copy_options::overwrite_existing);
  }
  s->plainPort = freePort();
  s->submitPort = freePort();
  s->strictPort = freePort();
  s->smtpsPort = freePort();
  if (!s->run(std::string(OXM_SOURCE_DIR) + "/scripts/exim.sh", log)) {
    *whyNot = failure = "Exim did not start: " + readHostFile(log);
    return nullptr;
  }
  server = std::move(s);
  return server.get();
}

// Exim in the foreground as this process's child, in a process group of its own. The script
// keeps it while its standard input, a pipe only this process holds, stays open: when the
// program ends, however it ends, the pipe closes and the script ends the whole group.
bool EximServer::run(const std::string& script, const std::string& log) {
  std::vector<std::string> args = {"/bin/sh", script, "run", dir_ + "/exim", dir_ + "/certs",
                                   std::to_string(plainPort), std::to_string(submitPort),
                                   std::to_string(strictPort), std::to_string(smtpsPort)};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int feed[2];
  if (::pipe2(feed, O_CLOEXEC) != 0) return false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(feed[0], 0);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(feed[0]);
  feed_ = feed[1];
  if (pid < 0) return false;
  pid_ = pid;
  return waitServerUp(&pid_, {plainPort, submitPort, strictPort, smtpsPort});
}

EximServer::~EximServer() {
  stopServerProcess(&pid_);
  if (feed_ >= 0) ::close(feed_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::vector<EximDelivery> EximServer::deliveries(size_t n) {
  const fs::path out = dir_ + "/exim/out/new";
  std::vector<EximDelivery> found;
  for (int i = 0; i < 500; ++i) {
    found.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(out, ec)) {
      const std::string raw = readHostFile(entry.path().string());
      const size_t split = raw.find("\r\n\r\n");
      const size_t line = raw.find("\r\n");
      if (split == std::string::npos || line >= split) continue;
      EximDelivery d;
      d.mailFrom = raw.substr(10, line - 10);  // after "MAIL FROM:"
      d.rcptTo = raw.substr(line + 10, split - line - 10);  // after "\r\nRCPT TO:"
      d.data = raw.substr(split + 4);
      found.push_back(std::move(d));
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

}  // namespace oxm::test
