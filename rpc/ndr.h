// NDR 2.0, little-endian: a writer that aligns each primitive to its size
// from the start of the stub (gaps are zero), and a reader that checks every
// read against the bytes it was given.
//
// The reader never trusts a length from the data: a read past the end, or a
// value a caller rejects with fail(), makes the reader fail for good, and
// every later read fails too. Callers check ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rpc {

class NdrWriter {
 public:
  NdrWriter() = default;
  // Room for capacity bytes before the buffer grows.
  explicit NdrWriter(size_t capacity) { buffer_.reserve(capacity); }

  void align(size_t boundary);
  void u8(uint8_t value);
  void u16(uint16_t value);
  void u32(uint32_t value);
  void i16(int16_t value) { u16(static_cast<uint16_t>(value)); }
  void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }
  void bytes(const void* data, size_t size);

  size_t size() const { return buffer_.size(); }
  const std::vector<uint8_t>& data() const { return buffer_; }
  std::vector<uint8_t> take() { return std::move(buffer_); }

 private:
  std::vector<uint8_t> buffer_;
};

class NdrReader {
 public:
  explicit NdrReader(std::span<const uint8_t> data) : data_(data) {}

  // Skips the gap up to the boundary; the gap's content is not looked at.
  bool align(size_t boundary);
  bool u8(uint8_t& value);
  bool u16(uint16_t& value);
  bool u32(uint32_t& value);
  bool i16(int16_t& value);
  bool i32(int32_t& value);
  bool bytes(void* out, size_t size);
  bool skip(size_t size);

  // Marks the data as malformed, with the reason.
  bool fail(std::string reason);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  size_t position() const { return position_; }
  size_t remaining() const { return data_.size() - position_; }

 private:
  bool need(size_t size) { return (error_.empty() && size <= remaining()) || endsEarly(size); }
  // Why need() failed: false, with the reason unless the reader failed before.
  bool endsEarly(size_t size);

  std::span<const uint8_t> data_;
  size_t position_ = 0;
  std::string error_;
};

}  // namespace rpc
