// The process environment and the device root directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oxm {

std::optional<std::string> getEnv(const char* name);

// The host directory that device paths map under: OXMIDDLE_ROOT, else
// $XDG_DATA_HOME/oxmiddle, else ~/.local/share/oxmiddle. Decided at first use.
std::string rootDirectory();
// Points the whole platform layer at another root (tests, the program's --root).
void setRootDirectory(const std::string& hostDir);
// Counts the calls of setRootDirectory: what was opened under one root is not reused under the
// next, even when both have the same path.
unsigned long rootGeneration();

// A test hook: OXMIDDLE_PORT_REDIRECT="995=34567,465=34568" sends the connects to the first port
// of each pair to the second (net::setPortRedirect), so that a whole program that switches on
// TLS for a fixed port reaches a test server on a free one.
using PortRedirects = std::vector<std::pair<unsigned, unsigned>>;
PortRedirects portRedirects();
// The pairs of such a text. A pair that is not two port numbers (1 to 65535) joined by "=" is
// skipped, with a debug line.
PortRedirects parsePortRedirects(std::string_view text);

}  // namespace oxm
