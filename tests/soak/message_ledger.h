// What became of every message the soak sent, as exchange-sim reports it:
// sent, delivered to a provider, completed. Each run of the simulator
// keeps its own books (a restart forgets what the old run delivered), and
// references are unique over the whole soak.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zem::soak {

class MessageLedger {
 public:
  void startRun() { ++run_; }
  void sent(int32_t ref, bool request);
  void delivered(int32_t ref);
  void completed(int32_t ref);
  // A completion the simulator refused because a failure was injected.
  void refused(int32_t ref);
  // From now on, every message sent is held to being delivered, and every
  // request sent or delivered to being completed.
  void startFinalStretch() { finalStretch_ = true; }

  // Messages of the final stretch still waiting for that.
  size_t finalStretchOpen() const;

  struct Counts {
    size_t sent = 0, requestsSent = 0, delivered = 0, requestsDelivered = 0, completed = 0;
    size_t lostRefused = 0;       // completion refused by an injected failure
    size_t lostAtRestart = 0;     // outstanding when the simulator was killed
    size_t lostUnanswered = 0;    // never completed otherwise
    size_t finalStretchDelivered = 0, finalStretchCompleted = 0;
  };
  Counts counts() const;
  // Broken rules, as texts: completions twice for one message, completions
  // for messages never delivered (in the same run), deliveries twice.
  std::vector<std::string> violations() const;

 private:
  struct Message {
    int run = 0;  // of the delivery
    bool request = false;
    int deliveries = 0;
    int completions = 0;
    bool refused = false;
    bool sentInFinalStretch = false;
    bool finalStretch = false;  // delivered in it
  };

  int run_ = 0;
  bool finalStretch_ = false;
  std::map<int32_t, Message> messages_;
  std::vector<std::string> strays_;  // completions of messages not delivered in their run
};

}  // namespace zem::soak
