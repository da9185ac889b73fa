#include "transport/reply_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "transport/protocol_log.h"

namespace oxm::transport {

const char* readStatusName(ReadStatus status) {
  static const char* const kNames[] = {"Ok",      "SocketFailed", "PeerClosed", "TimedOut",
                                       "RasDisconnected", "Aborted", "Cancelled", "ThreadFailed",
                                       "TooLong", "ConnectFailed"};
  size_t i = static_cast<size_t>(status);
  return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "?";
}

bool StringSink::put(const char* data, size_t size) {
  if (out_.size() + size > limit_) return false;
  out_.append(data, size);
  return true;
}

CappedBuffer::CappedBuffer(size_t capacity) : capacity_(capacity) {
  try {
    data_.reserve(capacity);
  } catch (const std::bad_alloc&) {
    ok_ = false;
  }
}

bool CappedBuffer::put(const char* data, size_t size) {
  received_ += size;
  // The last bytes of the stream, for the end check of a buffer that overflowed.
  for (size_t i = size > sizeof tail_ ? size - sizeof tail_ : 0; i < size; ++i) {
    if (tailLength_ == sizeof tail_) {
      std::memmove(tail_, tail_ + 1, sizeof tail_ - 1);
      --tailLength_;
    }
    tail_[tailLength_++] = data[i];
  }
  if (overflow_) return true;
  if (data_.size() + size > capacity_) {
    // The status line's start stays ("+OK "), even when the first piece is the one too many.
    overflow_ = true;
    if (data_.size() < 4) data_.append(data, std::min(size, 4 - data_.size()));
    data_.resize(std::min<size_t>(data_.size(), 4));
    return true;
  }
  data_.append(data, size);
  return true;
}

bool CappedBuffer::endsWith(std::string_view tail) const {
  if (tail.size() > tailLength_) return false;
  return std::string_view(tail_ + tailLength_ - tail.size(), tail.size()) == tail;
}

void CappedBuffer::clear() {
  data_.clear();
  overflow_ = false;
  received_ = 0;
  tailLength_ = 0;
}

ReplyReader::ReplyReader(net::Socket& socket) : socket_(socket) {}

ReplyReader::~ReplyReader() = default;

ReadStatus ReplyReader::read(std::string& out, ReplyEnd& end, size_t limit) {
  StringSink sink(out, limit);
  return read(sink, end);
}

ReadStatus ReplyReader::read(ReplySink& sink, ReplyEnd& end) {
  if (end.ended()) end.reset();
  complete_ = false;
  lastBytes_ = 0;
  // Bytes that came after the previous reply belong to this one first.
  if (!pending_.empty()) {
    std::string held;
    held.swap(pending_);
    size_t used = end.feed(held.data(), held.size());
    size_t take = used == ReplyEnd::npos ? held.size() : used;
    if (!sink.put(held.data(), take)) return ReadStatus::TooLong;
    lastBytes_ = take;
    if (used != ReplyEnd::npos) {
      pending_.assign(held, used, std::string::npos);
      complete_ = true;
      return ReadStatus::Ok;
    }
  }
  outcome_ = receiveNow(sink, end);
  if (outcome_ == Outcome::None) {
    bool gotBytes = lastBytes_ > 0;
    if (!worker_.start([&] { receive(sink, end, gotBytes); })) return ReadStatus::ThreadFailed;
    ReadStatus waited = waitSteps();
    if (waited != ReadStatus::Ok) return waited;
  }
  switch (outcome_) {
    case Outcome::Ended:
      complete_ = true;
      return ReadStatus::Ok;
    case Outcome::Idle:
      return ReadStatus::Ok;
    case Outcome::Closed:
      return ReadStatus::PeerClosed;
    case Outcome::Refused:
      return ReadStatus::TooLong;
    default:
      return ReadStatus::SocketFailed;
  }
}

// What has arrived already, or arrives within a short wait (a fiftieth of a step), is read on
// the caller's thread: most replies come that soon, and the worker (a thread switch each way)
// is then only for the long waits, which are checked step by step. None when the reply needs
// more than has come.
ReplyReader::Outcome ReplyReader::receiveNow(ReplySink& sink, ReplyEnd& end) {
  chunk_.resize(limits_.chunk);
  if (lastBytes_ == 0) {
    // A reply not begun: its first bytes are waited for before the first read, which would
    // otherwise mostly find nothing.
    int ready = socket_.waitReadable(static_cast<int>(stepMilliseconds() / 50));
    if (ready < 0) return Outcome::Failed;
    if (ready == 0) return Outcome::None;
  }
  for (;;) {
    long n = socket_.recvNow(chunk_.data(), chunk_.size());
    if (n == net::kWouldBlock) return Outcome::None;
    Outcome got = take(sink, end, n);
    if (got != Outcome::None) return got;
  }
}

// The worker's side of a read: runs until the reply ends, an idle pause, the peer's close, a
// failure or a full sink.
void ReplyReader::receive(ReplySink& sink, ReplyEnd& end, bool gotBytes) {
  chunk_.resize(limits_.chunk);
  for (;;) {
    int ready = socket_.waitReadable(gotBytes ? limits_.idleMs : -1);
    if (ready == 0) {
      outcome_ = Outcome::Idle;
      return;
    }
    if (ready < 0) {
      outcome_ = Outcome::Failed;
      return;
    }
    outcome_ = take(sink, end, socket_.recv(chunk_.data(), chunk_.size()));
    if (outcome_ != Outcome::None) return;
    gotBytes = true;
  }
}

// One piece of `n` received bytes (or recv's failure) into the sink: Ended when it completes
// the reply (what follows stays for the next read), None when more is to come.
ReplyReader::Outcome ReplyReader::take(ReplySink& sink, ReplyEnd& end, long n) {
  if (n <= 0) return n == 0 ? Outcome::Closed : Outcome::Failed;
  size_t got = static_cast<size_t>(n);
  size_t used = end.feed(chunk_.data(), got);
  size_t take = used == ReplyEnd::npos ? got : used;
  if (!sink.put(chunk_.data(), take)) return Outcome::Refused;
  lastBytes_ += take;
  if (used == ReplyEnd::npos) return Outcome::None;
  pending_.assign(chunk_.data() + used, got - used);
  return Outcome::Ended;
}

ReadStatus ReplyReader::waitSteps() {
  ReadStatus stop = ReadStatus::Ok;
  for (unsigned step = 0;;) {
    if (worker_.waitStep()) break;
    ++step;
    if (checks_.aborted && checks_.aborted()) {
      stop = ReadStatus::Aborted;
      break;
    }
    if (checks_.connection) {
      DWORD status = 0;
      if (ConnMgrConnectionStatus(checks_.connection, &status) != S_OK ||
          status != CONNMGR_STATUS_CONNECTED) {
        if (log_) log_->disconnected();
        stop = ReadStatus::RasDisconnected;
        break;
      }
    }
    if (checks_.cancelled && checks_.cancelled()) {
      stop = ReadStatus::Cancelled;
      break;
    }
    if (step >= limits_.maxSteps) {
      stop = ReadStatus::TimedOut;
      break;
    }
  }
  if (stop != ReadStatus::Ok) {
    socket_.interrupt();
    worker_.join();
    socket_.clearInterrupt();
  } else {
    worker_.join();
  }
  return stop;
}

ReadStatus ReplyReader::stepped(std::function<void()> call) {
  if (!worker_.start(std::move(call))) return ReadStatus::ThreadFailed;
  return waitSteps();
}

ReadStatus ReplyReader::connect(const std::string& host, unsigned port, int* result) {
  int got = net::kConnectFailed;
  ReadStatus waited = stepped([&] { got = socket_.connect(host, port); });
  if (result) *result = got;
  if (waited != ReadStatus::Ok) return waited;
  return got == net::kOk ? ReadStatus::Ok : ReadStatus::ConnectFailed;
}

ReadStatus ReplyReader::handshake(int* result) {
  int got = net::kHandshakeFailed;
  ReadStatus waited = stepped([&] { got = socket_.handshake(); });
  if (result) *result = got;
  if (waited != ReadStatus::Ok) return waited;
  return got == net::kOk ? ReadStatus::Ok : ReadStatus::ConnectFailed;
}

ReadStatus ReplyReader::send(const char* data, size_t size) {
  long sent = -1;
  ReadStatus waited = stepped([&] { sent = socket_.send(data, size); });
  if (waited != ReadStatus::Ok) return waited;
  return sent == static_cast<long>(size) ? ReadStatus::Ok : ReadStatus::SocketFailed;
}

}  // namespace oxm::transport
