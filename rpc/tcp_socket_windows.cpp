#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <cstring>
#include <mutex>
#include <string>

#include "rpc/socket_system.h"
#include "rpc/tcp_socket.h"

// Winsock: the descriptor kept in the socket object is the SOCKET value,
// which the system keeps within 32 bits.

namespace rpc {
namespace {

// Socket options of newer systems that mingw-w64's headers do not name yet.
constexpr int kTcpMaxRetransmitSeconds = 5;  // TCP_MAXRT
constexpr int kTcpKeepAliveCount = 16;       // TCP_KEEPCNT

SOCKET handleOf(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }
int fdOf(SOCKET socket) { return socket == INVALID_SOCKET ? -1 : static_cast<int>(socket); }

std::string errorText(int error) { return "Winsock error " + std::to_string(error); }

// Waits until the socket has data (or its end) for at most timeoutMs: 1
// ready, 0 timed out, -1 failed.
int waitReadable(SOCKET socket, int timeoutMs) {
  WSAPOLLFD waiter{socket, POLLRDNORM, 0};
  return WSAPoll(&waiter, 1, timeoutMs);
}

}  // namespace

// Winsock is started once per process and stays up until the process ends.
bool startSockets() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

Status TcpSocket::open(const std::string& host, uint16_t port) {
  close();
  const Status resolved = keepAddress(host, port);
  if (!resolved.isOk()) return resolved;
  const SOCKET socket = WSASocketW(family_, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return Status::error(StatusCode::ConnectFailed, "socket: " + errorText(WSAGetLastError()));
  u_long nonBlocking = 1;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  fd_ = fdOf(socket);
  return Status();
}

Status TcpSocket::connect(int timeoutMs) {
  const std::string where = host_ + "[" + std::to_string(port_) + "]";
  const SOCKET socket = handleOf(fd_);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(address_), static_cast<int>(addressLength_)) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Status::error(StatusCode::ConnectFailed, where + ": " + errorText(error));
    // select() reports a refused connection among the exceptions, where
    // WSAPoll on some systems reports nothing.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
    if (ready == 0) return Status::error(StatusCode::ConnectTimeout, where);
    int socketError = 0;
    int length = sizeof socketError;
    if (ready < 0 ||
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &length) != 0) {
      socketError = WSAGetLastError();
    }
    if (socketError == 0 && FD_ISSET(socket, &failed)) socketError = WSAECONNREFUSED;
    if (socketError != 0) return Status::error(StatusCode::ConnectFailed, where + ": " + errorText(socketError));
  }
  // From here on the socket blocks; waits are bounded with WSAPoll().
  u_long blocking = 0;
  ioctlsocket(socket, FIONBIO, &blocking);
  return Status();
}

