#include "rpc/uuid.h"

#include <cstdio>
#include <random>

#include "platform/system_random.h"

namespace rpc {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Uuid uuid;
  size_t out = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uuid.bytes_[out++] = static_cast<uint8_t>(high << 4 | low);
    i += 2;
  }
  return uuid;
}

Uuid Uuid::random() {
  Uuid uuid;
  if (!systemRandomBytes(uuid.bytes_.data(), uuid.bytes_.size())) {
    std::random_device device;
    for (uint8_t& byte : uuid.bytes_) byte = static_cast<uint8_t>(device());
  }
  uuid.bytes_[6] = static_cast<uint8_t>((uuid.bytes_[6] & 0x0F) | 0x40);
  uuid.bytes_[8] = static_cast<uint8_t>((uuid.bytes_[8] & 0x3F) | 0x80);
  return uuid;
}

// Wire order: bytes 0-3, 4-5 and 6-7 of the textual form reversed.
static constexpr int kWireOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

Uuid Uuid::fromWire(const uint8_t* bytes) {
  Uuid uuid;
  for (int i = 0; i < 16; ++i) uuid.bytes_[kWireOrder[i]] = bytes[i];
  return uuid;
}

void Uuid::toWire(uint8_t* bytes) const {
  for (int i = 0; i < 16; ++i) bytes[i] = bytes_[kWireOrder[i]];
}

std::string Uuid::toString() const {
  char text[37];
  const auto& b = bytes_;
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                b[13], b[14], b[15]);
  return text;
}

bool Uuid::isNil() const {
  for (uint8_t byte : bytes_)
    if (byte != 0) return false;
  return true;
}

}  // namespace rpc
