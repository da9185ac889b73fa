#include "tests/support/script_server.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "tests/support/servers.h"

namespace oxm::test {

Script parseScript(const std::string& text) {
  Script script;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.erase(0, std::min(line.size(), line.find_first_not_of(" \t")));
    if (line.empty()) continue;
    const std::string rest = line.size() > 2 ? line.substr(line[2] == ' ' ? 3 : 2) : "";
    std::string bytes;  // the text with its escapes; a final "\" leaves the line end off
    bool partial = false;
    for (size_t i = 0; i < rest.size(); ++i) {
      char c = rest[i];
      if (c == '\\') {
        if ((partial = i + 1 == rest.size())) break;
        c = rest[++i];
        c = c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
      }
      bytes += c;
    }
    if (line.starts_with("S:")) {
      script.push_back(send(partial ? bytes : bytes + "\r\n"));
    } else if (line.starts_with("E:")) {
      script.push_back(expect(bytes.empty() ? "" : bytes + "\r\n"));
    } else if (line.starts_with("P:")) {
      script.push_back(pause(std::atoi(rest.c_str())));
    } else if (line == "STALL" || line == "CLOSE" || line == "EXPECT-CLOSE") {
      script.push_back(line == "STALL" ? stall() : line == "CLOSE" ? close() : expectClose());
    } else {
      ADD_FAILURE() << "not a script line: " << line;
    }
  }
  return script;
}

struct ScriptServer::Conn {
  int fd = -1;
  SSL* ssl = nullptr;

  ~Conn() {
    if (ssl) {
      SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    if (fd >= 0) ::close(fd);
  }
  bool write(const char* data, size_t n) {
    if (ssl) return SSL_write(ssl, data, static_cast<int>(n)) == static_cast<int>(n);
    return ::send(fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
  }
  long read(char* buf, size_t n) { return ssl ? SSL_read(ssl, buf, static_cast<int>(n)) : ::recv(fd, buf, n, 0); }
  bool pending() const { return ssl && SSL_pending(ssl) > 0; }
};

ScriptServer::ScriptServer(std::vector<Script> scripts, TlsFiles tls)
    : scripts_(std::move(scripts)), tls_(std::move(tls)) {
  if (!tls_.cert.empty() || tls_.implicit) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, tls_.cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, tls_.key.c_str(), SSL_FILETYPE_PEM) != 1)
      std::abort();
    ctx_ = ctx;
  }
  listen_ = loopbackSocket(&port_, true);  // port 0: a free one
  if (listen_ < 0 || ::listen(listen_, 8) != 0 || ::pipe(wake_) != 0) std::abort();
  thread_ = std::thread([this] { run(); });
}

ScriptServer::~ScriptServer() {
  stop();
  if (thread_.joinable()) thread_.join();
  ::close(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  if (ctx_) SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

void ScriptServer::stop() {
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], "", 1);
}

bool ScriptServer::waitDone(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done_.load()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<std::string> ScriptServer::received() {
  std::lock_guard<std::mutex> g(lock_);
  return received_;
}

std::string ScriptServer::failures() {
  std::lock_guard<std::mutex> g(lock_);
  return failures_;
}

void ScriptServer::fail(const std::string& what) {
  std::lock_guard<std::mutex> g(lock_);
  failures_ += what + "\n";
}

void ScriptServer::record(const std::string& line) {
  std::lock_guard<std::mutex> g(lock_);
  if (!line.empty()) received_.push_back(line);
}

void ScriptServer::run() {
  // A TLS write to a client that has gone raises SIGPIPE: blocked on this thread only.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (const Script& script : scripts_) {
    struct pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) break;
    Conn conn;
    conn.fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn.fd < 0) break;
    int one = 1;
    ::setsockopt(conn.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++accepted_;
    if (tls_.implicit) {
      conn.ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
      SSL_set_fd(conn.ssl, conn.fd);
      if (SSL_accept(conn.ssl) != 1) {
        ERR_clear_error();
        SSL_free(conn.ssl);
        conn.ssl = nullptr;
        fail("TLS handshake failed");
        continue;
      }
    }
    runScript(conn, script);
  }
  done_ = true;
}

// Reads through the next LF; false when the connection ended or the server stops.
bool ScriptServer::readLine(Conn& conn, std::string* line, std::string* buffered) {
  for (;;) {
    const size_t lf = buffered->find('\n');
    if (lf != std::string::npos) {
      *line = buffered->substr(0, lf + 1);
      buffered->erase(0, lf + 1);
      return true;
    }
    if (!conn.pending()) {
      struct pollfd p[2] = {{conn.fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) return false;
    }
    char buf[4096];
    const long n = conn.read(buf, sizeof buf);
    if (n <= 0) {
      *line = *buffered;
      buffered->clear();
      return false;
    }
    buffered->append(buf, static_cast<size_t>(n));
  }
}

void ScriptServer::runScript(Conn& conn, const Script& script) {
  std::string buffered;
  for (size_t i = 0; i < script.size(); ++i) {
    const Step& step = script[i];
    const std::string at = "step " + std::to_string(i) + ": ";
    switch (step.kind) {
      case Step::Send: {
        const size_t piece = step.piece ? step.piece : step.text.size();
        for (size_t from = 0; from < step.text.size(); from += piece) {
          const size_t n = std::min(piece, step.text.size() - from);
          if (!conn.write(step.text.data() + from, n)) return fail(at + "the client closed before the send");
          if (step.ms > 0 && from + n < step.text.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        }
        break;
      }
      case Step::Expect: {
        std::string line;
        const bool got = readLine(conn, &line, &buffered);
        record(line);
        if (!got) return fail(at + "the connection ended before " + step.text);
        if (!step.text.empty() && line != step.text) fail(at + "expected " + step.text + ", got " + line);
        break;
      }
      case Step::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        break;
      case Step::Close:
        // FIN, not RST: the client reads what was sent, then the end; then wait for its close.
        if (conn.ssl) SSL_shutdown(conn.ssl);
        ::shutdown(conn.fd, SHUT_WR);
        [[fallthrough]];
      case Step::Stall:
      case Step::ExpectClose: {
        std::string line;
        while (readLine(conn, &line, &buffered)) record(line);
        return record(line);
      }
    }
  }
}

}  // namespace oxm::test
