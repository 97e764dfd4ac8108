#include "soak_run.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zem::soak {
namespace {

using nlohmann::json;

constexpr size_t kKeptLines = 20;
// After a dropped connection the simulator runs the registration down at
// once if that was the last connection of its group: its report follows the
// injected failure within milliseconds. This long is left for it before
// the provider meets its next fault.
constexpr double kDropAftermathSeconds = 1.0;

std::string withId(const std::string& text, int id) {
  std::string out = text;
  for (size_t at = out.find("{id}"); at != std::string::npos; at = out.find("{id}"))
    out.replace(at, 4, std::to_string(id));
  return out;
}

double seconds(SoakRun::Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

}  // namespace

SoakRun::SoakRun(SoakSettings settings)
    : settings_(settings), kinds_(providerKinds()), passing_(passingFaults()) {
  std::ofstream("zemlink.ini") << "[RPC]\nPORT=0\n";
}

SoakRun::~SoakRun() {
  // Whatever happened, no process outlives the run.
  for (Provider& provider : providers_) {
    if (provider.process) {
      provider.process->kill();
      provider.process->wait();
    }
  }
  if (simulator_) {
    simulator_->kill();
    simulator_->wait();
  }
}

double SoakRun::elapsed() const { return seconds(Clock::now() - start_); }

void SoakRun::fail(const std::string& what) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%6.1f s] ", elapsed());
  failures_.push_back(stamp + what);
}

void SoakRun::command(const json& command) {
  if (simulator_ && !simulator_->writeLine(command.dump())) fail("the simulator does not take commands");
}

SoakRun::Provider* SoakRun::byId(int id) {
  for (Provider& provider : providers_)
    if (provider.id == id) return &provider;
  return nullptr;
}

template <typename Condition>
bool SoakRun::pumpUntil(Condition condition, double limitSeconds) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limitSeconds));
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    pump(20);
  }
  return true;
}

// ---- Processes -------------------------------------------------------------

void SoakRun::startSimulator(int port) {
  simulator_ = std::make_unique<test::ChildProcess>(
      std::vector<std::string>{EXCHANGE_SIM, "--port", std::to_string(port), "--hold-ms", "3000"});
  std::string line;
  if (!simulator_->readLine(line, 20000)) {
    fail("exchange-sim did not start on port " + std::to_string(port));
    return;
  }
  const json first = json::parse(line, nullptr, false);
  if (!first.is_object() || first.value("event", "") != "listening") {
    fail("exchange-sim could not listen on port " + std::to_string(port) + ": " + line);
    return;
  }
  port_ = first.value("port", 0);
  std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << port_ << "\n";
}

void SoakRun::startProviders() {
  size_t count = 0;
  for (const ProviderKind& kind : kinds_) count += static_cast<size_t>(kind.instances);
  int id = 101;
  for (const ProviderKind& kind : kinds_) {
    for (int i = 0; i < kind.instances; ++i, ++id) {
      Provider provider;
      provider.kind = &kind;
      provider.id = id;
      provider.errorLine = std::regex(kind.errorEventLine);
      provider.plan = planFor(providers_.size(), count);
      std::vector<std::string> argv;
      for (const std::string& part : kind.command) argv.push_back(withId(part, id));
      provider.process = std::make_unique<test::ChildProcess>(argv);
      providers_.push_back(std::move(provider));
    }
  }
}

void SoakRun::checkAlive() {
  for (Provider& provider : providers_) {
    if (provider.stopped || !provider.process->outputEnded()) continue;
    provider.process->waitFor(5000);
    std::string last = provider.lastLines.empty() ? "(nothing)" : provider.lastLines.back();
    fail(provider.kind->name + " " + std::to_string(provider.id) + " ended on its own (exit " +
         std::to_string(provider.process->wait()) + ", signal " + std::to_string(provider.process->terminatingSignal()) +
         "); its last line: " + last);
    provider.stopped = true;
  }
}

