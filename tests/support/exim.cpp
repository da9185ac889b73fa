#include "tests/support/exim.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/servers.h"
#include "tests/support/testroot.h"

#ifndef OXM_SOURCE_DIR
#error "OXM_SOURCE_DIR must name the source folder"
#endif

namespace oxm::test {

namespace fs = std::filesystem;

namespace {

const std::string kSource = OXM_SOURCE_DIR;

}  // namespace

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
  TempRoot scratch;  // only its unique name: the folder outlives it
  s->dir_ = scratch.path() + "-exim";
  fs::create_directories(s->dir_ + "/certs");
  fs::permissions(s->dir_, fs::perms(0755));
  fs::permissions(s->dir_ + "/certs", fs::perms(0755));
  const std::string scripts = kSource + "/scripts";
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
  const std::string cmd = scripts + "/exim.sh start '" + s->dir_ + "/exim' '" + s->dir_ + "/certs' " +
                          std::to_string(s->plainPort) + " " + std::to_string(s->submitPort) + " " +
                          std::to_string(s->strictPort) + " " + std::to_string(s->smtpsPort) + " >> '" + log +
                          "' 2>&1";
  if (std::system(cmd.c_str()) != 0) {
    *whyNot = failure = "Exim did not start: " + readHostFile(log);
    std::system((scripts + "/exim.sh stop '" + s->dir_ + "/exim' > /dev/null 2>&1").c_str());
    return nullptr;
  }
  s->running_ = true;
  server = std::move(s);
  return server.get();
}

EximServer::~EximServer() {
  if (running_) std::system((kSource + "/scripts/exim.sh stop '" + dir_ + "/exim' > /dev/null 2>&1").c_str());
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
