// Output of the program: aligned tables for people, JSON lines for scripts (--json), progress
// bars on a terminal's stderr, and the one way errors are reported.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace oxmail {

struct Settings {
  bool json = false;   // --json: every result as JSON lines
  bool quiet = false;  // --quiet: no progress bars, no chatter
};
Settings& settings();

// Exit codes: 0 success, 1 a failure of the work, 2 a usage error.
enum : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Thrown by commands; main prints "oxmail: <what>" (and a usage hint for UsageError).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A failed library call: "<what>: <meaning> (<NAME>, 0x...)" from the library's last error; a
// damaged store adds the recover command to run, an unwritable device root says so.
[[noreturn]] void libraryFailure(const std::string& what);
// The account that failure hints name in their 'oxmail recover ACCOUNT'.
void setRecoverHint(const std::string& account);
// Refuses (a Failure) a name with control characters or '/' or '\', or longer than maxBytes
// (0: no limit); `what` names the kind ("account", "folder").
void checkName(const char* what, const std::string& name, size_t maxBytes);

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& utf8Text);
// Terminal columns the text takes: wide (East Asian) characters count two.
size_t displayWidth(const std::string& utf8Text);
std::string jsonQuote(const std::string& utf8Text);

// One cell of a table: text, or a number (printed right-aligned, unquoted in JSON).
struct Cell {
  Cell(std::string s) : text(std::move(s)) {}
  Cell(const char* s) : text(s) {}
  Cell(const std::wstring& s) : text(utf8(s)) {}
  Cell(unsigned long long n) : text(std::to_string(n)), number(true) {}
  Cell(unsigned long n) : Cell(static_cast<unsigned long long>(n)) {}
  Cell(unsigned n) : Cell(static_cast<unsigned long long>(n)) {}
  Cell(int n) : text(std::to_string(n)), number(true) {}
  // Text that already is JSON (an array, say): written as it is.
  static Cell json(std::string text) {
    Cell c(std::move(text));
    c.number = true;
    return c;
  }
  std::string text;
  bool number = false;
};

// Rows printed aligned under a header, or as one JSON object per row keyed by the column names.
class Table {
 public:
  explicit Table(std::vector<std::string> columns) : columns_(std::move(columns)) {}
  void add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }
  // Cut a column to at most `width` display columns in text output (0: no limit).
  void limit(size_t column, size_t width);
  void print() const;

 private:
  std::vector<std::string> columns_;
  std::vector<size_t> limits_;
  std::vector<std::vector<Cell>> rows_;
};

// Key/value lines for one record ("name: value" aligned), or one JSON object.
void printRecord(const std::vector<std::pair<std::string, Cell>>& fields);

// A bar on stderr while long work runs, only on a terminal and without --quiet.
class Progress {
 public:
  Progress(std::string label, size_t total);
  ~Progress();
  void step(size_t done);

 private:
  std::string label_;
  size_t total_;
  bool shown_;
  int lastPercent_ = -1;
};

}  // namespace oxmail
