// The simulator's commands: one JSON object per line on standard input.
//
//   {"cmd":"send","type":"request"|"info","ref":N,"callId":N,"networkCallId":N,
//    "nodeId":N,"heldCallId":N,"callRef":N,"msgType":N,"providerId":N,"items":["..."]}
//   {"cmd":"fail","proc":"keepAlive","result":1004,"count":1}
//   {"cmd":"fail","proc":"Zem_GetMessageBridge","action":"fault"|"drop"|"delay","ms":N,"status":N}
//   {"cmd":"stats"}   answered with a "stats" event: queue-to-completion times
//   {"cmd":"quit"}
//
// Anything refused is reported as an error event with the reason. A command
// that carries "seq" is answered with {"event":"ack","seq":...} once handled.
#pragma once

#include <string>

#include "tools/exchange_sim/event_stream.h"
#include "tools/exchange_sim/sim_exchange.h"

class ControlChannel {
 public:
  ControlChannel(SimExchange& exchange, EventStream& events) : exchange_(exchange), events_(events) {}

  // Handles one line; false when it asked to quit.
  bool handle(const std::string& line);

 private:
  void send(const nlohmann::json& command);
  void fail(const nlohmann::json& command);

  SimExchange& exchange_;
  EventStream& events_;
};

// Builds a message from a send command's fields; false with a reason.
bool messageFromCommand(const nlohmann::json& command, SimMessage& message, std::string& why);
