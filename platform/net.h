// IPv4 TCP sockets with an optional TLS session (OpenSSL), as the mail clients use them.
//
// Every blocking call (connect, handshake, send, recv, waitReadable) waits in poll() beside a
// wake-up descriptor, so another thread can end it: interrupt() ends the calls in progress and
// the following ones until clearInterrupt(), leaving the connection usable (a reader that gives
// up on a reply can still send QUIT); shutdownFromOtherThread() ends them for good (abort).
//
// Secure mode: setSecure before connect. The TLS handshake runs at the end of connect, or at
// handshake() when it is deferred (STARTTLS). The peer's chain is verified against the system
// CAs (and the test trust file, if set); a chain whose issuer cannot be traced to a trusted one
// gives flag bit 0 ("issuer unknown") to the certificate hook, which gets the chain as DER
// blobs, leaf first, and the host name as a NUL-terminated narrow string. A hook result other
// than 0 fails the handshake. Without a hook every certificate is accepted.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/wintypes.h"

namespace oxm::net {

typedef int (*CertHook)(unsigned long type, void* hostName, unsigned long chainLength, BLOB* chain,
                        unsigned long flags);

enum : unsigned long { kCertChainX509 = 1, kCertIssuerUnknown = 1 };

// Results of connect and handshake.
enum : int { kOk = 0, kResolveFailed = -1, kConnectFailed = -2, kHandshakeFailed = -3 };
// waitReadable's result when interrupt() ended the wait.
enum : int { kInterrupted = -2 };
// recvNow's result when nothing can be read without waiting.
constexpr long kWouldBlock = -2;

class Socket {
 public:
  Socket();
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Creates the socket; false when the host refuses (the caller's *_SOCKET_ERR).
  bool open();
  // Secure-socket mode for the next connect; deferHandshake leaves the handshake to handshake().
  void setSecure(const std::string& host, CertHook hook, bool deferHandshake);
  // A dotted address first, else the first IPv4 address of a name lookup; then, in secure mode
  // without deferral, the handshake. kOk, kResolveFailed, kConnectFailed or kHandshakeFailed.
  int connect(const std::string& host, unsigned port);
  // The deferred handshake: kOk or kHandshakeFailed (also when the socket is not secure).
  int handshake();
  // Sends the whole buffer: its size, or -1.
  long send(const char* data, size_t size);
  // > 0 bytes, 0 when the peer closed the connection, -1 on failure or interruption.
  long recv(char* buffer, size_t size);
  // recv without waiting: kWouldBlock when it would have to wait for the peer.
  long recvNow(char* buffer, size_t size);
  // 1 readable (or TLS bytes already decrypted), 0 time-out, -1 error, kInterrupted.
  // timeoutMs < 0: no limit.
  int waitReadable(int timeoutMs);

  void interrupt();
  void clearInterrupt();
  void shutdownFromOtherThread();
  void close();

  bool isOpen() const;
  // A TLS session is up (its handshake and the certificate hook passed).
  bool isSecure() const;
  // The local port of a connected socket (tests), 0 when none.
  unsigned localPort() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Certificates in this PEM file are trusted beside the system CAs (tests trust their own
// certificates so that a check other than the issuer's is what fails). Empty: none.
void setExtraTrustFile(const std::string& pemPath);

// Tests: a connect to `port` goes to `target` instead (0 removes the redirection), so that a
// client that switches on TLS for a fixed port (POP3 995) reaches a test server on a free port.
// The pairs of OXMIDDLE_PORT_REDIRECT (platform/env.h) are in place from the first connect.
void setPortRedirect(unsigned port, unsigned target);

}  // namespace oxm::net
