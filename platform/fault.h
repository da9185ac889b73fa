// Fault injection for the platform layer: tests make the Nth call of an operation fail with a
// chosen error, report a chosen free space, or kill the process at a chosen call.
//
// The plans and call counters live in a table. Every thread uses the process-wide table until a
// Session gives it (and the worker threads it starts through platform/worker.h) a private one,
// so that a test can sweep "fail the Nth recv" of its own conversation while other threads'
// calls do not move its counters.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/wintypes.h"

namespace oxm::fault {

// Map is the creation of a memory mapping (mapping.h); its flushes count as Flush. Connect,
// Send, Recv and Handshake are the socket calls of net.h (a send counts once per call, however
// many partial writes it takes) and Socket the making of a socket (Socket::open); Thread is the
// start of a worker thread (worker.h). HttpOpen, HttpConnect, HttpRequest, HttpSend and HttpRead
// are the steps of an HTTP request (http.h); HttpRead counts the body reads.
enum class Op {
  Open, Read, Write, Flush, Rename, Delete, CreateDir, RemoveDir, Find, Map,
  Connect, Send, Recv, Handshake, Thread, Socket,
  HttpOpen, HttpConnect, HttpRequest, HttpSend, HttpRead,
  Count
};

// The nth call of `op` from now (1 = the next one) and the `times - 1` calls after it fail with
// `error` without doing anything; times < 0 fails every call from the nth on.
void failNth(Op op, int n, DWORD error, int times = 1);
// The process kills itself (SIGKILL) when it reaches the nth call of `op`, before doing it.
void killAtNth(Op op, int n);
// GetDiskFreeSpaceExW reports this value instead of the file system's.
void setFreeSpace(std::optional<uint64_t> bytes);
// Clears every injected fault and the call counters (of the calling thread's table).
void reset();
// Calls of `op` since the last reset.
long calls(Op op);

// The table the calling thread uses; a worker adopts its starter's table.
struct Table;
using Context = std::shared_ptr<Table>;
Context current();
// Makes `context` the calling thread's table (null: the process-wide one).
void adopt(Context context);

// A private table for the creating thread while the session lives; the thread's previous table
// comes back at its end.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  Context previous_;
};

// Used by the platform layer itself: counts the call and tells whether it must fail
// (the error is then already set as the last error).
bool injected(Op op);
std::optional<uint64_t> freeSpaceOverride();

}  // namespace oxm::fault
