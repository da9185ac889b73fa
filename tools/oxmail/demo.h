// What the two halves of `oxmail demo` share.
#pragma once

#include <string>

namespace oxmail {

// Prints a step's heading and the command it runs.
void step(const std::string& what, const std::string& command);

// The whole road on local servers started by `scripts`/demo_servers.sh, in the device root
// `root`: mail sent over SMTP and fetched back over POP3, a feed fetched over HTTP. Without the
// servers it says what is missing and returns kExitOk; the servers are stopped on every path.
int runRoad(const std::string& root, const std::string& scripts);

}  // namespace oxmail
