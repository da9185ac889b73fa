// Where a server reply ends. The reply reader feeds a test the reply's bytes in order, in
// pieces of any size, and stops reading the moment the test says the reply is complete; bytes
// after the end stay for the next read. The tests keep their progress in the object, so a
// reply split anywhere reads the same.
#pragma once

#include <cstddef>
#include <string>

namespace oxm::transport {

class ReplyEnd {
 public:
  static constexpr size_t npos = std::string::npos;

  virtual ~ReplyEnd() = default;
  // A new reply begins.
  virtual void reset() = 0;
  // Consumes bytes of the reply: the count that belongs to it when its end lies among them,
  // else npos (all consumed, not ended yet). After the end, feed is not called until reset.
  virtual size_t feed(const char* data, size_t size) = 0;
  virtual bool ended() const = 0;
};

// A single line: up to and with the first CR LF (POP3 status replies).
class LineEnd : public ReplyEnd {
 public:
  void reset() override;
  size_t feed(const char* data, size_t size) override;
  bool ended() const override { return ended_; }

 private:
  bool cr_ = false;
  bool ended_ = false;
};

// A POP3 multi-line reply: up to and with CR LF "." CR LF (the status line's CR LF counts, so
// "+OK\r\n.\r\n" is an empty list). A reply whose first byte is "-" is a single error line and
// ends at its first CR LF.
class DotEnd : public ReplyEnd {
 public:
  void reset() override;
  size_t feed(const char* data, size_t size) override;
  bool ended() const override { return ended_; }

 private:
  int match_ = 0;  // bytes of "\r\n.\r\n" matched so far
  bool first_ = true;
  bool error_ = false;
  bool cr_ = false;
  bool ended_ = false;
};

// An SMTP reply: up to and with the CR LF of its last line, a line of three digits followed by
// a blank ("250 OK") or by nothing ("250"); "250-..." lines continue the reply.
class SmtpEnd : public ReplyEnd {
 public:
  void reset() override;
  size_t feed(const char* data, size_t size) override;
  bool ended() const override { return ended_; }

 private:
  char head_[4] = {};
  size_t length_ = 0;  // bytes of the current line so far, its CR included
  bool cr_ = false;
  bool ended_ = false;
};

}  // namespace oxm::transport