void SoakRun::stopProviders() {
  for (Provider& provider : providers_) {
    if (provider.stopped) continue;
    provider.stopped = true;
    ::kill(provider.process->pid(), SIGTERM);
  }
  for (Provider& provider : providers_) {
    const bool ended = pumpUntil([&] { return provider.process->outputEnded(); }, 30) &&
                       provider.process->waitFor(10000);
    const std::string name = provider.kind->name + " " + std::to_string(provider.id);
    if (!ended) {
      fail(name + " did not end within 40 s of SIGTERM");
      continue;
    }
    // Completions refused by injected failures make console-provider end
    // with 1; a program that leaves SIGTERM to its default ends by it.
    const int code = provider.process->wait();
    const int signal = provider.process->terminatingSignal();
    if ((signal != 0 && signal != SIGTERM) || (signal == 0 && code != 0 && code != 1))
      fail(name + " ended with exit " + std::to_string(code) + ", signal " +
           std::to_string(provider.process->terminatingSignal()));
  }
}

void SoakRun::restartSimulator() {
  simulator_->kill();
  simulator_->wait();
  simulator_.reset();
  restartAt_ = elapsed();
  ledger_.startRun();
  for (Provider& provider : providers_) {
    // Each registration dies with the simulator: one error event each, at
    // the provider's next keep-alive.
    if (!provider.context.empty() && !provider.contextLost) expectErrorEvent(provider, "the restart");
    provider.context.clear();
    provider.contextLost = false;
    provider.awaitingRegistration = true;
    // An answer the restart cut off is never shown.
    provider.registrationsShown = std::max(provider.registrationsShown, provider.registrations);
    provider.pending.clear();  // injected failures die with the simulator
  }
  const int port = port_;
  startSimulator(port);
  if (port_ != port) fail("the restarted simulator listens on " + std::to_string(port_) + ", not " + std::to_string(port));
}

// ---- Events ----------------------------------------------------------------

void SoakRun::pump(int ms) {
  std::vector<pollfd> fds;
  std::vector<Provider*> owners;
  if (simulator_ && !simulator_->outputEnded()) {
    fds.push_back({simulator_->outputFd(), POLLIN, 0});
    owners.push_back(nullptr);
  }
  for (Provider& provider : providers_) {
    if (provider.process->outputEnded()) continue;
    fds.push_back({provider.process->outputFd(), POLLIN, 0});
    owners.push_back(&provider);
  }
  ::poll(fds.data(), fds.size(), ms);
  std::string line;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    if (owners[i] == nullptr) {
      while (simulator_->readLine(line, 0)) onSimulatorEvent(line);
    } else {
      while (owners[i]->process->readLine(line, 0)) onProviderLine(*owners[i], line);
    }
  }
}

void SoakRun::expectErrorEvent(Provider& provider, const std::string& why) {
  ++provider.errorEventsExpected;
  note(provider, "expects an error event: " + why);
}

void SoakRun::note(Provider& provider, const std::string& what) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%6.1f s ", elapsed());
  provider.story.push_back(stamp + what);
}

void SoakRun::onProviderLine(Provider& provider, const std::string& line) {
  provider.lastLines.push_back(line);
  if (provider.lastLines.size() > kKeptLines) provider.lastLines.erase(provider.lastLines.begin());
  if (line.find("registration") != std::string::npos || line.find("status 2") == 0) note(provider, "says: " + line);
  if (line.rfind("status 23", 0) == 0) ++provider.registrationsShown;
  std::smatch match;
  if (!std::regex_search(line, match, provider.errorLine)) return;
  if (match.size() > 1) {
    provider.errorEventsSeen = std::stol(match[1].str());
  } else {
    ++provider.errorEventsSeen;
  }
  note(provider, "error event seen (" + std::to_string(provider.errorEventsSeen) + ")");
}