Status TcpSocket::sendAll(std::span<const uint8_t> data, const Deadline& deadline) {
  const SOCKET socket = handleOf(fd_);
  size_t sent = 0;
  while (sent < data.size()) {
    if (deadline.limited()) {
      // A blocking send returns once the system took the bytes; it is
      // started only when there is room for them.
      WSAPOLLFD waiter{socket, POLLWRNORM, 0};
      const int ready = WSAPoll(&waiter, 1, deadline.waitMs());
      if (ready == 0) return Status::error(StatusCode::Timeout, "the peer took no more data in time");
    }
    const int n = ::send(socket, reinterpret_cast<const char*>(data.data() + sent), static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return Status::error(StatusCode::ConnectionClosed, "send: " + errorText(WSAGetLastError()));
    sent += static_cast<size_t>(n);
  }
  return Status();
}

Status TcpSocket::receiveSome(std::span<uint8_t> data, const Deadline& deadline, size_t& received) {
  received = 0;
  const SOCKET socket = handleOf(fd_);
  if (deadline.limited()) {
    const int ready = waitReadable(socket, deadline.waitMs());
    if (ready == 0) return Status::error(StatusCode::Timeout, "no answer within the deadline");
  }
  const int n = ::recv(socket, reinterpret_cast<char*>(data.data()), static_cast<int>(data.size()), 0);
  if (n == 0) return Status::error(StatusCode::ConnectionClosed, "closed by the peer");
  if (n < 0) return Status::error(StatusCode::ConnectionClosed, "receive: " + errorText(WSAGetLastError()));
  received = static_cast<size_t>(n);
  return Status();
}

bool TcpSocket::peerClosed() const {
  if (fd_ < 0) return true;
  const SOCKET socket = handleOf(fd_);
  const int ready = waitReadable(socket, 0);
  if (ready == 0) return false;  // nothing to read: the connection is quiet, not closed
  if (ready < 0) return true;
  char byte = 0;
  const int n = ::recv(socket, &byte, 1, MSG_PEEK);
  return n <= 0;
}

bool TcpSocket::isIdleAndOpen() const {
  if (fd_ < 0) return false;
  // Readable means data nobody asked for (such as a shutdown PDU), the
  // peer's close or a reset: only a quiet connection can carry the next call.
  WSAPOLLFD waiter{handleOf(fd_), POLLRDNORM, 0};
  return WSAPoll(&waiter, 1, 0) == 0;
}

void TcpSocket::setNoDelay() {
  const BOOL on = TRUE;
  setsockopt(handleOf(fd_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void TcpSocket::setKeepAlive(const KeepAlive& settings) {
  const SOCKET socket = handleOf(fd_);
  tcp_keepalive values{1, static_cast<ULONG>(settings.idleSeconds) * 1000u,
                       static_cast<ULONG>(settings.intervalSeconds) * 1000u};
  DWORD returned = 0;
  WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
  // The probe count can be set on newer systems only; elsewhere it is the system's.
  setsockopt(socket, IPPROTO_TCP, kTcpKeepAliveCount, reinterpret_cast<const char*>(&settings.count), sizeof settings.count);
  // Data that the peer never acknowledges ends the connection in the same time.
  const DWORD retransmitSeconds = static_cast<DWORD>(settings.idleSeconds + settings.intervalSeconds * settings.count);
  setsockopt(socket, IPPROTO_TCP, kTcpMaxRetransmitSeconds, reinterpret_cast<const char*>(&retransmitSeconds),
             sizeof retransmitSeconds);
}

void TcpSocket::abort() {
  if (fd_ < 0) return;
  const SOCKET socket = handleOf(fd_);
  ::shutdown(socket, SD_BOTH);
  // A receive blocked in another thread is ended by cancelling it.
  CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

void TcpSocket::close() {
  if (fd_ >= 0) ::closesocket(handleOf(fd_));
  fd_ = -1;
}

TcpListener::~TcpListener() {
  if (fd_ >= 0) ::closesocket(handleOf(fd_));
}

Status TcpListener::listen(const std::string& host, uint16_t port) {
  addrinfo* found = nullptr;
  if (!resolveTcp(host, port, AI_PASSIVE, &found) || found == nullptr)
    return Status::error(StatusCode::ConnectFailed, "cannot resolve " + host);
  const SOCKET socket = WSASocketW(found->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  // Another process may not take the port over while it is ours.
  const BOOL on = TRUE;
  if (socket != INVALID_SOCKET) {
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  }
  if (socket == INVALID_SOCKET || ::bind(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
      ::listen(socket, 128) != 0) {
    const int error = WSAGetLastError();
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    freeaddrinfo(found);
    return Status::error(StatusCode::ConnectFailed,
                         "listen on " + host + ":" + std::to_string(port) + ": " + errorText(error));
  }
  freeaddrinfo(found);
  fd_ = fdOf(socket);
  sockaddr_storage bound{};
  int length = sizeof bound;
  getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = portOf(bound);
  return Status();
}

TcpSocket TcpListener::accept() {
  for (;;) {
    const int fd = fd_;
    if (fd < 0) return TcpSocket();
    const SOCKET socket = ::accept(handleOf(fd), nullptr, nullptr);
    if (socket != INVALID_SOCKET) return TcpSocket(fdOf(socket));
    const int error = WSAGetLastError();
    if (error == WSAEINTR || error == WSAECONNRESET) continue;
    if (error == WSAEMFILE || error == WSAENOBUFS) {
      // Out of sockets: back off briefly rather than spin.
      waitReadable(handleOf(fd), 100);
      continue;
    }
    return TcpSocket();
  }
}

void TcpListener::shutdown() {
  // Closing the socket is what ends a blocked accept() here.
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0) ::closesocket(handleOf(fd));
}

}  // namespace rpc
