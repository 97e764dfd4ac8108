#include "fault_plan.h"

namespace zem::soak {
namespace {

using nlohmann::json;

const json kFailures[] = {
    {{"result", 1003}}, {{"result", 1004}}, {{"result", 1005}},
    {{"action", "fault"}}, {{"action", "drop"}}, {{"action", "delay"}, {"ms", 300}},
};

bool isDelay(const json& failure) { return failure.value("action", "") == "delay"; }

// Taken and never answered: the call fails at its deadline (a keep-alive's
// is 5 s, a completion's 10 s, the pump's re-registration's 5 s).
const json kMute = {{"action", "mute"}};
// A keep-alive's answer (26 bytes) at this pace takes longer than its 5 s.
const json kTrickleTooSlow = {{"action", "trickle"}, {"rate", 2}};
// Answers that come whole within their deadlines, only late.
const json kTrickleCompletion = {{"action", "trickle"}, {"rate", 100}};
const json kTrickleFetch = {{"action", "trickle"}, {"rate", 4000}};

}  // namespace

std::string Fault::label() const {
  std::string text = proc + " ";
  text += failure.contains("result") ? std::to_string(failure["result"].get<int>()) : failure["action"].get<std::string>();
  return text;
}

json Fault::command(int providerId) const {
  json command = failure;
  command["cmd"] = "fail";
  command["proc"] = proc;
  command["providerId"] = providerId;
  return command;
}

Fault reRegistrationTrigger() { return Fault{"Zem_GetMessageBridge", {{"result", 1005}}, false, 0, true}; }

std::vector<Fault> disruptiveFaults() {
  std::vector<Fault> faults;
  // A failed keep-alive is one error event; the application registers
  // again. A late one is none, but it holds the provider's turn until the
  // keep-alive comes.
  for (const json& failure : kFailures) faults.push_back({"keepAlive", failure, false, isDelay(failure) ? 0 : 1, !isDelay(failure)});
  // A server that goes mute, or answers too slowly, fails the keep-alive at
  // its deadline: the same one error event.
  faults.push_back({"keepAlive", kMute, false, 1, true});
  faults.push_back({"keepAlive", kTrickleTooSlow, false, 1, true});
  // A dropped connection can end the association group, and with it the
  // registration (the soak then expects the error event of the next
  // keep-alive, seeing the simulator run the registration down).
  faults.push_back({"Zem_GetMessageBridge", {{"action", "drop"}}, false, 0, false});
  faults.push_back({"sendCompletion", {{"action", "drop"}}, false, 0, false});
  // The pump's re-registration: when its de-registration or registration
  // step fails, one error event, and the application registers again.
  faults.push_back(reRegistrationTrigger());
  for (const char* proc : {"deRegisterProvider", "registerProvider"}) {
    for (const json& failure : kFailures) faults.push_back({proc, failure, true, isDelay(failure) ? 0 : 1, true});
    faults.push_back({proc, kMute, true, 1, true});
  }
  // A fetch the server never answers is noticed at its 30 s deadline, too
  // long for this run: the provider tests meet it.
  return faults;
}

std::vector<Fault> passingFaults() {
  std::vector<Fault> faults;
  for (const json& failure : kFailures) {
    const bool drop = failure.value("action", "") == "drop";
    if (!drop && failure.value("result", 0) != 1005) faults.push_back({"Zem_GetMessageBridge", failure});
    if (!drop) faults.push_back({"sendCompletion", failure});
  }
  // A completion the server never answers fails after 10 s, holding that
  // provider's completions meanwhile; slow answers only take their time.
  faults.push_back({"sendCompletion", kMute});
  faults.push_back({"sendCompletion", kTrickleCompletion});
  faults.push_back({"Zem_GetMessageBridge", kTrickleFetch});
  return faults;
}

bool Fault::works() const {
  const std::string action = failure.value("action", "");
  return action == "delay" || action == "trickle" || (action == "mute" && failure.contains("after"));
}

bool Fault::waitsForKeepAlive() const {
  // Met at a keep-alive, or able to end the registration so that the next
  // keep-alive must find it out: up to a keep-alive cycle each.
  return proc == "keepAlive" || (failure.value("action", "") == "drop" && !withTrigger);
}

std::vector<Fault> planFor(size_t provider, size_t providers) {
  std::vector<Fault> slow, quick;
  for (Fault& fault : disruptiveFaults()) (fault.waitsForKeepAlive() ? slow : quick).push_back(std::move(fault));
  constexpr size_t kQuickPerRound = 4;
  std::vector<Fault> plan;
  for (size_t round = 0; round < 12; ++round) {
    for (size_t j = 0; j < kQuickPerRound; ++j)
      plan.push_back(quick[((round * providers + provider) * kQuickPerRound + j) % quick.size()]);
    plan.push_back(slow[(round * providers + provider) % slow.size()]);
  }
  return plan;
}

}  // namespace zem::soak