void SoakRun::onSimulatorEvent(const std::string& line) {
  const json event = json::parse(line, nullptr, false);
  if (!event.is_object()) return;
  const std::string name = event.value("event", "");
  if (name == "delivered") {
    ledger_.delivered(event.value("ref", 0));
    return;
  }
  if (name == "completion") {
    ledger_.completed(event.value("ref", 0));
    return;
  }
  if (name == "error") {
    const std::string reason = event.value("reason", "");
    if (reason.find("is not registered") != std::string::npos) {
      ++sendsRefused_;  // sent while the provider was between registrations
    } else {
      fail("exchange-sim reports: " + reason);
    }
    return;
  }
  Provider* provider = byId(event.value("providerId", 0));
  if (provider == nullptr) return;
  if (name != "keepalive") note(*provider, "simulator: " + line);
  if (name == "registered") {
    provider->context = event.value("context", "");
    provider->contextLost = false;
    provider->awaitingRegistration = false;
    provider->lastRegistered = Clock::now();
    ++provider->registrations;
  } else if (name == "deregistered") {
    if (event.value("context", "") == provider->context) provider->context.clear();
  } else if (name == "rundown") {
    // The registration ended with its association group; unless its loss
    // is accounted for already, the provider's next keep-alive fails.
    if (event.value("context", "") == provider->context && !provider->contextLost) {
      expectErrorEvent(*provider, "rundown of " + provider->context);
      provider->contextLost = true;
      provider->awaitingRegistration = true;
    }
    if (event.value("context", "") == provider->context) provider->context.clear();
  } else if (name == "injected") {
    const std::string proc = event.value("proc", "");
    --provider->pending[proc];
    Fault met{proc, event};
    met.failure.erase("event");
    met.failure.erase("proc");
    met.failure.erase("providerId");
    met.failure.erase("ref");
    met.failure.erase("status");
    ++faultsMet_[met.label()];
    if (proc == "sendCompletion" && !met.works()) ledger_.refused(event.value("ref", 0));
    if (!provider->fault || provider->faultInjectionsLeft == 0) return;
    const Fault& fault = *provider->fault;
    // A disruptive fault takes effect when its own failure is met (its
    // trigger, when it has one, comes first).
    const bool own = proc == fault.proc && met.label() == fault.label();
    const bool trigger = fault.withTrigger && met.label() == reRegistrationTrigger().label();
    if (!own && !trigger) return;
    if (--provider->faultInjectionsLeft > 0 || !own) return;
    provider->faultTookEffect = Clock::now();
    if (fault.errorEvents > 0) {
      expectErrorEvent(*provider, fault.label());
      provider->contextLost = true;
    }
    if (fault.reRegisters) provider->awaitingRegistration = true;
  }
}

// ---- Traffic and faults ----------------------------------------------------

void SoakRun::sendTraffic() {
  if (!trafficOn_ || Clock::now() < nextTraffic_ || providers_.empty()) return;
  nextTraffic_ = Clock::now() + std::chrono::milliseconds(60);
  for (size_t tries = 0; tries < providers_.size(); ++tries) {
    Provider& provider = providers_[trafficTurn_++ % providers_.size()];
    if (provider.context.empty()) continue;
    const int32_t ref = nextRef_++;
    const bool request = ref % 10 != 0;
    ledger_.sent(ref, request);
    command({{"cmd", "send"},
             {"type", request ? "request" : "info"},
             {"ref", ref},
             {"callId", ref},
             {"providerId", provider.id},
             {"items", {"soak", std::to_string(ref)}}});
    return;
  }
}

void SoakRun::injectDisruptive(Provider& provider) {
  if (provider.fault || !settled(provider) || provider.planIndex >= provider.plan.size()) return;
  const Fault& fault = provider.plan[provider.planIndex++];
  provider.fault = fault;
  provider.faultStart = Clock::now();
  note(provider, "fault: " + fault.label());
  provider.faultInjectionsLeft = fault.withTrigger ? 2 : 1;
  command(fault.command(provider.id));
  ++provider.pending[fault.proc];
  if (fault.withTrigger) {
    command(reRegistrationTrigger().command(provider.id));
    ++provider.pending["Zem_GetMessageBridge"];
  }
}

void SoakRun::injectPassing() {
  if (Clock::now() < nextPassing_ || providers_.empty()) return;
  nextPassing_ = Clock::now() + std::chrono::milliseconds(1200);
  const Fault& fault = passing_[passingTurn_ % passing_.size()];
  for (size_t tries = 0; tries < providers_.size(); ++tries) {
    Provider& provider = providers_[(passingTurn_ + tries) % providers_.size()];
    // One failure at a time per procedure and provider keeps a passing one
    // from holding up a disruptive one behind it. A kind that finds no
    // provider free for it is tried again next time.
    if (provider.context.empty() || provider.pending[fault.proc] > 0) continue;
    command(fault.command(provider.id));
    ++provider.pending[fault.proc];
    ++passingTurn_;
    return;
  }
}

