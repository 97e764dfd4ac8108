// The outcome of a remote call as the runtime reports it: success, or why
// the call did not complete. A fault sent by the server carries its status
// value. This is what the caller sees in place of a raised exception.
#pragma once

#include <cstdint>
#include <string>

namespace rpc {

enum class StatusCode {
  Ok,
  InvalidBinding,    // the string binding does not parse
  InvalidArgument,   // the call was refused before anything was sent
  ConnectFailed,     // the server could not be reached
  ConnectTimeout,    // no connection within the connect time limit
  ConnectionClosed,  // the peer closed the connection or it broke
  Timeout,           // no answer within the call time limit
  Cancelled,         // another thread cancelled the call
  ProtocolError,     // the peer sent something this runtime does not accept
  BindRejected,      // the server refused the association or the interface
  Fault,             // the server answered with a fault PDU
  GroupEnded,        // the call's association group has no connection left; nothing was sent
};

class Status {
 public:
  Status() = default;
  static Status error(StatusCode code, std::string detail) { return Status(code, 0, std::move(detail)); }
  static Status fault(uint32_t faultStatus) { return Status(StatusCode::Fault, faultStatus, {}); }

  bool isOk() const { return code_ == StatusCode::Ok; }
  StatusCode code() const { return code_; }
  // The fault PDU's status value; 0 unless code() is Fault.
  uint32_t faultStatus() const { return faultStatus_; }
  const std::string& detail() const { return detail_; }
  std::string toString() const;

 private:
  Status(StatusCode code, uint32_t faultStatus, std::string detail)
      : code_(code), faultStatus_(faultStatus), detail_(std::move(detail)) {}

  StatusCode code_ = StatusCode::Ok;
  uint32_t faultStatus_ = 0;
  std::string detail_;
};

// Fault status values of the connection-oriented protocol.
namespace fault {
constexpr uint32_t kOpRangeError = 0x1C010002;     // nca_s_op_rng_error: unknown operation number
constexpr uint32_t kUnknownInterface = 0x1C010003; // nca_s_unk_if
constexpr uint32_t kProtocolError = 0x1C01000B;    // nca_s_proto_error
constexpr uint32_t kContextMismatch = 0x1C00001A;  // nca_s_fault_context_mismatch: unknown context handle
constexpr uint32_t kRemoteNoMemory = 0x1C00001B;   // nca_s_fault_remote_no_memory
constexpr uint32_t kUserDefined = 0x1C000021;      // nca_s_fault_user_defined
constexpr uint32_t kBadStubData = 0x000006F7;      // the stub data does not decode
}  // namespace fault

}  // namespace rpc
