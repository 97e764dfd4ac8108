// One soak: several provider processes against one exchange-sim that
// generates traffic, while disruptive and passing failures are injected and
// the simulator is killed and restarted once on the same port; then a
// fault-free final stretch in which every delivered request must be
// completed. The run keeps the books (messages, error events, recoveries)
// and lists what went wrong; it ends every process it started, whatever
// happens.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "fault_plan.h"
#include "message_ledger.h"
#include "provider_kinds.h"
#include "support/process.h"

namespace zem::soak {

struct SoakSettings {
  double seconds = 60;  // the whole run, about
  // How long a provider may take to serve again after a fault is in effect:
  // a keep-alive cycle (15 s), the pause before a later attempt (up to
  // 10 s), and room for a loaded machine.
  double recoverySeconds = 60;
};

class SoakRun {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SoakRun(SoakSettings settings);
  ~SoakRun();
  SoakRun(const SoakRun&) = delete;
  SoakRun& operator=(const SoakRun&) = delete;

  void run();
  const std::vector<std::string>& failures() const { return failures_; }
  std::string report() const;

 private:
  struct Provider {
    const ProviderKind* kind = nullptr;
    int id = 0;
    std::unique_ptr<test::ChildProcess> process;
    std::regex errorLine;
    long errorEventsSeen = 0;
    long errorEventsExpected = 0;
    std::string context;       // its registration on the simulator; empty when none
    bool contextLost = false;  // the loss of that registration is accounted for
    bool awaitingRegistration = true;
    // The provider has shown the status event of the simulator's latest
    // registration (the simulator reports a registration before it answers,
    // and its output is read first, so the two cannot come in reverse).
    // Until then the answer may yet be lost, and the registration with it.
    bool registrationShown = false;
    int registrations = 0;
    std::vector<Fault> plan;
    size_t planIndex = 0;
    std::optional<Fault> fault;  // the disruptive fault under way
    int faultInjectionsLeft = 0;
    Clock::time_point faultStart, faultTookEffect, lastRegistered;
    std::map<std::string, int> pending;  // injected failures not yet met, by procedure
    bool stopped = false;                // asked to end
    std::vector<std::string> lastLines;
    std::vector<std::string> story;  // what happened to it, for a failure's report
  };

  void startSimulator(int port);
  void startProviders();
  // Waits up to ms for output and handles every line that came.
  void pump(int ms);
  void onSimulatorEvent(const std::string& line);
  void onProviderLine(Provider& provider, const std::string& line);
  void expectErrorEvent(Provider& provider, const std::string& why);
  void note(Provider& provider, const std::string& what);
  void sendTraffic();
  void injectDisruptive(Provider& provider);
  void injectPassing();
  void finishFaults();
  bool settled(const Provider& provider) const;
  // Kinds of failure no call has met yet.
  std::vector<std::string> unmetKinds() const;
  bool allSettled() const;
  void restartSimulator();
  void stopProviders();
  void checkAlive();
  void fail(const std::string& what);
  void command(const nlohmann::json& command);
  Provider* byId(int id);
  double elapsed() const;
  // Runs pump() until the condition holds or seconds pass; false on timeout.
  template <typename Condition>
  bool pumpUntil(Condition condition, double seconds);

  const SoakSettings settings_;
  const std::vector<ProviderKind> kinds_;
  const Clock::time_point start_ = Clock::now();
  std::unique_ptr<test::ChildProcess> simulator_;
  int port_ = 0;
  std::vector<Provider> providers_;
  MessageLedger ledger_;
  std::vector<std::string> failures_;

  int32_t nextRef_ = 1;
  size_t trafficTurn_ = 0;
  Clock::time_point nextTraffic_ = start_;
  bool trafficOn_ = true;
  std::vector<Fault> passing_;
  size_t passingTurn_ = 0;
  Clock::time_point nextPassing_ = start_;

  // Counts for the report.
  std::map<std::string, int> faultsMet_;  // by label
  size_t sendsRefused_ = 0;
  double restartAt_ = -1;
  double restartRecovery_ = -1;
  double slowestRecovery_ = 0;
  std::string slowestRecoveryFault_;
  double finalStretchSeconds_ = 0;
  double runSeconds_ = 0;
};

}  // namespace zem::soak
