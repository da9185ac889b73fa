// What fetch and the timer program share: the listener that counts and shows a retrieval, and
// the answer to an unknown server certificate.
#pragma once

#include <memory>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/output.h"

namespace oxmail {

// Counts the messages and bytes of a retrieval, moves the progress bar (bytes), prints one JSON
// line per message with --json and keeps the first error code. `foreground` is the answer to
// the retriever's question whether the mail program is on the screen.
class FetchListener : public OxRetriever::Notify {
 public:
  explicit FetchListener(bool foreground) : foreground_(foreground) {}
  bool notify(unsigned int kind, long a, long b) override;
  bool isActive(bool* active, OxRetriever* retriever) override;

  // "fetched N messages (M bytes) in S s", or its JSON object.
  void summary(double seconds);
  // The first error reported, 0 for none ("nothing new" is none).
  unsigned failure() const;
  unsigned long messages() const { return messages_; }

 private:
  bool foreground_;
  std::unique_ptr<Progress> bar_;
  unsigned long messages_ = 0;
  unsigned long bytes_ = 0;
  unsigned long bytesAtLastMessage_ = 0;
  unsigned code_ = 0;
};

// The summary and, on failure, "oxmail: fetching 'NAME' failed: <code>"; the exit code.
int finishFetch(FetchListener& listener, const std::string& account, double seconds);

// While it lives, a server certificate the system does not trust is put to the user on the
// terminal; without a terminal on stdin it is refused, unless `accept` (--accept-certificate).
class CertificateQuestion {
 public:
  explicit CertificateQuestion(bool accept);
  ~CertificateQuestion();
  CertificateQuestion(const CertificateQuestion&) = delete;
  CertificateQuestion& operator=(const CertificateQuestion&) = delete;
};

}  // namespace oxmail
