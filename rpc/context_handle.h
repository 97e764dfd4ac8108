// A context handle as it travels: 20 bytes, attributes then a UUID. The nil
// UUID is the null handle.
#pragma once

#include <cstdint>

#include "rpc/ndr.h"
#include "rpc/uuid.h"

namespace rpc {

struct ContextHandle {
  static constexpr size_t kWireSize = 20;

  uint32_t attributes = 0;
  Uuid uuid;

  bool isNull() const { return uuid.isNil(); }
  friend bool operator==(const ContextHandle&, const ContextHandle&) = default;
};

void writeContextHandle(NdrWriter& out, const ContextHandle& handle);
bool readContextHandle(NdrReader& in, ContextHandle& handle);

}  // namespace rpc
