// A real Exim for the SMTP tests (scripts/exim.sh describes its ports and users), one per program.
#pragma once

#include "tests/support/servers.h"

namespace oxm::test {

// One delivered copy: Exim writes one file per recipient.
struct EximDelivery {
  std::string mailFrom;  // "<a@example.jp>"
  std::string rcptTo;
  std::string data;      // the message as received, dot-unstuffed
};

class EximServer : public ServerProcess {
 public:
  // The program's server, started on first use; null, with the reason in *whyNot, when it cannot.
  static EximServer* shared(std::string* whyNot);
  ~EximServer();

  unsigned plainPort = 0, submitPort = 0, strictPort = 0, smtpsPort = 0;

  // Waits (at most 10 s) for n deliveries on disk; those there are, by sender, recipient, data.
  std::vector<EximDelivery> deliveries(size_t n);
  // Removes every delivery on disk.
  void clear();

 private:
  EximServer() : ServerProcess("oxmexim", 4) {}
  std::string start();  // "" or why the server is not there
  int feed_ = -1;       // the write end of the script's standard input
};

}  // namespace oxm::test
