// A scripted TCP server on 127.0.0.1 for the clients' error paths: it runs one script per connection
// on its own thread and records what the client sent and where it departed from the script.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace oxm::test {

struct Step {
  enum Kind { Send, Expect, Pause, Stall, Close, ExpectClose };
  Kind kind;
  std::string text;  // Send: the bytes; Expect: the line with its line end ("" takes any line)
  int ms = 0;        // Pause: milliseconds; Send: the gap between pieces
  size_t piece = 0;  // Send: piece size (0: all at once)
};

inline Step send(std::string bytes, size_t piece = 0, int gapMs = 0) {
  return {Step::Send, std::move(bytes), gapMs, piece};
}
// Reads one line from the client (through LF) and compares it with `line` ("" takes any line).
inline Step expect(std::string line = "") { return {Step::Expect, std::move(line)}; }
inline Step pause(int ms) { return {Step::Pause, "", ms}; }
// Sends nothing more; the connection stays open until the client closes it or the server stops.
inline Step stall() { return {Step::Stall, ""}; }
// Closes the connection at once (after a partial reply: a close mid-reply).
inline Step close() { return {Step::Close, ""}; }
// Waits until the client closes the connection (recording what it still sends).
inline Step expectClose() { return {Step::ExpectClose, ""}; }

using Script = std::vector<Step>;

// A script as text, one step a line (CR LF is added to the lines sent and expected):
//   S: +OK ready   send the text          E: USER alice   expect that line ("E:" alone: any line)
//   P: 250         pause (ms)             STALL | CLOSE | EXPECT-CLOSE
// Blanks before a step are skipped, not after it ("E: QUIT " expects the blank). The escapes
// \r, \n, \t and \\ are understood in S: and E: text; a text that ends with "\" is sent without
// the CR LF (a partial line).
Script parseScript(const std::string& text);

// The server's certificate and key (PEM files); `implicit`: every connection starts with TLS.
struct TlsFiles {
  std::string cert;
  std::string key;
  bool implicit = false;
};

class ScriptServer {
 public:
  // One script per connection, in order; at the end of a script the connection is closed.
  explicit ScriptServer(std::vector<Script> scripts, TlsFiles tls = {});
  explicit ScriptServer(Script script, TlsFiles tls = {})
      : ScriptServer(std::vector<Script>{std::move(script)}, std::move(tls)) {}
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  unsigned port() const { return port_; }
  // Waits (at most `ms`) until every script has run; false on time-out.
  bool waitDone(int ms = 10000);
  // The lines the client sent, all connections, in order.
  std::vector<std::string> received();
  // Every departure from the scripts ("expected X, got Y", a client that closed early), or "".
  std::string failures();
  int connections() const { return accepted_.load(); }
  // Ends the server: a stall returns, the open connection is closed.
  void stop();

 private:
  struct Conn;
  void run();
  void runScript(Conn& conn, const Script& script);
  bool readLine(Conn& conn, std::string* line, std::string* buffered);
  void fail(const std::string& what);
  void record(const std::string& line);

  std::vector<Script> scripts_;
  TlsFiles tls_;
  void* ctx_ = nullptr;  // SSL_CTX of the server's certificate
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  unsigned port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> received_;
  std::string failures_;
  std::atomic<int> accepted_{0};
  std::atomic<bool> done_{false};
};

}  // namespace oxm::test
