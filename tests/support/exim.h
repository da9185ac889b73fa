// A real Exim for the SMTP tests, run by scripts/exim.sh (which describes its ports and users) as
// this process's child, ending with the process however that ends, in a temporary folder on free
// 127.0.0.1 ports. One server serves a whole test program; tests skip when it cannot start.
#pragma once

#include <string>
#include <vector>

namespace oxm::test {

// One delivered copy: Exim writes one file per recipient.
struct EximDelivery {
  std::string mailFrom;  // "<a@example.jp>"
  std::string rcptTo;
  std::string data;      // the message as received, dot-unstuffed
};

class EximServer {
 public:
  // The program's server, started on first use; null (with the reason in *whyNot) when Exim is
  // not installed or does not come up. Stopped when the program ends.
  static EximServer* shared(std::string* whyNot);
  ~EximServer();

  unsigned plainPort = 0, submitPort = 0, strictPort = 0, smtpsPort = 0;

  // Waits (bounded, 10 s) until at least n deliveries are on disk; returns them sorted by
  // sender then recipient then data, or fewer when the time ran out.
  std::vector<EximDelivery> deliveries(size_t n);
  // Removes every delivery on disk.
  void clear();

 private:
  EximServer() = default;
  std::string start();  // "" or why the server is not there
  std::string dir_;
  int pid_ = -1;   // the script, leader of the server's process group
  int feed_ = -1;  // the write end of the script's standard input
};

}  // namespace oxm::test
