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
  static std::string failure;
  static std::unique_ptr<EximServer> server = [] {
    std::unique_ptr<EximServer> s(new EximServer);
    failure = s->start();
    return failure.empty() ? std::move(s) : nullptr;
  }();
  *whyNot = failure;
  return server.get();
}

// Exim in the foreground, in a process group of its own. The script keeps it while its standard
// input, a pipe only this process holds, stays open: when the program ends, however it ends, the
// pipe closes and the script ends the whole group.
std::string EximServer::start() {
  if (!fs::exists("/usr/sbin/exim4")) return "exim4 is not installed (Debian package exim4-daemon-light)";
  if (certDir().empty()) return "openssl is missing: no certificates";
  dir_ = makeTempDir("oxmexim");
  // Exim reads the certificate as its own user: a copy in a folder it can reach.
  fs::create_directories(dir_ + "/certs");
  fs::permissions(dir_, fs::perms(0755));
  fs::permissions(dir_ + "/certs", fs::perms(0755));
  for (const char* file : {"localhost.crt", "localhost.key"})
    fs::copy_file(certDir() + "/" + file, dir_ + "/certs/" + file, fs::copy_options::overwrite_existing);
  plainPort = freePort(), submitPort = freePort(), strictPort = freePort(), smtpsPort = freePort();
  const std::vector<unsigned> ports = {plainPort, submitPort, strictPort, smtpsPort};
  std::vector<std::string> args = {"/bin/sh", std::string(OXM_SOURCE_DIR) + "/scripts/exim.sh", "run",
                                   dir_ + "/exim", dir_ + "/certs"};
  for (unsigned port : ports) args.push_back(std::to_string(port));
  int feed[2];
  if (::pipe2(feed, O_CLOEXEC) != 0) return "no pipe";
  pid_ = startServerProcess(args, dir_ + "/start.log", feed[0]);
  ::close(feed[0]);
  feed_ = feed[1];
  if (pid_ < 0 || !waitServerUp(&pid_, ports)) return "Exim did not start: " + readHostFile(dir_ + "/start.log");
  return "";
}

EximServer::~EximServer() {
  stopServerProcess(&pid_);
  if (feed_ >= 0) ::close(feed_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
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

}  // namespace oxm::test
