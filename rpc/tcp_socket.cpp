// What a socket does the same way on every platform: ownership moves with
// the object, and the socket closes with it. The system calls are in
// tcp_socket_posix.cpp and tcp_socket_windows.cpp.
#include "rpc/tcp_socket.h"

#include <cstring>
#include <utility>

namespace rpc {

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
  }
  return *this;
}

}  // namespace rpc
