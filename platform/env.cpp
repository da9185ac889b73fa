#include "platform/env.h"

#include <cstdlib>
#include <mutex>

namespace oxm {

namespace {

std::mutex rootLock;
std::string root;  // empty until first use or setRootDirectory

std::string defaultRoot() {
  if (auto r = getEnv("OXMIDDLE_ROOT"); r && !r->empty()) return *r;
  if (auto x = getEnv("XDG_DATA_HOME"); x && !x->empty()) return *x + "/oxmiddle";
  auto home = getEnv("HOME");
  return (home ? *home : std::string(".")) + "/.local/share/oxmiddle";
}

}  // namespace

std::optional<std::string> getEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::string rootDirectory() {
  std::lock_guard<std::mutex> g(rootLock);
  if (root.empty()) root = defaultRoot();
  return root;
}

void setRootDirectory(const std::string& hostDir) {
  std::lock_guard<std::mutex> g(rootLock);
  root = hostDir;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
}

}  // namespace oxm
