#include "rpc/string_binding.h"

namespace rpc {

Status StringBinding::parse(const std::string& text, StringBinding& out) {
  static const std::string kProtocol = "ncacn_ip_tcp:";
  const auto invalid = [&](const std::string& why) {
    return Status::error(StatusCode::InvalidBinding, "\"" + text + "\": " + why);
  };
  if (text.compare(0, kProtocol.size(), kProtocol) != 0) return invalid("protocol sequence is not ncacn_ip_tcp");
  const size_t open = text.find('[', kProtocol.size());
  if (open == std::string::npos || text.back() != ']') return invalid("no endpoint in brackets");
  const std::string host = text.substr(kProtocol.size(), open - kProtocol.size());
  const std::string port = text.substr(open + 1, text.size() - open - 2);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return invalid("endpoint is not a port number");
  const unsigned long value = std::stoul(port);
  if (value == 0 || value > 65535) return invalid("port out of range");
  out.host = host;
  out.port = static_cast<uint16_t>(value);
  return Status();
}

std::string StringBinding::connectHost() const { return host.empty() ? "127.0.0.1" : host; }

std::string StringBinding::toString() const { return "ncacn_ip_tcp:" + host + "[" + std::to_string(port) + "]"; }

}  // namespace rpc
