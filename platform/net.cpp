#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "platform/env.h"
#include "platform/fault.h"

namespace oxm::net {

namespace {

std::mutex trustLock;
std::string extraTrust;

// SSL_write on a connection the peer has closed raises SIGPIPE (OpenSSL writes with write()):
// the signal is blocked on this thread for the call and a pending one is consumed.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipe_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipe_, old_;
  bool wasPending_ = false;
};

long elapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - since).count());
}

// Chain errors that mean the issuer could not be traced to a trusted certificate.
bool issuerError(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct Socket::Impl {
  std::mutex fdLock;  // close against shutdownFromOtherThread
  int fd = -1;
  int wakeFd = -1;
  std::atomic<bool> shut{false};

  bool secure = false;
  bool defer = false;
  std::string host;
  CertHook hook = nullptr;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  bool established = false;  // the handshake and the certificate hook passed
  bool issuerUnknown = false;
  bool wantWrite = false;  // the last read must wait to write (TLS)

  ~Impl() {
    closeAll();
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void closeAll() {
    established = false;
    if (ssl) {
      SSL_free(ssl);
      ssl = nullptr;
    }
    if (ctx) {
      SSL_CTX_free(ctx);
      ctx = nullptr;
    }
    std::lock_guard<std::mutex> g(fdLock);
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  // 1 ready, 0 time-out, -1 error or shut down, kInterrupted.
  int waitFor(short events, int timeoutMs) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
      if (shut.load() || fd < 0) return -1;
      struct pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
      int left = timeoutMs;
      if (timeoutMs >= 0) {
        left = timeoutMs - static_cast<int>(elapsedMs(start));
        if (left < 0) left = 0;
      }
      int n = poll(p, 2, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (shut.load()) return -1;
      if (p[1].revents & POLLIN) return kInterrupted;
      if (n == 0) return 0;
      if (p[0].revents & (events | POLLERR | POLLHUP)) return 1;
      if (p[0].revents & POLLNVAL) return -1;
    }
  }

  // One read of what is there: bytes, 0 at the peer's close, -1 on failure, kWouldBlock when
  // the peer must send (or, with TLS, receive: wantWrite) first.
  long readNow(char* buffer, size_t size) {
    if (fd < 0 || shut.load()) return -1;
    if (size == 0) return 0;
    wantWrite = false;
    for (;;) {
      if (ssl) {
        size_t got = 0;
        int r = SSL_read_ex(ssl, buffer, size, &got);
        if (r == 1) return static_cast<long>(got);
        int e = SSL_get_error(ssl, r);
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
          wantWrite = e == SSL_ERROR_WANT_WRITE;
          return kWouldBlock;
        }
        ERR_clear_error();
        return -1;
      }
      ssize_t n = ::recv(fd, buffer, size, 0);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
    }
  }

  // Waits as OpenSSL asked after a call that returned `ret`; false when the call failed.
  bool sslRetry(int ret) {
    int e = SSL_get_error(ssl, ret);
    if (e == SSL_ERROR_WANT_READ) return waitFor(POLLIN, -1) == 1;
    if (e == SSL_ERROR_WANT_WRITE) return waitFor(POLLOUT, -1) == 1;
    return false;
  }

  static int verifyCallback(int ok, X509_STORE_CTX* store) {
    if (!ok) {
      SSL* s = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
      Impl* self = s ? static_cast<Impl*>(SSL_get_app_data(s)) : nullptr;
      if (self && issuerError(X509_STORE_CTX_get_error(store))) self->issuerUnknown = true;
    }
    return 1;  // the hook decides; the handshake itself goes on
  }

  int runHandshake() {
    if (fault::injected(fault::Op::Handshake)) return kHandshakeFailed;
    if (!secure || fd < 0 || ssl) return kHandshakeFailed;
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return kHandshakeFailed;
    SSL_CTX_set_default_verify_paths(ctx);
    {
      std::lock_guard<std::mutex> g(trustLock);
      if (!extraTrust.empty()) SSL_CTX_load_verify_locations(ctx, extraTrust.c_str(), nullptr);
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verifyCallback);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    ssl = SSL_new(ctx);
    if (!ssl || SSL_set_fd(ssl, fd) != 1) return kHandshakeFailed;
    SSL_set_app_data(ssl, this);
    struct in_addr probe;
    if (!host.empty() && inet_pton(AF_INET, host.c_str(), &probe) != 1)
      SSL_set_tlsext_host_name(ssl, host.c_str());
    issuerUnknown = false;
    for (;;) {
      SigpipeGuard guard;
      int r = SSL_connect(ssl);
      if (r == 1) break;
      if (!sslRetry(r)) {
        ERR_clear_error();
        return kHandshakeFailed;
      }
    }
    if (!checkCertificate()) return kHandshakeFailed;
    established = true;
    return kOk;
  }

  bool checkCertificate() {
    if (!hook) return true;
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
    int count = chain ? sk_X509_num(chain) : 0;
    std::vector<std::vector<BYTE>> der(count);
    std::vector<BLOB> blobs(count);
    for (int i = 0; i < count; ++i) {
      X509* cert = sk_X509_value(chain, i);
      int len = i2d_X509(cert, nullptr);
      if (len <= 0) return false;
      der[i].resize(len);
      BYTE* out = der[i].data();
      i2d_X509(cert, &out);
      blobs[i].cbSize = static_cast<DWORD>(len);
      blobs[i].pBlobData = der[i].data();
    }
    std::string name = host;
    unsigned long flags = issuerUnknown ? static_cast<unsigned long>(kCertIssuerUnknown) : 0UL;
    return hook(kCertChainX509, name.data(), static_cast<unsigned long>(count),
                count ? blobs.data() : nullptr, flags) == 0;
  }
};

Socket::Socket() : impl_(std::make_unique<Impl>()) {}
Socket::~Socket() = default;
Socket::Socket(Socket&& other) noexcept = default;
Socket& Socket::operator=(Socket&& other) noexcept = default;

bool Socket::open() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  impl_->closeAll();
  clearInterrupt();
  if (fault::injected(fault::Op::Socket)) return false;
  if (impl_->wakeFd < 0) {
    impl_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wakeFd < 0) return false;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::lock_guard<std::mutex> g(impl_->fdLock);
  impl_->fd = fd;
  impl_->shut = false;
  return true;
}

