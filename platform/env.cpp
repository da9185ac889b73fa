#include "platform/env.h"

#include <charconv>
#include <cstdlib>
#include <mutex>

#include "platform/debug.h"

namespace oxm {

namespace {

std::mutex rootLock;
std::string root;  // empty until first use or setRootDirectory
unsigned long generation = 0;

std::string defaultRoot() {
  if (auto r = getEnv("OXMIDDLE_ROOT"); r && !r->empty()) return *r;
  if (auto x = getEnv("XDG_DATA_HOME"); x && !x->empty()) return *x + "/oxmiddle";
  auto home = getEnv("HOME");
  return (home ? *home : std::string(".")) + "/.local/share/oxmiddle";
}

// A port number, the whole text: 1 to 65535.
bool parsePort(std::string_view text, unsigned* port) {
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, *port);
  return error == std::errc() && at == end && *port >= 1 && *port <= 65535;
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
  ++generation;
}

unsigned long rootGeneration() {
  std::lock_guard<std::mutex> g(rootLock);
  return generation;
}

PortRedirects parsePortRedirects(std::string_view text) {
  PortRedirects pairs;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view pair = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    unsigned from = 0, to = 0;
    if (equals == std::string_view::npos || !parsePort(pair.substr(0, equals), &from) ||
        !parsePort(pair.substr(equals + 1), &to)) {
      const std::string skipped(pair);
      NKDbgPrintfW(L"OXMIDDLE_PORT_REDIRECT: skipped \"%hs\"\r\n", skipped.c_str());
      continue;
    }
    pairs.emplace_back(from, to);
  }
  return pairs;
}

PortRedirects portRedirects() { return parsePortRedirects(getEnv("OXMIDDLE_PORT_REDIRECT").value_or("")); }

}  // namespace oxm
