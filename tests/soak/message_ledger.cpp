#include "message_ledger.h"

namespace zem::soak {

void MessageLedger::sent(int32_t ref, bool request) {
  Message& message = messages_[ref];
  message.request = request;
  message.sentInFinalStretch = finalStretch_;
}

void MessageLedger::delivered(int32_t ref) {
  Message& message = messages_[ref];
  ++message.deliveries;
  message.run = run_;
  message.finalStretch = finalStretch_;
}

void MessageLedger::completed(int32_t ref) {
  const auto found = messages_.find(ref);
  if (found == messages_.end() || found->second.deliveries == 0 || found->second.run != run_) {
    strays_.push_back("completion of message " + std::to_string(ref) + ", which this simulator run never delivered");
    return;
  }
  ++found->second.completions;
}

void MessageLedger::refused(int32_t ref) {
  const auto found = messages_.find(ref);
  if (found != messages_.end()) found->second.refused = true;
}

size_t MessageLedger::finalStretchOpen() const {
  size_t open = 0;
  for (const auto& [ref, message] : messages_) {
    const bool held = message.finalStretch || message.sentInFinalStretch;
    open += held && (message.deliveries == 0 || (message.request && message.completions == 0));
  }
  return open;
}

MessageLedger::Counts MessageLedger::counts() const {
  Counts counts;
  for (const auto& [ref, message] : messages_) {
    ++counts.sent;
    counts.requestsSent += message.request;
    if (message.deliveries == 0) continue;
    ++counts.delivered;
    if (!message.request) continue;
    ++counts.requestsDelivered;
    if (message.finalStretch) ++counts.finalStretchDelivered;
    if (message.completions > 0) {
      ++counts.completed;
      if (message.finalStretch) ++counts.finalStretchCompleted;
    } else if (message.refused) {
      ++counts.lostRefused;
    } else if (message.run < run_) {
      ++counts.lostAtRestart;
    } else {
      ++counts.lostUnanswered;
    }
  }
  return counts;
}

std::vector<std::string> MessageLedger::violations() const {
  std::vector<std::string> found = strays_;
  for (const auto& [ref, message] : messages_) {
    if (message.completions > 1)
      found.push_back("message " + std::to_string(ref) + " completed " + std::to_string(message.completions) + " times");
    if (message.deliveries > 1)
      found.push_back("message " + std::to_string(ref) + " delivered " + std::to_string(message.deliveries) + " times");
    if (!message.request && message.completions > 0)
      found.push_back("informational message " + std::to_string(ref) + " was completed");
  }
  return found;
}

}  // namespace zem::soak
