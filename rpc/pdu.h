// The PDUs of the connection-oriented protocol, little-endian data
// representation, no authentication: encoding into whole fragments and
// decoding of a whole fragment with every field checked.
//
// Decoders take one complete fragment (header included), as the fragment
// reader delivers it, and return false with a reason for anything malformed.
// Stub spans in decoded bodies point into the fragment given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rpc/uuid.h"

namespace rpc {

enum class PduType : uint8_t {
  Request = 0,
  Response = 2,
  Fault = 3,
  Bind = 11,
  BindAck = 12,
  BindNak = 13,
  AlterContext = 14,
  AlterContextResp = 15,
  Shutdown = 17,
  CoCancel = 18,
  Orphaned = 19,
};

namespace pfc {
constexpr uint8_t kFirstFrag = 0x01;
constexpr uint8_t kLastFrag = 0x02;
constexpr uint8_t kPendingCancel = 0x04;
constexpr uint8_t kConcMpx = 0x10;
constexpr uint8_t kDidNotExecute = 0x20;
constexpr uint8_t kMaybe = 0x40;
constexpr uint8_t kObjectUuid = 0x80;
}  // namespace pfc

constexpr size_t kHeaderSize = 16;
constexpr size_t kRequestHeaderSize = 24;   // request and response
constexpr size_t kFaultSize = 32;
// The smallest fragment size either side accepts in a bind.
constexpr uint16_t kMinFragmentSize = 64;

struct Header {
  uint8_t versionMinor = 0;
  PduType type = PduType::Request;
  uint8_t flags = 0;
  uint16_t fragLength = 0;
  uint16_t authLength = 0;
  uint32_t callId = 0;
};

struct SyntaxId {
  Uuid uuid;
  uint16_t major = 0;
  uint16_t minor = 0;
  friend bool operator==(const SyntaxId&, const SyntaxId&) = default;
};

// NDR 2.0, the only transfer syntax of this runtime.
const SyntaxId& ndrTransferSyntax();

struct ContextElement {
  uint16_t contextId = 0;
  SyntaxId abstractSyntax;
  std::vector<SyntaxId> transferSyntaxes;
};

struct BindBody {  // bind and alter_context
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::vector<ContextElement> contexts;
};

namespace bind_result {
constexpr uint16_t kAccepted = 0;
constexpr uint16_t kUserRejection = 1;
constexpr uint16_t kProviderRejection = 2;
}  // namespace bind_result
namespace bind_reason {
constexpr uint16_t kNotSpecified = 0;
constexpr uint16_t kAbstractSyntaxNotSupported = 1;
constexpr uint16_t kTransferSyntaxesNotSupported = 2;
constexpr uint16_t kLocalLimitExceeded = 3;
}  // namespace bind_reason
namespace nak_reason {
constexpr uint16_t kNotSpecified = 0;
constexpr uint16_t kTemporaryCongestion = 1;
constexpr uint16_t kLocalLimitExceeded = 2;
constexpr uint16_t kProtocolVersionNotSupported = 4;
}  // namespace nak_reason

struct ContextResult {
  uint16_t result = bind_result::kAccepted;
  uint16_t reason = bind_reason::kNotSpecified;
  SyntaxId transferSyntax;
};

struct BindAckBody {  // bind_ack and alter_context_resp
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::string secondaryAddress;  // without its terminating zero
  std::vector<ContextResult> results;
};

struct BindNakBody {
  uint16_t reason = nak_reason::kNotSpecified;
};

struct RequestBody {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint16_t opnum = 0;
  std::optional<Uuid> object;
  std::span<const uint8_t> stub;
};

struct ResponseBody {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint8_t cancelCount = 0;
  std::span<const uint8_t> stub;
};

struct FaultBody {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint8_t cancelCount = 0;
  uint32_t status = 0;
};

// Header of any fragment: version 5.0 or 5.1, little-endian integers, ASCII,
// IEEE floats, a length of at least the header.
bool decodeHeader(std::span<const uint8_t> bytes, Header& header, std::string& why);

std::vector<uint8_t> encodeBind(PduType type, uint32_t callId, const BindBody& body);
std::vector<uint8_t> encodeBindAck(PduType type, uint32_t callId, const BindAckBody& body);
std::vector<uint8_t> encodeBindNak(uint32_t callId, const BindNakBody& body);
std::vector<uint8_t> encodeRequest(uint32_t callId, uint8_t flags, const RequestBody& body);
std::vector<uint8_t> encodeResponse(uint32_t callId, uint8_t flags, const ResponseBody& body);
std::vector<uint8_t> encodeFault(uint32_t callId, const FaultBody& body);
std::vector<uint8_t> encodeShutdown(uint32_t callId);

bool decodeBind(std::span<const uint8_t> pdu, BindBody& body, std::string& why);
bool decodeBindAck(std::span<const uint8_t> pdu, BindAckBody& body, std::string& why);
bool decodeBindNak(std::span<const uint8_t> pdu, BindNakBody& body, std::string& why);
bool decodeRequest(std::span<const uint8_t> pdu, RequestBody& body, std::string& why);
bool decodeResponse(std::span<const uint8_t> pdu, ResponseBody& body, std::string& why);
bool decodeFault(std::span<const uint8_t> pdu, FaultBody& body, std::string& why);

// How many stub bytes go into each fragment when a stub is cut to fit
// fragments of at most maxFragment bytes with the given header size: a
// multiple of 8 for every piece but the last, at least one piece.
size_t stubBytesPerFragment(size_t maxFragment, size_t headerSize);

}  // namespace rpc
