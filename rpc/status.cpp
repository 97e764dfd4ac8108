#include "rpc/status.h"

#include <cstdio>

namespace rpc {
namespace {

const char* codeName(StatusCode code) {
  switch (code) {
    case StatusCode::Ok: return "ok";
    case StatusCode::InvalidBinding: return "invalid binding";
    case StatusCode::InvalidArgument: return "invalid argument";
    case StatusCode::ConnectFailed: return "connect failed";
    case StatusCode::ConnectTimeout: return "connect timed out";
    case StatusCode::ConnectionClosed: return "connection closed";
    case StatusCode::Timeout: return "call timed out";
    case StatusCode::Cancelled: return "cancelled";
    case StatusCode::ProtocolError: return "protocol error";
    case StatusCode::BindRejected: return "bind rejected";
    case StatusCode::Fault: return "fault";
    case StatusCode::GroupEnded: return "association group ended";
  }
  return "unknown";
}

}  // namespace

std::string Status::toString() const {
  std::string text = codeName(code_);
  if (code_ == StatusCode::Fault) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " 0x%08X", faultStatus_);
    text += hex;
  }
  if (!detail_.empty()) text += ": " + detail_;
  return text;
}

}  // namespace rpc
