// The one reply reader of the mail clients (POP3 and SMTP), and their stepped connect and send.
//
// Each blocking call runs on the reader's worker thread (platform/worker.h) while the calling
// thread waits for it in steps of 1000 ms, at most 600 (scaled in tests). Between steps it asks,
// in this order: the abort test, the Connection Manager status of the data connection (anything
// but connected, 0x10, or a failing query ends the wait), the cancel test, the step count. A wait
// that ends early interrupts the worker's socket call, joins the thread and leaves the socket
// usable, so the client can still send QUIT.
//
// A read first takes what has arrived already on the calling thread (no wait, so nothing to
// step through); only when the reply needs more does the worker wait for it. It waits without
// limit for the first bytes and 100 ms for each later piece, receiving at most 8192 bytes at a
// time. It stops:
//  - at the end of the reply as the protocol's ReplyEnd test sees it (early completion: no idle
//    wait after a complete reply); bytes received after the end are kept for the next read;
//  - when 100 ms pass without bytes (the reply may be incomplete: the client reads again and the
//    end test goes on where it stopped);
//  - when the peer closes the connection or the socket fails;
//  - when the sink refuses more bytes (a string reply over its limit).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/connmgr.h"
#include "platform/net.h"
#include "platform/worker.h"
#include "transport/reply_end.h"

class ProtocolLog;

namespace oxm::transport {

enum class ReadStatus {
  Ok,               // the reply ended, or an idle pause after some bytes (see complete())
  SocketFailed,     // recv, send or the wait failed
  PeerClosed,       // the server closed the connection (the bytes before it were delivered)
  TimedOut,         // the step limit passed
  RasDisconnected,  // the data connection was lost while waiting
  Aborted,          // the abort test said so while the worker still ran
  Cancelled,        // the cancel test said so while the worker still ran
  ThreadFailed,     // the worker thread could not be started
  TooLong,          // the sink took no more (a reply over its limit); the rest of that reply
                    // is still on the wire, so the conversation cannot go on
  ConnectFailed,    // connect and handshake only: no such name, no connection, no TLS session
};

const char* readStatusName(ReadStatus status);

// Where the bytes of a reply go. put returns false to stop the read (TooLong).
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual bool put(const char* data, size_t size) = 0;
};

// Appends to a string, up to `limit` bytes in all.
class StringSink : public ReplySink {
 public:
  StringSink(std::string& out, size_t limit) : out_(out), limit_(limit) {}
  bool put(const char* data, size_t size) override;

 private:
  std::string& out_;
  size_t limit_;
};

// The preallocated buffer of a message (RETR/TOP). When the bytes would pass the capacity it
// overflows: only the first four bytes of the reply stay and nothing more is stored, but
// the read goes on to the end of the reply (the end test and endsWith still see every byte).
class CappedBuffer : public ReplySink {
 public:
  // Reserves `capacity` bytes; ok() is false when that memory is not available.
  explicit CappedBuffer(size_t capacity);
  bool ok() const { return ok_; }
  bool put(const char* data, size_t size) override;

  const std::string& data() const { return data_; }
  std::string& data() { return data_; }
  size_t capacity() const { return capacity_; }
  bool overflow() const { return overflow_; }
  void clearOverflow() { overflow_ = false; }
  // Bytes put since construction or clear, stored or not.
  uint64_t received() const { return received_; }
  // Whether the bytes received (stored or not) end with `tail` (at most 8 bytes).
  bool endsWith(std::string_view tail) const;
  // Empties the buffer and clears the overflow; the capacity stays.
  void clear();

 private:
  std::string data_;
  size_t capacity_;
  bool ok_ = true;
  bool overflow_ = false;
  uint64_t received_ = 0;
  char tail_[8] = {};
  size_t tailLength_ = 0;
};

struct WaitChecks {
  std::function<bool()> aborted;    // e.g. the client's abort flag
  std::function<bool()> cancelled;  // e.g. cancel requested in a state where it ends the wait
  HCONNECTION connection = nullptr;  // polled between steps; null: not polled
};

struct ReaderLimits {
  size_t chunk = 8192;     // bytes asked of one recv
  int idleMs = 100;        // the wait for each later piece of a reply; < 0: read to the end
  unsigned maxSteps = 600;  // steps of a wait before TimedOut
};

class ReplyReader {
 public:
  explicit ReplyReader(net::Socket& socket);
  ~ReplyReader();
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  void setChecks(WaitChecks checks) { checks_ = std::move(checks); }
  void setLimits(ReaderLimits limits) { limits_ = limits; }
  // A lost data connection is noted in this log ("*** diconnect RAS Connection ***").
  void setLog(ProtocolLog* log) { log_ = log; }

  // Reads (more of) one reply into the sink. `end` keeps its progress across reads of the same
  // reply; an end test whose reply has ended is reset, so the next read starts a new reply.
  ReadStatus read(ReplySink& sink, ReplyEnd& end);
  ReadStatus read(std::string& out, ReplyEnd& end, size_t limit);
  // Whether the last read stopped at the end of the reply.
  bool complete() const { return complete_; }
  // Bytes the last read delivered to its sink.
  size_t lastBytes() const { return lastBytes_; }
  // Bytes received after the end of a reply, waiting for the next read.
  const std::string& pending() const { return pending_; }
  void discardPending() { pending_.clear(); }

  // Socket::connect on a worker: Ok, ConnectFailed (*result tells why), ThreadFailed, or a wait
  // that ended early (Cancelled, Aborted, RasDisconnected, TimedOut).
  ReadStatus connect(const std::string& host, unsigned port, int* result = nullptr);
  // Socket::send of one piece on a worker: Ok, SocketFailed, ThreadFailed or an early end.
  ReadStatus send(const char* data, size_t size);
  // The deferred TLS handshake (STARTTLS) on a worker: Ok, ConnectFailed (*result is
  // net::kHandshakeFailed), ThreadFailed or an early end.
  ReadStatus handshake(int* result = nullptr);

 private:
  enum class Outcome { None, Ended, Idle, Closed, Failed, Refused };
  Outcome receiveNow(ReplySink& sink, ReplyEnd& end);
  void receive(ReplySink& sink, ReplyEnd& end, bool gotBytes);
  Outcome take(ReplySink& sink, ReplyEnd& end, long n);
  ReadStatus waitSteps();
  // Runs one socket call on a worker and waits for it in steps.
  ReadStatus stepped(std::function<void()> call);

  net::Socket& socket_;
  WaitChecks checks_;
  ReaderLimits limits_;
  ProtocolLog* log_ = nullptr;
  std::string pending_;
  std::string chunk_;
  bool complete_ = false;
  size_t lastBytes_ = 0;
  Outcome outcome_ = Outcome::None;
  StepWorker worker_;  // last: its thread ends before the members its calls use
};

}  // namespace oxm::transport