// A disruptive fault is over once it took effect and the provider serves
// again; one that takes longer than the recovery limit is a failure.
void SoakRun::finishFaults() {
  const auto now = Clock::now();
  for (Provider& provider : providers_) {
    if (!provider.fault) continue;
    const Fault& fault = *provider.fault;
    const std::string name = std::to_string(provider.id) + " " + fault.label();
    if (provider.faultInjectionsLeft > 0) {
      // keepAlive failures wait for the next keep-alive, up to 15 s.
      if (seconds(now - provider.faultStart) > settings_.recoverySeconds) {
        fail("provider " + name + ": the failure was not met within " +
             std::to_string(static_cast<int>(settings_.recoverySeconds)) + " s");
        provider.fault.reset();
        provider.planIndex = provider.plan.size();
      }
      continue;
    }
    const bool drop = fault.failure.value("action", "") == "drop";
    if (drop && seconds(now - provider.faultTookEffect) < kDropAftermathSeconds) continue;
    const double recovery = seconds(now - provider.faultTookEffect);
    if (!settled(provider)) {
      if (recovery > settings_.recoverySeconds) {
        fail("provider " + name + ": not serving again within " +
             std::to_string(static_cast<int>(settings_.recoverySeconds)) + " s (error events " +
             std::to_string(provider.errorEventsSeen) + " of " + std::to_string(provider.errorEventsExpected) + ")");
        provider.fault.reset();
        provider.planIndex = provider.plan.size();
      }
      continue;
    }
    // How long the provider was without a registration because of it.
    if (provider.lastRegistered > provider.faultTookEffect) {
      const double gap = seconds(provider.lastRegistered - provider.faultTookEffect);
      if (gap > slowestRecovery_) {
        slowestRecovery_ = gap;
        slowestRecoveryFault_ = fault.label();
      }
    }
    provider.fault.reset();
  }
}

std::vector<std::string> SoakRun::unmetKinds() const {
  std::vector<std::string> unmet;
  for (const std::vector<Fault>& faults : {disruptiveFaults(), passingFaults()}) {
    for (const Fault& fault : faults)
      if (faultsMet_.count(fault.label()) == 0) unmet.push_back(fault.label());
  }
  return unmet;
}

bool SoakRun::settled(const Provider& provider) const {
  return !provider.awaitingRegistration && !provider.context.empty() &&
         provider.registrationsShown >= provider.registrations &&
         provider.errorEventsSeen >= provider.errorEventsExpected;
}

bool SoakRun::allSettled() const {
  return std::all_of(providers_.begin(), providers_.end(),
                     [&](const Provider& provider) { return !provider.fault && settled(provider); });
}

// ---- The run ---------------------------------------------------------------

void SoakRun::run() {
  // Keep-alives come every 15 s: by the middle of a 60 s run the providers
  // have met every kind of failure (two keep-alive cycles); the restart
  // then costs each provider up to one more cycle. A restart that finds
  // kinds not met yet waits for them, as long as the recovery limit.
  const double restartAt = settings_.seconds * 0.5;
  const double faultsEnd = settings_.seconds * 0.7;
  const double finalStretch = std::max(8.0, settings_.seconds * 0.12);

  startSimulator(0);
  if (!failures_.empty()) return;
  startProviders();
  if (!pumpUntil([&] { return allSettled(); }, settings_.recoverySeconds)) fail("not every provider registered at start");

  // Faults, with one restart of the simulator on the way.
  bool restarted = false;
  double restartDueSince = -1;
  while (elapsed() < faultsEnd || !restarted) {
    pump(20);
    checkAlive();
    sendTraffic();
    finishFaults();
    const bool restartDue = !restarted && elapsed() >= restartAt &&
                            (unmetKinds().empty() || elapsed() >= restartAt + settings_.recoverySeconds);
    if (restartDue) {
      if (restartDueSince < 0) restartDueSince = elapsed();
      // The restart waits until every provider serves; no new disruptive
      // faults meanwhile.
      if (allSettled()) {
        restartSimulator();
        restarted = true;
        const double since = elapsed();
        if (!pumpUntil(
                [&] {
                  sendTraffic();
                  checkAlive();
                  return std::all_of(providers_.begin(), providers_.end(),
                                     [](const Provider& p) { return !p.awaitingRegistration; });
                },
                settings_.recoverySeconds))
          fail("not every provider registered again within " + std::to_string(static_cast<int>(settings_.recoverySeconds)) +
               " s of the restart");
        restartRecovery_ = elapsed() - since;
      } else if (elapsed() > restartDueSince + settings_.recoverySeconds) {
        fail("the providers did not all settle before the restart");
        restartSimulator();
        restarted = true;
      }
      continue;
    }
    if (elapsed() < faultsEnd || (!restarted && !unmetKinds().empty())) {
      for (Provider& provider : providers_) injectDisruptive(provider);
      injectPassing();
    }
  }
  const std::vector<std::string> unmet = unmetKinds();
  if (!unmet.empty()) {
    std::string list;
    for (const std::string& label : unmet) list += " [" + label + "]";
    fail("failures never met:" + list);
  }

  // Every fault met and done with, every provider serving: the final stretch.
  const bool calm = pumpUntil(
      [&] {
        sendTraffic();
        finishFaults();
        checkAlive();
        return allSettled() && std::all_of(providers_.begin(), providers_.end(), [](const Provider& provider) {
                 return std::all_of(provider.pending.begin(), provider.pending.end(),
                                    [](const auto& entry) { return entry.second <= 0; });
               });
      },
      settings_.recoverySeconds);
  if (!calm) fail("failures still pending or providers not serving when the final stretch was due");
  ledger_.startFinalStretch();
  const double stretchStart = elapsed();
  pumpUntil(
      [&] {
        sendTraffic();
        checkAlive();
        return elapsed() - stretchStart >= finalStretch;
      },
      finalStretch + 5);
  trafficOn_ = false;
  if (!pumpUntil([&] { return ledger_.finalStretchOpen() == 0; }, 30))
    fail(std::to_string(ledger_.finalStretchOpen()) + " messages of the final stretch were not delivered, or not completed");
  finalStretchSeconds_ = elapsed() - stretchStart;

  stopProviders();
  pump(100);
  for (const Provider& provider : providers_) {
    if (provider.errorEventsSeen == provider.errorEventsExpected) continue;
    std::string story;
    for (const std::string& entry : provider.story) story += "\n    " + entry;
    fail("provider " + std::to_string(provider.id) + " saw " + std::to_string(provider.errorEventsSeen) +
         " error events for " + std::to_string(provider.errorEventsExpected) + " lost registrations:" + story);
  }
  for (const std::string& violation : ledger_.violations()) fail(violation);
  command({{"cmd", "quit"}});
  if (simulator_ && !simulator_->waitFor(10000)) fail("exchange-sim did not quit");
  runSeconds_ = elapsed();
}

