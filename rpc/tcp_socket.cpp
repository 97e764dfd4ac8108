// What a socket does the same way on every platform: ownership moves with
// the object, the socket closes with it, and a whole buffer is received
// piece by piece. The system calls are in
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
