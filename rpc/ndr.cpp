#include "rpc/ndr.h"

#include <cstring>

namespace rpc {

// Every write appends whole: a primitive's bytes in one insert, a gap in
// one, so that a stub of some thousand bytes is a few dozen appends.
void NdrWriter::align(size_t boundary) {
  const size_t gap = (boundary - buffer_.size() % boundary) % boundary;
  if (gap != 0) buffer_.insert(buffer_.end(), gap, uint8_t{0});
}

void NdrWriter::u8(uint8_t value) { buffer_.push_back(value); }

void NdrWriter::u16(uint16_t value) {
  align(2);
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  buffer_.insert(buffer_.end(), bytes, bytes + 2);
}

void NdrWriter::u32(uint32_t value) {
  align(4);
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  buffer_.insert(buffer_.end(), bytes, bytes + 4);
}

void NdrWriter::bytes(const void* data, size_t size) {
  const auto* first = static_cast<const uint8_t*>(data);
  buffer_.insert(buffer_.end(), first, first + size);
}

bool NdrReader::endsEarly(size_t size) {
  if (!ok()) return false;
  return fail("stub ends " + std::to_string(size - remaining()) + " bytes early at offset " + std::to_string(position_));
}

bool NdrReader::fail(std::string reason) {
  if (ok()) error_ = reason.empty() ? "malformed stub" : std::move(reason);
  return false;
}

bool NdrReader::align(size_t boundary) {
  const size_t gap = (boundary - position_ % boundary) % boundary;
  return skip(gap);
}

bool NdrReader::skip(size_t size) {
  if (!need(size)) return false;
  position_ += size;
  return true;
}

bool NdrReader::u8(uint8_t& value) {
  if (!need(1)) return false;
  value = data_[position_++];
  return true;
}

bool NdrReader::u16(uint16_t& value) {
  if (!align(2) || !need(2)) return false;
  value = static_cast<uint16_t>(data_[position_] | data_[position_ + 1] << 8);
  position_ += 2;
  return true;
}

bool NdrReader::u32(uint32_t& value) {
  if (!align(4) || !need(4)) return false;
  value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | data_[position_ + static_cast<size_t>(i)];
  position_ += 4;
  return true;
}

bool NdrReader::i16(int16_t& value) {
  uint16_t raw = 0;
  if (!u16(raw)) return false;
  value = static_cast<int16_t>(raw);
  return true;
}

bool NdrReader::i32(int32_t& value) {
  uint32_t raw = 0;
  if (!u32(raw)) return false;
  value = static_cast<int32_t>(raw);
  return true;
}

bool NdrReader::bytes(void* out, size_t size) {
  if (!need(size)) return false;
  if (size > 0) std::memcpy(out, data_.data() + position_, size);
  position_ += size;
  return true;
}

}  // namespace rpc
