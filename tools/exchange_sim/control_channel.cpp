#include "tools/exchange_sim/control_channel.h"

#include <climits>

#include "provider/exchange/exchange_text.h"
#include "rpc/status.h"

namespace {

// A 32-bit integer field, or its default when absent.
bool intField(const nlohmann::json& command, const char* name, int64_t low, int64_t high, int64_t& value,
              std::string& why) {
  const auto found = command.find(name);
  if (found == command.end()) return true;
  if (!found->is_number_integer() || found->get<int64_t>() < low || found->get<int64_t>() > high) {
    why = std::string("\"") + name + "\" must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  value = found->get<int64_t>();
  return true;
}

bool int32Field(const nlohmann::json& command, const char* name, int32_t& value, std::string& why) {
  int64_t wide = value;
  if (!intField(command, name, INT32_MIN, INT32_MAX, wide, why)) return false;
  value = static_cast<int32_t>(wide);
  return true;
}

}  // namespace

bool messageFromCommand(const nlohmann::json& command, SimMessage& message, std::string& why) {
  const auto type = command.find("type");
  if (type == command.end() || !type->is_string() || (*type != "request" && *type != "info")) {
    why = "\"type\" must be \"request\" or \"info\"";
    return false;
  }
  message.msgType = *type == "request" ? 1 : 0;
  if (!int32Field(command, "ref", message.ref, why) || !int32Field(command, "callId", message.callId, why) ||
      !int32Field(command, "networkCallId", message.networkCallId, why) ||
      !int32Field(command, "nodeId", message.nodeId, why) ||
      !int32Field(command, "heldCallId", message.heldCallId, why) ||
      !int32Field(command, "callRef", message.callRef, why) || !int32Field(command, "msgType", message.msgType, why))
    return false;
  const auto items = command.find("items");
  if (items == command.end()) return true;
  if (!items->is_array() || items->size() > kStringCount) {
    why = "\"items\" must be an array of at most ten strings";
    return false;
  }
  for (size_t i = 0; i < items->size(); ++i) {
    const auto& item = (*items)[i];
    std::u16string units;
    if (!item.is_string() || !utf8ToUtf16(item.get<std::string>(), units)) {
      why = "item " + std::to_string(i) + " is not a string";
      return false;
    }
    if (units.size() > kStringUnits - 1 || units.find(u'\0') != std::u16string::npos) {
      why = "item " + std::to_string(i) + " is longer than 80 UTF-16 units or holds a zero";
      return false;
    }
    message.items[i] = std::move(units);
  }
  return true;
}

bool ControlChannel::handle(const std::string& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
  const nlohmann::json command = nlohmann::json::parse(line, nullptr, false);
  if (command.is_discarded() || !command.is_object()) {
    events_.error("not a JSON object: " + line);
    return true;
  }
  const auto name = command.find("cmd");
  if (name == command.end() || !name->is_string()) {
    events_.error("no \"cmd\" in: " + line);
    return true;
  }
  if (*name == "quit") return false;
  if (*name == "send") {
    send(command);
  } else if (*name == "fail") {
    fail(command);
  } else if (*name == "stats") {
    events_.emit("stats", exchange_.latency().summary());
  } else {
    events_.error("unknown command \"" + name->get<std::string>() + "\"");
  }
  // A command with "seq" is acknowledged once it has taken effect, so that a
  // driver knows when its next remote call will see it.
  if (const auto seq = command.find("seq"); seq != command.end()) events_.emit("ack", {{"seq", *seq}});
  return true;
}

void ControlChannel::send(const nlohmann::json& command) {
  SimMessage message;
  std::string why;
  int64_t providerId = 0;
  if (!messageFromCommand(command, message, why) || !intField(command, "providerId", INT32_MIN, INT32_MAX, providerId, why)) {
    events_.error("send: " + why);
    return;
  }
  std::optional<int32_t> target;
  if (command.contains("providerId")) target = static_cast<int32_t>(providerId);
  if (!exchange_.send(target, message, why)) events_.error("send: " + why);
}

void ControlChannel::fail(const nlohmann::json& command) {
  const auto proc = command.find("proc");
  const auto op = proc != command.end() && proc->is_string() ? procedureByName(*proc) : std::nullopt;
  if (!op) {
    events_.error("fail: \"proc\" must name one of registerProvider, deRegisterProvider, Zem_GetMessageBridge, "
                  "sendCompletion, keepAlive");
    return;
  }
  std::string why;
  int64_t count = 1, result = 0, ms = 0, status = rpc::fault::kUserDefined, providerId = 0;
  if (!intField(command, "count", 1, 1000000, count, why) || !intField(command, "result", INT16_MIN, INT16_MAX, result, why) ||
      !intField(command, "ms", 0, 3600000, ms, why) || !intField(command, "status", 0, UINT32_MAX, status, why) ||
      !intField(command, "providerId", INT32_MIN, INT32_MAX, providerId, why)) {
    events_.error("fail: " + why);
    return;
  }
  Injection injection;
  if (command.contains("providerId")) injection.providerId = static_cast<int32_t>(providerId);
  const auto action = command.find("action");
  if (command.contains("result") == (action != command.end())) {
    events_.error("fail: give either \"result\" or \"action\"");
    return;
  }
  if (command.contains("result")) {
    injection.kind = Injection::Kind::Result;
    injection.result = static_cast<int16_t>(result);
  } else if (*action == "fault") {
    injection.kind = Injection::Kind::Fault;
    injection.faultStatus = static_cast<uint32_t>(status);
  } else if (*action == "drop") {
    injection.kind = Injection::Kind::Drop;
  } else if (*action == "delay") {
    injection.kind = Injection::Kind::Delay;
    injection.delayMs = static_cast<int>(ms);
  } else {
    events_.error("fail: \"action\" must be \"fault\", \"drop\" or \"delay\"");
    return;
  }
  exchange_.inject(*op, injection, static_cast<int>(count));
}
