#include "rpc/tcp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "rpc/socket_system.h"

namespace rpc {
namespace {

std::string errorText(int error) { return std::strerror(error); }

}  // namespace

// The BSD socket calls need no start.
bool startSockets() { return true; }

Status TcpSocket::open(const std::string& host, uint16_t port) {
  close();
  const Status resolved = keepAddress(host, port);
  if (!resolved.isOk()) return resolved;
  fd_ = ::socket(family_, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return Status::error(StatusCode::ConnectFailed, "socket: " + errorText(errno));
  return Status();
}

Status TcpSocket::connect(int timeoutMs) {
  const std::string where = host_ + "[" + std::to_string(port_) + "]";
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(address_), addressLength_) != 0) {
    if (errno != EINPROGRESS) return Status::error(StatusCode::ConnectFailed, where + ": " + errorText(errno));
    pollfd waiter{fd_, POLLOUT, 0};
    const int ready = ::poll(&waiter, 1, timeoutMs);
    if (ready == 0) return Status::error(StatusCode::ConnectTimeout, where);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) return Status::error(StatusCode::ConnectFailed, where + ": " + errorText(error));
    // A socket shut down by abort() while connecting reports no error but
    // is no longer usable: the caller sees that on its first transfer.
  }
  // From here on the socket blocks; waits are bounded with poll().
  const int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  return Status();
}

Status TcpSocket::sendAll(std::span<const uint8_t> data, const Deadline& deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    // Without waiting: a send that would block waits below, within the deadline.
    const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int waitMs = deadline.waitMs();
      if (waitMs == 0) return Status::error(StatusCode::Timeout, "the peer took no more data in time");
      pollfd waiter{fd_, POLLOUT, 0};
      if (::poll(&waiter, 1, waitMs) < 0 && errno != EINTR)
        return Status::error(StatusCode::ConnectionClosed, "send: " + errorText(errno));
      continue;
    }
    return Status::error(StatusCode::ConnectionClosed, "send: " + errorText(errno));
  }
  return Status();
}

// A receive blocks in the kernel, bounded by SO_RCVTIMEO rather than by a
// poll() before it: one system call per receive, as for a socket without
// limits. The bound is lowered only when a deadline comes sooner than the
// one set, so calls with like deadlines on one connection change nothing.
Status TcpSocket::receiveSome(std::span<uint8_t> data, const Deadline& deadline, size_t& received) {
  received = 0;
  bool force = false;
  for (;;) {
    const int waitMs = deadline.waitMs();
    if (waitMs == 0) return Status::error(StatusCode::Timeout, "no answer within the deadline");
    const bool lower = waitMs > 0 && (receiveWaitMs_ < 0 || receiveWaitMs_ > waitMs);
    const bool unbound = waitMs < 0 && receiveWaitMs_ >= 0;
    if (force || lower || unbound) {
      timeval limit{};
      if (waitMs > 0) limit = {waitMs / 1000, static_cast<suseconds_t>(waitMs % 1000) * 1000};
      if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
        return Status::error(StatusCode::ConnectionClosed, "receive: " + errorText(errno));
      receiveWaitMs_ = waitMs;
      force = false;
    }
    const ssize_t n = ::recv(fd_, data.data(), data.size(), 0);
    if (n > 0) {
      received = static_cast<size_t>(n);
      return Status();
    }
    if (n == 0) return Status::error(StatusCode::ConnectionClosed, "closed by the peer");
    if (errno == EINTR) continue;
    // The bound set ran out: either the deadline passed, or the bound was
    // that of an earlier, nearer deadline and is set anew.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      force = true;
      continue;
    }
    return Status::error(StatusCode::ConnectionClosed, "receive: " + errorText(errno));
  }
}

bool TcpSocket::peerClosed() const {
  if (fd_ < 0) return true;
  uint8_t byte = 0;
  const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

bool TcpSocket::isIdleAndOpen() const {
  if (fd_ < 0) return false;
  uint8_t byte = 0;
  ssize_t n = 0;
  do {
    n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  // n > 0: the peer sent something nobody asked for (such as a shutdown
  // PDU); n == 0: it closed; any error but "nothing there": it broke.
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void TcpSocket::setNoDelay() {
  const int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TcpSocket::setKeepAlive(const KeepAlive& settings) {
  const int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &settings.idleSeconds, sizeof settings.idleSeconds);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &settings.intervalSeconds, sizeof settings.intervalSeconds);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &settings.count, sizeof settings.count);
  // Data that the peer never acknowledges ends the connection in the same time.
  const unsigned userTimeoutMs =
      static_cast<unsigned>((settings.idleSeconds + settings.intervalSeconds * settings.count) * 1000);
  setsockopt(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

void TcpSocket::abort() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TcpListener::~TcpListener() {
  if (fd_ >= 0) ::close(fd_);
}

Status TcpListener::listen(const std::string& host, uint16_t port) {
  addrinfo* found = nullptr;
  if (!resolveTcp(host, port, AI_PASSIVE, &found) || found == nullptr)
    return Status::error(StatusCode::ConnectFailed, "cannot resolve " + host);
  fd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd_ < 0 || ::bind(fd_, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd_, 128) != 0) {
    const int error = errno;
    freeaddrinfo(found);
    return Status::error(StatusCode::ConnectFailed, "listen on " + host + ":" + std::to_string(port) + ": " + errorText(error));
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = portOf(bound);
  return Status();
}

TcpSocket TcpListener::accept() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return TcpSocket(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    // EMFILE and friends: back off briefly rather than spin.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      pollfd waiter{fd_, POLLIN, 0};
      ::poll(&waiter, 1, 100);
      continue;
    }
    return TcpSocket();
  }
}

void TcpListener::shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace rpc
