// exchange-sim beside a test: started on a free loopback port, driven by
// JSON commands on its standard input, watched through the JSON events on
// its standard output. The test target defines EXCHANGE_SIM, the path of
// the program.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

#ifndef EXCHANGE_SIM
#error "EXCHANGE_SIM must name the exchange-sim program"
#endif

namespace zem::test {

class ExchangeSimulator {
 public:
  explicit ExchangeSimulator(std::vector<std::string> options = {}) : process_(arguments(options)) {
    std::string line;
    if (process_.readLine(line, 10000)) {
      const nlohmann::json first = nlohmann::json::parse(line, nullptr, false);
      if (first.is_object() && first.value("event", "") == "listening") port_ = first.value("port", 0);
    }
  }
  ~ExchangeSimulator() {
    process_.writeLine(R"({"cmd":"quit"})");
    process_.wait();
  }

  int port() const { return port_; }
  std::string binding() const { return "ncacn_ip_tcp:127.0.0.1[" + std::to_string(port_) + "]"; }
  // Sends a command and waits until the simulator has handled it.
  void command(nlohmann::json command) {
    command["seq"] = ++seq_;
    process_.writeLine(command.dump());
    const nlohmann::json ack = next("ack");
    EXPECT_EQ(ack.value("seq", 0), seq_) << command.dump();
  }

  // The next event with this name, in order; events of other names stay
  // for later. Null when none came in time.
  nlohmann::json next(const std::string& name, int timeoutMs = 5000) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if ((*it)["event"] == name) {
        nlohmann::json event = *it;
        pending_.erase(it);
        return event;
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (!process_.readLine(line, std::max(left, 1))) break;
      nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
      if (!event.is_object()) continue;
      if (event.value("event", "") == name) return event;
      pending_.push_back(std::move(event));
    }
    return nullptr;
  }

  zem::test::ChildProcess& process() { return process_; }

 private:
  static std::vector<std::string> arguments(const std::vector<std::string>& options) {
    std::vector<std::string> all = {EXCHANGE_SIM, "--port", "0"};
    all.insert(all.end(), options.begin(), options.end());
    return all;
  }

  zem::test::ChildProcess process_;
  int port_ = 0;
  int seq_ = 0;
  std::deque<nlohmann::json> pending_;
};

}  // namespace zem::test
