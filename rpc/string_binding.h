// A string binding of the form "ncacn_ip_tcp:HOST[PORT]". Parsing it does
// no I/O: the host is neither resolved nor contacted.
#pragma once

#include <cstdint>
#include <string>

#include "rpc/status.h"

namespace rpc {

struct StringBinding {
  std::string host;
  uint16_t port = 0;

  // HOST may be a name, an IPv4 address, a bracket-free IPv6 address, or
  // empty for the local machine; PORT is 1 to 65535. Options after the port
  // ("[1550,opt=x]") are refused.
  static Status parse(const std::string& text, StringBinding& out);
  std::string toString() const;
  // The host to connect to: the local machine's IPv4 loopback for an empty
  // host (the resolver would offer ::1 first, where a server bound to
  // 127.0.0.1 is not found).
  std::string connectHost() const;
};

}  // namespace rpc
