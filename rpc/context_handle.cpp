#include "rpc/context_handle.h"

namespace rpc {

void writeContextHandle(NdrWriter& out, const ContextHandle& handle) {
  out.u32(handle.attributes);
  uint8_t uuid[Uuid::kWireSize];
  handle.uuid.toWire(uuid);
  out.bytes(uuid, sizeof uuid);
}

bool readContextHandle(NdrReader& in, ContextHandle& handle) {
  uint8_t uuid[Uuid::kWireSize];
  if (!in.u32(handle.attributes) || !in.bytes(uuid, sizeof uuid)) return false;
  handle.uuid = Uuid::fromWire(uuid);
  return true;
}

}  // namespace rpc
