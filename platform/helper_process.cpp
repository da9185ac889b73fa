#include "platform/helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

void closeFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

OxHelperProcess::~OxHelperProcess() { finish(); }

bool OxHelperProcess::start(const std::vector<std::string>& argv, const std::string& errorLog) {
  if (pid_ > 0 || argv.empty()) return false;
  std::vector<std::string> args = argv;
  std::vector<char*> list;
  for (std::string& a : args) list.push_back(a.data());
  list.push_back(nullptr);
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return false;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  // Opened before the fork: the child only duplicates descriptors and execs.
  const int log = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    if (log >= 0) ::dup2(log, 2);
    ::execv(list[0], list.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (log >= 0) ::close(log);
  input_ = in[1];
  output_ = out[0];
  if (pid < 0) {
    closeFd(&input_);
    closeFd(&output_);
    return false;
  }
  // A write to a helper that has ended fails (writeLine) instead of ending this process.
  ::signal(SIGPIPE, SIG_IGN);
  pid_ = pid;
  return true;
}

bool OxHelperProcess::readLine(std::string* line, int timeoutMs) {
  const long long until = nowMs() + timeoutMs;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      *line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    if (output_ < 0) return false;
    const long long left = until - nowMs();
    if (left <= 0) return false;
    struct pollfd p = {output_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buf[512];
    const ssize_t n = ::read(output_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closeFd(&output_);
      continue;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool OxHelperProcess::writeLine(const std::string& line) {
  if (input_ < 0) return false;
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int OxHelperProcess::finish(int timeoutMs) {
  closeFd(&input_);
  if (pid_ <= 0) {
    closeFd(&output_);
    return -1;
  }
  int status = 0;
  int result = -1;
  const long long until = nowMs() + timeoutMs;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (nowMs() >= until) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  closeFd(&output_);
  pid_ = -1;
  return result;
}
