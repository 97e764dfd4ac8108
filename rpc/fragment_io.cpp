#include "rpc/fragment_io.h"

#include <algorithm>

namespace rpc {

Status readFragment(TcpSocket& socket, size_t maxFragment, const Deadline& firstByte, int restLimitMs,
                    std::vector<uint8_t>& fragment, Header& header) {
  fragment.resize(kHeaderSize);
  Status status = socket.receiveExact(std::span(fragment.data(), 1), firstByte);
  if (!status.isOk()) return status;
  const Deadline rest = firstByte.cappedAt(restLimitMs);
  status = socket.receiveExact(std::span(fragment.data() + 1, kHeaderSize - 1), rest);
  if (!status.isOk()) return status;
  std::string why;
  if (!decodeHeader(fragment, header, why)) return Status::error(StatusCode::ProtocolError, why);
  if (header.fragLength > maxFragment)
    return Status::error(StatusCode::ProtocolError, "fragment of " + std::to_string(header.fragLength) +
                                                        " bytes exceeds the agreed " + std::to_string(maxFragment));
  fragment.resize(header.fragLength);
  return socket.receiveExact(std::span(fragment.data() + kHeaderSize, header.fragLength - kHeaderSize), rest);
}

Status FragmentReader::fill(size_t needed, const Deadline& deadline) {
  if (end_ - begin_ >= needed) return Status();
  if (buffer_.size() - begin_ < needed) {  // make room at the front
    std::copy(buffer_.begin() + static_cast<long>(begin_), buffer_.begin() + static_cast<long>(end_), buffer_.begin());
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ - begin_ < needed) {
    size_t received = 0;
    Status status = socket_.receiveSome(std::span(buffer_.data() + end_, buffer_.size() - end_), deadline, received);
    if (!status.isOk()) return status;
    end_ += received;
  }
  return Status();
}

Status FragmentReader::read(size_t maxFragment, const Deadline& firstByte, int restLimitMs,
                            std::vector<uint8_t>& fragment, Header& header) {
  Status status = fill(1, firstByte);
  if (!status.isOk()) return status;
  const Deadline rest = firstByte.cappedAt(restLimitMs);
  status = fill(kHeaderSize, rest);
  if (!status.isOk()) return status;
  std::string why;
  const std::span<const uint8_t> start(buffer_.data() + begin_, kHeaderSize);
  if (!decodeHeader(start, header, why)) return Status::error(StatusCode::ProtocolError, why);
  if (header.fragLength > maxFragment || header.fragLength > kCapacity)
    return Status::error(StatusCode::ProtocolError, "fragment of " + std::to_string(header.fragLength) +
                                                        " bytes exceeds the agreed " + std::to_string(maxFragment));
  status = fill(header.fragLength, rest);
  if (!status.isOk()) return status;
  fragment.assign(buffer_.begin() + static_cast<long>(begin_),
                  buffer_.begin() + static_cast<long>(begin_ + header.fragLength));
  begin_ += header.fragLength;
  if (begin_ == end_) begin_ = end_ = 0;
  return Status();
}

StubAssembler::Step StubAssembler::add(const Header& header, std::span<const uint8_t> stubPiece, std::string& why) {
  const bool first = header.flags & pfc::kFirstFrag;
  if (!started_) {
    if (!first) {
      why = "call " + std::to_string(header.callId) + " starts without FIRST_FRAG";
      return Step::Error;
    }
    started_ = true;
    callId_ = header.callId;
    stub_.clear();
  } else if (first || header.callId != callId_) {
    why = "fragment of call " + std::to_string(header.callId) + " interleaved with call " + std::to_string(callId_);
    return Step::Error;
  }
  if (stubPiece.size() > maxStub_ - stub_.size()) {
    why = "stub exceeds " + std::to_string(maxStub_) + " bytes";
    return Step::Error;
  }
  stub_.insert(stub_.end(), stubPiece.begin(), stubPiece.end());
  return (header.flags & pfc::kLastFrag) ? Step::Complete : Step::More;
}

std::vector<uint8_t> StubAssembler::take() {
  started_ = false;
  return std::move(stub_);
}

namespace {

// The stub cut into fragments of at most maxFragment bytes, all of them in
// one buffer, so that a call's request goes out in one system call.
template <typename Encode>
std::vector<uint8_t> encodeFragments(std::span<const uint8_t> stub, size_t maxFragment, Encode encode) {
  const size_t piece = stubBytesPerFragment(maxFragment, kRequestHeaderSize);
  std::vector<uint8_t> all;
  size_t offset = 0;
  do {
    const size_t length = std::min(piece, stub.size() - offset);
    uint8_t flags = 0;
    if (offset == 0) flags |= pfc::kFirstFrag;
    if (offset + length == stub.size()) flags |= pfc::kLastFrag;
    std::vector<uint8_t> fragment =
        encode(flags, static_cast<uint32_t>(stub.size() - offset), stub.subspan(offset, length));
    if (all.empty()) {
      all = std::move(fragment);
    } else {
      all.insert(all.end(), fragment.begin(), fragment.end());
    }
    offset += length;
  } while (offset < stub.size());
  return all;
}

}  // namespace

std::vector<uint8_t> encodeRequestFragments(uint32_t callId, uint16_t contextId, uint16_t opnum,
                                            std::span<const uint8_t> stub, size_t maxFragment) {
  return encodeFragments(stub, maxFragment, [&](uint8_t flags, uint32_t remaining, std::span<const uint8_t> piece) {
    RequestBody body;
    body.allocHint = remaining;
    body.contextId = contextId;
    body.opnum = opnum;
    body.stub = piece;
    return encodeRequest(callId, flags, body);
  });
}

std::vector<uint8_t> encodeResponseFragments(uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub,
                                             size_t maxFragment) {
  return encodeFragments(stub, maxFragment, [&](uint8_t flags, uint32_t remaining, std::span<const uint8_t> piece) {
    ResponseBody body;
    body.allocHint = remaining;
    body.contextId = contextId;
    body.stub = piece;
    return encodeResponse(callId, flags, body);
  });
}

Status sendRequest(TcpSocket& socket, uint32_t callId, uint16_t contextId, uint16_t opnum,
                   std::span<const uint8_t> stub, size_t maxFragment, const Deadline& deadline) {
  return socket.sendAll(encodeRequestFragments(callId, contextId, opnum, stub, maxFragment), deadline);
}

Status sendResponse(TcpSocket& socket, uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub,
                    size_t maxFragment, const Deadline& deadline) {
  return socket.sendAll(encodeResponseFragments(callId, contextId, stub, maxFragment), deadline);
}

}  // namespace rpc
