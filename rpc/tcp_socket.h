// A TCP connection with bounded waits, and a listening socket.
//
// Every wait of a connection ends at a Deadline given by the caller: one
// deadline may span many sends and receives, and a peer that sends or
// takes its bytes at a trickle cannot stretch it.
//
// abort() may be called from any thread while another thread is blocked in
// a send or receive on the same socket: it shuts the connection down, the
// blocked call returns ConnectionClosed at once, and the descriptor itself
// stays valid until the object is destroyed.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rpc/deadline.h"
#include "rpc/status.h"

namespace rpc {

// TCP keep-alive settings that detect a silent peer: the first probe after
// idleSeconds without traffic, then every intervalSeconds, giving up after
// count unanswered probes.
struct KeepAlive {
  int idleSeconds = 10;
  int intervalSeconds = 2;
  int count = 3;
};

class TcpSocket {
 public:
  static constexpr int kNoLimit = -1;

  TcpSocket() = default;
  explicit TcpSocket(int fd) : fd_(fd) {}
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Creates the socket for connect(); abort() works from here on.
  Status open(const std::string& host, uint16_t port);
  // Connects within timeoutMs.
  Status connect(int timeoutMs);

  // Sends all of data before the deadline; Timeout when the peer does not
  // take it in time.
  Status sendAll(std::span<const uint8_t> data, const Deadline& deadline = {});
  // Fills data completely before the deadline. ConnectionClosed when the
  // peer closes first, Timeout when the deadline passes.
  Status receiveExact(std::span<uint8_t> data, const Deadline& deadline = {});
  // Receives at least one byte and at most data.size() before the
  // deadline; received tells how many.
  Status receiveSome(std::span<uint8_t> data, const Deadline& deadline, size_t& received);
  // Whether the peer has closed its side or the connection broke, without
  // waiting and without consuming anything.
  bool peerClosed() const;
  // Whether a connection between two calls can carry the next one: open,
  // neither closed nor reset by the peer, and nothing unread waiting on it.
  // One non-blocking peek.
  bool isIdleAndOpen() const;

  void setNoDelay();
  void setKeepAlive(const KeepAlive& settings);
  void abort();
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  // Resolves host and port and keeps the first address for connect().
  Status keepAddress(const std::string& host, uint16_t port);

  int fd_ = -1;
  std::string host_;
  uint16_t port_ = 0;
  int family_ = 0;
  // The resolved address, kept between open() and connect().
  alignas(8) unsigned char address_[128] = {};
  unsigned addressLength_ = 0;
  // The longest a single blocking receive may wait as the system was last
  // told, in milliseconds; -1: without limit. Where the platform bounds a
  // receive this way, it is changed only when a deadline comes sooner.
  int receiveWaitMs_ = -1;
};

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  Status listen(const std::string& host, uint16_t port);
  uint16_t port() const { return port_; }
  // Waits for the next connection; a closed socket (fd < 0) once shutdown()
  // was called.
  TcpSocket accept();
  // Ends accept() waits; safe from any thread.
  void shutdown();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace rpc
