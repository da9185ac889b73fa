// Forked children for the tests of shared files and locks.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace oxm::test {

// Runs body(0) .. body(n - 1) in n forked children released together; true when each returned true.
inline bool inChildren(int n, const std::function<bool(int)>& body) {
  int go[2];
  if (::pipe(go) != 0) return false;
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(go[1]);
      char c;
      ::_exit(::read(go[0], &c, 1) == 0 && body(i) ? 0 : 1);  // end of the pipe: go
    }
    if (pid > 0) pids.push_back(pid);
  }
  ::close(go[0]);
  ::close(go[1]);
  bool ok = static_cast<int>(pids.size()) == n;
  for (pid_t pid : pids) {
    int status = 0;
    ok &= ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return ok;
}

// The status waitpid() gives for one forked child running body (its result is the exit code).
inline int childStatus(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

}  // namespace oxm::test
