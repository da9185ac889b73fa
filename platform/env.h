// The process environment and the device root directory.
#pragma once

#include <optional>
#include <string>

namespace oxm {

std::optional<std::string> getEnv(const char* name);

// The host directory that device paths map under: OXMIDDLE_ROOT, else
// $XDG_DATA_HOME/oxmiddle, else ~/.local/share/oxmiddle. Decided at first use.
std::string rootDirectory();
// Points the whole platform layer at another root (tests, the program's --root).
void setRootDirectory(const std::string& hostDir);

}  // namespace oxm
