// A helper program run by a program that uses the library (the demo's local servers): its
// standard input is a pipe only this process writes and its standard output a pipe read line
// by line. It runs in a process group of its own, so a Ctrl-C at the terminal reaches only this
// process; when this process ends, however it ends, the helper reads the end of its input and
// can clean up after itself. Standard error goes to a log file.
#pragma once

#include <string>
#include <vector>

class OxHelperProcess {
 public:
  OxHelperProcess() = default;
  // Closes the helper's input and waits for it (finish()).
  ~OxHelperProcess();
  OxHelperProcess(const OxHelperProcess&) = delete;
  OxHelperProcess& operator=(const OxHelperProcess&) = delete;

  // Runs argv[0] (a path) with the arguments; its standard error is appended to errorLog.
  // False when no process could be made; a program that cannot be run ends at once with
  // status 127.
  bool start(const std::vector<std::string>& argv, const std::string& errorLog);
  // The helper's next output line without its line end; false at the end of its output or when
  // nothing came within timeoutMs (a partial line is kept for the next call).
  bool readLine(std::string* line, int timeoutMs);
  // Writes one line (a line end is added) to the helper's input.
  bool writeLine(const std::string& line);
  // Closes the helper's input and waits at most timeoutMs for it to end; after that its process
  // group is killed. Its exit status, or -1 when it was killed or never started.
  int finish(int timeoutMs = 30000);
  bool running() const { return pid_ > 0; }

 private:
  int pid_ = -1;
  int input_ = -1;   // our end of its standard input
  int output_ = -1;  // our end of its standard output
  std::string pending_;
};
