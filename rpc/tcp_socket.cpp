// What a socket does the same way on every platform: ownership moves with
// the object, the socket closes with it, and a whole buffer is received
// piece by piece. The system calls are in
// tcp_socket_posix.cpp and tcp_socket_windows.cpp.
#include "rpc/tcp_socket.h"

#include <cstring>
#include <utility>

#include "rpc/socket_system.h"

namespace rpc {

bool resolveTcp(const std::string& host, uint16_t port, int flags, addrinfo** result) {
  if (!startSockets()) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  const std::string service = std::to_string(port);
  return getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, result) == 0;
}

uint16_t portOf(const sockaddr_storage& address) {
  return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                                             : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

Status TcpSocket::keepAddress(const std::string& host, uint16_t port) {
  addrinfo* found = nullptr;
  if (!resolveTcp(host, port, 0, &found) || found == nullptr)
    return Status::error(StatusCode::ConnectFailed, "cannot resolve " + host);
  if (found->ai_addrlen > sizeof address_) {
    freeaddrinfo(found);
    return Status::error(StatusCode::ConnectFailed, "address too long");
  }
  std::memcpy(address_, found->ai_addr, found->ai_addrlen);
  addressLength_ = static_cast<unsigned>(found->ai_addrlen);
  family_ = found->ai_family;
  freeaddrinfo(found);
  host_ = host;
  port_ = port;
  return Status();
}

TcpSocket::~TcpSocket() { close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept { *this = std::move(other); }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
    host_ = std::move(other.host_);
    port_ = other.port_;
    family_ = other.family_;
    std::memcpy(address_, other.address_, sizeof address_);
    addressLength_ = other.addressLength_;
    receiveWaitMs_ = other.receiveWaitMs_;
  }
  return *this;
}

Status TcpSocket::receiveExact(std::span<uint8_t> data, const Deadline& deadline) {
  size_t received = 0;
  while (received < data.size()) {
    size_t got = 0;
    Status status = receiveSome(data.subspan(received), deadline, got);
    if (!status.isOk()) return status;
    received += got;
  }
  return Status();
}

}  // namespace rpc