void Socket::setSecure(const std::string& host, CertHook hook, bool deferHandshake) {
  impl_->secure = true;
  impl_->host = host;
  impl_->hook = hook;
  impl_->defer = deferHandshake;
}

namespace {
std::mutex redirectLock;

// The redirections, starting with those of the environment; the caller holds redirectLock.
std::map<unsigned, unsigned>& redirects() {
  static std::map<unsigned, unsigned> table = [] {
    std::map<unsigned, unsigned> fromEnv;
    for (const auto& [from, to] : portRedirects()) fromEnv[from] = to;
    return fromEnv;
  }();
  return table;
}

unsigned redirected(unsigned port) {
  std::lock_guard<std::mutex> g(redirectLock);
  auto at = redirects().find(port);
  return at == redirects().end() ? port : at->second;
}
}  // namespace

int Socket::connect(const std::string& host, unsigned port) {
  Impl& s = *impl_;
  if (fault::injected(fault::Op::Connect)) return kConnectFailed;
  port = redirected(port);
  if (s.fd < 0 || port == 0 || port > 65535) return kConnectFailed;
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    struct addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
      return kResolveFailed;
    addr.sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }
  if (::connect(s.fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return kConnectFailed;
    if (s.waitFor(POLLOUT, -1) != 1) return kConnectFailed;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return kConnectFailed;
  }
  if (s.secure && !s.defer) return s.runHandshake();
  return kOk;
}

int Socket::handshake() { return impl_->runHandshake(); }

long Socket::send(const char* data, size_t size) {
  Impl& s = *impl_;
  if (fault::injected(fault::Op::Send)) return -1;
  if (s.fd < 0 || s.shut.load()) return -1;
  size_t done = 0;
  while (done < size) {
    if (s.ssl) {
      size_t wrote = 0;
      int r;
      {
        SigpipeGuard guard;
        r = SSL_write_ex(s.ssl, data + done, size - done, &wrote);
      }
      if (r == 1) {
        done += wrote;
        continue;
      }
      if (!s.sslRetry(r)) {
        ERR_clear_error();
        return -1;
      }
      continue;
    }
    ssize_t n = ::send(s.fd, data + done, size - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (s.waitFor(POLLOUT, -1) != 1) return -1;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return -1;
    }
  }
  return static_cast<long>(size);
}

long Socket::recv(char* buffer, size_t size) {
  Impl& s = *impl_;
  if (fault::injected(fault::Op::Recv)) return -1;
  for (;;) {
    long n = s.readNow(buffer, size);
    if (n != kWouldBlock) return n;
    if (s.waitFor(s.wantWrite ? POLLOUT : POLLIN, -1) != 1) return -1;
  }
}

long Socket::recvNow(char* buffer, size_t size) {
  Impl& s = *impl_;
  // A read that finds nothing is no read for the fault counter: its count stays that of recv.
  long n = s.readNow(buffer, size);
  if (n != kWouldBlock && fault::injected(fault::Op::Recv)) return -1;
  return n;
}

int Socket::waitReadable(int timeoutMs) {
  Impl& s = *impl_;
  if (s.ssl && SSL_pending(s.ssl) > 0) return 1;
  return s.waitFor(POLLIN, timeoutMs < 0 ? -1 : timeoutMs);
}

void Socket::interrupt() {
  if (impl_ && impl_->wakeFd >= 0) {
    uint64_t one = 1;
    ssize_t n = ::write(impl_->wakeFd, &one, sizeof one);
    (void)n;
  }
}

void Socket::clearInterrupt() {
  if (impl_ && impl_->wakeFd >= 0) {
    uint64_t value;
    ssize_t n = ::read(impl_->wakeFd, &value, sizeof value);
    (void)n;
  }
}

void Socket::shutdownFromOtherThread() {
  if (!impl_) return;
  impl_->shut = true;
  interrupt();
  std::lock_guard<std::mutex> g(impl_->fdLock);
  if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
}

void Socket::close() {
  if (!impl_) return;
  Impl& s = *impl_;
  if (s.ssl && !s.shut.load()) {
    SigpipeGuard guard;
    SSL_shutdown(s.ssl);  // one try at close_notify; the socket is non-blocking
    ERR_clear_error();
  }
  s.closeAll();
  s.secure = false;
  s.defer = false;
  s.hook = nullptr;
  clearInterrupt();
}

bool Socket::isOpen() const { return impl_ && impl_->fd >= 0; }

bool Socket::isSecure() const { return impl_ && impl_->established; }

unsigned Socket::localPort() const {
  if (!impl_ || impl_->fd < 0) return 0;
  struct sockaddr_in addr = {};
  socklen_t len = sizeof addr;
  if (getsockname(impl_->fd, reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

void setPortRedirect(unsigned port, unsigned target) {
  std::lock_guard<std::mutex> g(redirectLock);
  if (target == 0) {
    redirects().erase(port);
  } else {
    redirects()[port] = target;
  }
}

void setExtraTrustFile(const std::string& pemPath) {
  std::lock_guard<std::mutex> g(trustLock);
  extraTrust = pemPath;
}

}  // namespace oxm::net
