// The failures the soak injects into exchange-sim, and what each must lead to.
//
// A disruptive fault can cost a provider its registration or make it
// register again. One provider meets one disruptive fault at a time; the
// soak waits until it serves again before the next, so that every error
// event it sees is accounted for. Failures of the registration procedures
// only meet a registration: each is followed by its trigger, a 1005 answer
// to the provider's next fetch, which makes the message pump register again
// at once.
//
// A passing fault leaves the registration as it is (a paused fetch, a
// refused or late completion, a late keep-alive); they are injected beside
// the disruptive ones, into any provider.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace zem::soak {

struct Fault {
  std::string proc;          // the procedure, as exchange-sim names it
  nlohmann::json failure;    // {"result": N} or {"action": ..., "ms": ...}
  bool withTrigger = false;  // a 1005 for the provider's next fetch follows
  int errorEvents = 0;       // error events the provider must see for it
  bool reRegisters = false;  // a new registration of the provider follows

  std::string label() const;
  // The "fail" command that injects it into one provider's calls.
  nlohmann::json command(int providerId) const;
  bool isDelay() const { return failure.value("action", "") == "delay"; }
  // Whether the call does its work all the same (late, or with its answer
  // at a trickle): a completion then reaches the simulator.
  bool works() const;
  // Whether it may take up to a keep-alive cycle (15 s) to play out.
  bool waitsForKeepAlive() const;
};

// One failure of each kind on each procedure: 1003, 1004 and 1005 results,
// a fault, a dropped connection and a delay; and a server that keeps the
// connection and never answers, or answers at a trickle.
std::vector<Fault> disruptiveFaults();
std::vector<Fault> passingFaults();

// The order in which one of `providers` providers meets the disruptive
// faults: a few quick ones, then one that waits for a keep-alive, over and
// over, each provider starting elsewhere, so that together they meet every
// kind early: with four providers, all of them within two keep-alive cycles.
std::vector<Fault> planFor(size_t provider, size_t providers);

// The trigger that makes a provider's pump register again.
Fault reRegistrationTrigger();

}  // namespace zem::soak