std::string SoakRun::report() const {
  const MessageLedger::Counts counts = ledger_.counts();
  std::ostringstream out;
  std::map<std::string, int> kinds;
  for (const Provider& provider : providers_) ++kinds[provider.kind->name];
  out << "soak: " << providers_.size() << " providers (";
  for (auto it = kinds.begin(); it != kinds.end(); ++it) out << (it == kinds.begin() ? "" : ", ") << it->first << " x" << it->second;
  out << "), " << static_cast<int>(runSeconds_) << " s, exchange-sim restarted once on port " << port_ << "\n";
  out << "messages: sent " << counts.sent << " (" << counts.requestsSent << " requests), delivered " << counts.delivered
      << " (" << counts.requestsDelivered << " requests), completed " << counts.completed << "; " << sendsRefused_
      << " sends found no registration\n";
  out << "lost requests: " << counts.lostRefused << " completion refused by an injected failure, " << counts.lostAtRestart
      << " outstanding at the restart, " << counts.lostUnanswered << " never answered\n";
  long seen = 0, expected = 0;
  int registrations = 0;
  for (const Provider& provider : providers_) {
    seen += provider.errorEventsSeen;
    expected += provider.errorEventsExpected;
    registrations += provider.registrations;
  }
  out << "error events: " << seen << " seen, " << expected << " expected (failed keep-alives, failed re-registrations, "
      << "registrations run down or lost in the restart)\n";
  out << "re-registrations: " << registrations - static_cast<int>(providers_.size()) << "\n";
  int met = 0;
  for (const auto& [label, count] : faultsMet_) met += count;
  out << "failures met: " << met << " of " << faultsMet_.size() << " kinds:";
  for (const auto& [label, count] : faultsMet_) out << " [" << label << " x" << count << "]";
  out << "\n";
  char text[200];
  std::snprintf(text, sizeof text,
                "registered again: %.1f s after the restart (at %.1f s); after a fault at most %.1f s (%s); limit %.0f s\n",
                restartRecovery_, restartAt_, slowestRecovery_, slowestRecoveryFault_.c_str(), settings_.recoverySeconds);
  out << text;
  std::snprintf(text, sizeof text, "final stretch: %.1f s, %zu requests delivered, %zu completed\n", finalStretchSeconds_,
                counts.finalStretchDelivered, counts.finalStretchCompleted);
  out << text;
  return out.str();
}

}  // namespace zem::soak
