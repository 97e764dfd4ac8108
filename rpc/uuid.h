// A UUID as DCE/RPC carries it: the first three fields little-endian, the
// last eight bytes as written.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rpc {

class Uuid {
 public:
  static constexpr size_t kWireSize = 16;

  Uuid() = default;
  // From "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; nothing on a malformed text.
  static std::optional<Uuid> parse(std::string_view text);
  // A random (version 4) UUID from the system's random source.
  static Uuid random();
  static Uuid fromWire(const uint8_t* bytes);

  void toWire(uint8_t* bytes) const;
  std::string toString() const;
  bool isNil() const;

  friend bool operator==(const Uuid&, const Uuid&) = default;
  friend auto operator<=>(const Uuid&, const Uuid&) = default;

 private:
  // Held in textual order (big-endian fields), converted on the wire.
  std::array<uint8_t, 16> bytes_{};
};

}  // namespace rpc
