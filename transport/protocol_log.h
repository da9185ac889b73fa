// The protocol log: the raw POP3 and SMTP traffic in one text file, for diagnosis.
//
// It is switched on by the file's presence: the default constructor enables the log only when
// "\Application Data\OxenMail\OxMailLog.txt" exists, and nothing ever creates that file on its
// own. Every write opens the file, writes and closes it again, so nothing is lost when the
// process ends. A disabled log, or a file that cannot be opened, writes nothing and returns 0.
//
// Passwords never reach the file: logCommand with `secret` writes the secret part of a PASS
// or APOP command, or a whole SMTP AUTH answer, as "*" characters of the same length.
#pragma once

#include <cstddef>
#include <string>

class ProtocolLog {
 public:
  ProtocolLog();
  // The given path (narrow, a device path) and open mode; always enabled.
  ProtocolLog(std::string path, std::string mode);
  ~ProtocolLog();
  ProtocolLog(const ProtocolLog&) = delete;
  ProtocolLog& operator=(const ProtocolLog&) = delete;

  // A block header: a separator line of 50 "-", the title, the local time
  // " [YYYY/MM/DD hh:mm:ss] ***\r\n", the separator again. Returns the bytes written.
  unsigned start(const void* title, unsigned size);
  // At most 2048 bytes of the data; returns the bytes written.
  unsigned write(const void* data, unsigned size);
  // printf-like; returns the bytes written.
  int write_free(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The clients' lines: "-[OUT(%02d)]" and the command (preceded by "\r\n" for "DELE "), with
  // the secret masked when `secret` is set; "-[IN (%02d)]" and the reply (cut at 2048 bytes);
  // the note of a lost data connection.
  void logCommand(const char* data, size_t size, bool secret = false);
  void logReply(const char* data, size_t size);
  void disconnected();

  bool enabled() const { return enabled_; }

 private:
  bool append(const void* data, size_t size);

  std::string path_;
  std::string mode_;
  bool enabled_ = false;
};

namespace oxm::transport {

using ::ProtocolLog;

// The command as the log shows it: "PASS x" keeps "PASS " and masks the rest of the line,
// "APOP user digest" masks the digest, anything else masks the whole line; the line end stays.
std::string maskSecret(const char* data, size_t size);

}  // namespace oxm::transport
