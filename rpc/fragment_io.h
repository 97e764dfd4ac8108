// Moving whole fragments over a connection, and putting a call's stub
// together from its fragments.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "rpc/pdu.h"
#include "rpc/status.h"
#include "rpc/tcp_socket.h"

namespace rpc {

// Reads one fragment: its first byte must come before firstByte, and the
// whole fragment before the earlier of that deadline and restLimitMs after
// the first byte (-1: the first deadline alone). The limit holds however
// the bytes are spread out. A fragment longer than maxFragment is refused
// before anything beyond its header is read, so the buffer never grows
// past what this side agreed to receive.
Status readFragment(TcpSocket& socket, size_t maxFragment, const Deadline& firstByte, int restLimitMs,
                    std::vector<uint8_t>& fragment, Header& header);

// The same, reading ahead: one receive usually brings a whole fragment (or
// several), so a fragment costs one system call instead of three. One
// reader per connection, used by one thread at a time.
class FragmentReader {
 public:
  explicit FragmentReader(TcpSocket& socket) : socket_(socket), buffer_(kCapacity) {}
  Status read(size_t maxFragment, const Deadline& firstByte, int restLimitMs, std::vector<uint8_t>& fragment,
              Header& header);
  // Whether bytes received ahead wait unread.
  bool hasBuffered() const { return end_ > begin_; }

 private:
  static constexpr size_t kCapacity = 65536 + 4096;
  Status fill(size_t needed, const Deadline& deadline);

  TcpSocket& socket_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last received byte
};

// Collects the stub of one call (request or response) from its fragments:
// the first carries FIRST_FRAG, all share the call id, LAST_FRAG ends the
// call, and the whole stub stays within maxStub bytes.
class StubAssembler {
 public:
  enum class Step { More, Complete, Error };

  explicit StubAssembler(size_t maxStub) : maxStub_(maxStub) {}

  Step add(const Header& header, std::span<const uint8_t> stubPiece, std::string& why);
  bool inProgress() const { return started_; }
  uint32_t callId() const { return callId_; }
  // The whole stub, once add() returned Complete; the assembler starts over.
  std::vector<uint8_t> take();

 private:
  size_t maxStub_;
  bool started_ = false;
  uint32_t callId_ = 0;
  std::vector<uint8_t> stub_;
};

// A stub as request or response fragments of at most maxFragment bytes,
// one after the other in one buffer.
std::vector<uint8_t> encodeRequestFragments(uint32_t callId, uint16_t contextId, uint16_t opnum,
                                            std::span<const uint8_t> stub, size_t maxFragment);
std::vector<uint8_t> encodeResponseFragments(uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub,
                                             size_t maxFragment);

// Sends those fragments, all of them before the deadline.
Status sendRequest(TcpSocket& socket, uint32_t callId, uint16_t contextId, uint16_t opnum,
                   std::span<const uint8_t> stub, size_t maxFragment, const Deadline& deadline = {});
Status sendResponse(TcpSocket& socket, uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub,
                    size_t maxFragment, const Deadline& deadline = {});

}  // namespace rpc
