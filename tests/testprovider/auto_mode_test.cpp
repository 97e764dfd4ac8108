// rigbench --auto as a program, against exchange-sim: it answers what the
// simulator delivers, registers again after a lost connection, and ends
// cleanly on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "support/exchange_simulator.h"
#include "support/temp_root.h"

namespace rigbench::test {
namespace {

using nlohmann::json;

class AutoModeTest : public ::testing::Test {
 protected:
  AutoModeTest() {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
  }
  ~AutoModeTest() override { std::filesystem::current_path(previous_); }

  zem::test::ExchangeSimulator& startSimulator(std::vector<std::string> options = {}) {
    sim_ = std::make_unique<zem::test::ExchangeSimulator>(std::move(options));
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << sim_->port() << "\n";
    return *sim_;
  }

  // Reads the program's lines until one contains `text`; all lines read are
  // kept in `seen`.
  bool readUntil(zem::test::ChildProcess& program, const std::string& text, int timeoutMs = 10000) {
    std::string line;
    while (program.readLine(line, timeoutMs)) {
      seen_.push_back(line);
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string seen() const {
    std::string all;
    for (const std::string& line : seen_) all += line + "\n";
    return all;
  }

  zem::test::TempRoot root_;
  std::filesystem::path previous_;
  std::unique_ptr<zem::test::ExchangeSimulator> sim_;
  std::vector<std::string> seen_;
};

TEST_F(AutoModeTest, EveryDeliveredRequestGetsExactlyOneCompletion) {
  constexpr int kRequests = 60;
  zem::test::ExchangeSimulator& sim =
      startSimulator({"--generate", std::to_string(kRequests), "--rate", "0", "--item", "order {ref}", "--hold-ms", "500"});
  zem::test::ChildProcess rigbench(
      {RIGBENCH, "--auto", "--server", "127.0.0.1", "--id", "31", "--param", "1=done", "--param", "2=ok"});
  ASSERT_TRUE(readUntil(rigbench, "status 23 (registered)")) << seen();

  std::map<int, int> completions;
  std::set<int> delivered;
  while (static_cast<int>(delivered.size()) < kRequests) {
    const json event = sim.next("delivered", 20000);
    ASSERT_FALSE(event.is_null()) << delivered.size() << " delivered";
    delivered.insert(event["ref"].get<int>());
  }
  for (int i = 0; i < kRequests; ++i) {
    const json completion = sim.next("completion", 10000);
    ASSERT_FALSE(completion.is_null()) << i << " completions";
    ++completions[completion["ref"].get<int>()];
    EXPECT_EQ(completion["items"][0], "done");
    EXPECT_EQ(completion["items"][1], "ok");
  }
  EXPECT_TRUE(sim.next("completion", 500).is_null()) << "a completion beyond one per request";
  for (int ref : delivered) EXPECT_EQ(completions[ref], 1) << "request " << ref;

  ::kill(rigbench.pid(), SIGTERM);
  ASSERT_TRUE(readUntil(rigbench, "served ")) << seen();
  EXPECT_NE(seen_.back().find("served 60 requests and 0 informational messages; 0 error events, 0 refused completions"),
            std::string::npos)
      << seen();
  EXPECT_EQ(rigbench.wait(), 0);
  EXPECT_EQ(sim.next("deregistered")["providerId"], 31);
  // A count line came every second while it ran.
  EXPECT_NE(seen().find(" s: "), std::string::npos) << seen();
}

// --increment, --toggle and --special each work without --param, from an
// empty parameter, as the manual page says; one program per option, all
// against one simulator, each answering three requests of its own.
TEST_F(AutoModeTest, EachRuleOptionWorksByItself) {
  struct Case {
    std::vector<std::string> options;
    // The first item of the three answers, checked one by one.
    std::function<void(int answer, const std::string& item)> check;
  };
  const std::vector<Case> cases = {
      {{"--increment"}, [](int answer, const std::string& item) { EXPECT_EQ(item, std::to_string(answer + 1)); }},
      {{"--toggle", "T"}, [](int answer, const std::string& item) { EXPECT_EQ(item, answer % 2 == 0 ? "T" : ""); }},
      {{"--special", "random-number", "--range", "5:5"},
       [](int, const std::string& item) { EXPECT_EQ(item, "5"); }},
      {{"--special", "random-number"},
       [](int, const std::string& item) {
         ASSERT_FALSE(item.empty());
         EXPECT_EQ(item.find_first_not_of("0123456789"), std::string::npos) << item;
         EXPECT_LE(std::stoll(item), 1999999999);
       }},
      {{"--special", "timestamp"},
       [](int, const std::string& item) {
         EXPECT_EQ(item.size(), 25u) << item;
         EXPECT_EQ(item.back(), '\n') << item;
       }},
      {{"--special", "random-string", "--param", "3=typed"},
       [](int, const std::string& item) { EXPECT_EQ(item, "typed"); }},
  };
  zem::test::ExchangeSimulator& sim = startSimulator({"--hold-ms", "500"});
  std::vector<std::unique_ptr<zem::test::ChildProcess>> programs;
  for (size_t i = 0; i < cases.size(); ++i) {
    std::vector<std::string> arguments = {RIGBENCH, "--auto", "--server", "127.0.0.1", "--id", std::to_string(50 + i)};
    arguments.insert(arguments.end(), cases[i].options.begin(), cases[i].options.end());
    programs.push_back(std::make_unique<zem::test::ChildProcess>(arguments));
  }
  for (auto& program : programs) ASSERT_TRUE(readUntil(*program, "status 23 (registered)")) << seen();

  constexpr int kAnswers = 3;
  for (int answer = 0; answer < kAnswers; ++answer) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const int ref = static_cast<int>(100 * (i + 1)) + answer;
      sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", ref}, {"providerId", 50 + i}});
    }
    // Each program answers its request before it gets the next one.
    std::map<int, json> completions;
    while (completions.size() < cases.size()) {
      const json completion = sim.next("completion", 10000);
      ASSERT_FALSE(completion.is_null()) << completions.size() << " completions of answer " << answer;
      completions[completion["ref"].get<int>()] = completion;
    }
    for (size_t i = 0; i < cases.size(); ++i) {
      const json& completion = completions[static_cast<int>(100 * (i + 1)) + answer];
      SCOPED_TRACE(cases[i].options.front() + " " + (cases[i].options.size() > 1 ? cases[i].options[1] : ""));
      ASSERT_TRUE(completion.contains("items")) << completion.dump();
      // The rule's parameter is the only one sent, so it is the first item.
      cases[i].check(answer, completion["items"][0].get<std::string>());
      for (int k = 1; k < 10; ++k) EXPECT_EQ(completion["items"][k], "") << completion.dump();
    }
  }
  for (auto& program : programs) ::kill(program->pid(), SIGTERM);
  for (auto& program : programs) EXPECT_EQ(program->wait(), 0);
}

TEST_F(AutoModeTest, AfterALostConnectionItRegistersAgainWithGrowingPauses) {
  zem::test::ExchangeSimulator& sim = startSimulator();
  zem::test::ChildProcess rigbench({RIGBENCH, "--auto", "--server", "127.0.0.1", "--id", "32"});
  ASSERT_TRUE(readUntil(rigbench, "status 23 (registered)")) << seen();

  // The next keep-alive (the library sends one every 15 s) fails, and so
  // do the next two registrations.
  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"result", 1004}});
  sim.command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1004}, {"count", 2}});
  ASSERT_TRUE(readUntil(rigbench, "attempt 3: registration accepted", 40000)) << seen();
  const std::string lines = seen();
  std::vector<std::string> expected = {"error event: the connection was lost",
                                       "registering again in 1 s (attempt 1)",
                                       "attempt 1: connecting and registering",
                                       "rigbench: register FAIL",
                                       "registering again in 2 s (attempt 2)",
                                       "attempt 2: connecting and registering",
                                       "rigbench: register FAIL",
                                       "registering again in 4 s (attempt 3)",
                                       "attempt 3: connecting and registering",
                                       "attempt 3: registration accepted"};
  size_t at = 0;
  for (const std::string& line : expected) {
    at = lines.find(line, at);
    ASSERT_NE(at, std::string::npos) << "missing in order: " << line << "\n" << lines;
  }
  ASSERT_TRUE(readUntil(rigbench, "status 23 (registered)")) << seen();
  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 9}});
  EXPECT_EQ(sim.next("completion", 10000)["ref"], 9);

  ::kill(rigbench.pid(), SIGINT);
  ASSERT_TRUE(readUntil(rigbench, "served 1 requests and 0 informational messages; 1 error events")) << seen();
  EXPECT_EQ(rigbench.wait(), 0);
}

TEST_F(AutoModeTest, ARefusedFirstRegistrationEndsTheRunWithAReason) {
  startSimulator();
  const auto result = zem::test::runProcess({RIGBENCH, "--auto", "--server", "127.0.0.1", "--id", "0"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "rigbench: Incorrect Registration ID\n");
}

}  // namespace
}  // namespace rigbench::test
