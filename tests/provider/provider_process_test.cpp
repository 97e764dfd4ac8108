// Programs that link libzemlink.so, against exchange-sim: the plain C
// console provider, a program that unloads the library while registered,
// and one that ends its registration while the server no longer answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/settings/settings_store.h"
#include "support/exchange_simulator.h"
#include "support/temp_root.h"

namespace zem::test {
namespace {

using nlohmann::json;

class ProviderProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  ExchangeSimulator& startSimulator(std::vector<std::string> options = {}) {
    sim_ = std::make_unique<ExchangeSimulator>(std::move(options));
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << sim_->port() << "\n";
    return *sim_;
  }

  // The next line of the program's output that contains text; the lines
  // read on the way are kept in `seen`.
  static bool readUntil(ChildProcess& program, const std::string& text, std::vector<std::string>& seen,
                        int timeoutMs = 5000) {
    std::string line;
    while (program.readLine(line, timeoutMs)) {
      seen.push_back(line);
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  TempRoot root_;
  std::filesystem::path previous_;
  std::unique_ptr<ExchangeSimulator> sim_;
};

TEST_F(ProviderProcessTest, TheConsoleProviderServesAndSeesEveryEvent) {
  ExchangeSimulator& sim = startSimulator();
  ChildProcess provider({CONSOLE_PROVIDER, "--id", "9", "--count", "6"});
  std::vector<std::string> seen;
  ASSERT_TRUE(readUntil(provider, "status 23 (registered)", seen));

  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}, {"callId", 100}, {"items", {"a", "b"}}});
  sim.command({{"cmd", "send"}, {"type", "info"}, {"ref", 2}, {"items", {"note"}}});
  ASSERT_TRUE(readUntil(provider, "request ref=1 call=100 items=[a|b||||||||] -> completion sent", seen));
  ASSERT_TRUE(readUntil(provider, "info ref=2 items=[note|||||||||]", seen));
  EXPECT_EQ(sim.next("completion")["items"], json::array({"served", "a", "b", "", "", "", "", "", "", ""}));

  // A failed keep-alive (the library's cycle is 15 s) reaches the program
  // as an error event; it registers again and goes on serving.
  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"result", 1004}});
  ASSERT_TRUE(readUntil(provider, "error event, status 30: connection lost, registering again", seen, 25000));
  ASSERT_TRUE(readUntil(provider, "status 24 (de-registered)", seen));
  ASSERT_TRUE(readUntil(provider, "status 23 (registered)", seen));
  for (int ref = 3; ref <= 6; ++ref) {
    sim.command({{"cmd", "send"}, {"type", ref == 6 ? "info" : "request"}, {"ref", ref}});
  }
  ASSERT_TRUE(readUntil(provider, "de-registering: 10", seen));
  ASSERT_TRUE(readUntil(provider, "status 24 (de-registered)", seen));
  ASSERT_TRUE(readUntil(provider, "served 4 requests and 2 informational messages; 1 error events, 0 refused completions",
                        seen));
  EXPECT_EQ(provider.wait(), 0);
  for (int ref = 3; ref <= 5; ++ref) EXPECT_EQ(sim.next("completion")["ref"], ref);
  EXPECT_FALSE(sim.next("deregistered").is_null());
}

TEST_F(ProviderProcessTest, TheConsoleProviderRidesOutARestartOfTheServer) {
  const int port = startSimulator().port();
  ChildProcess provider({CONSOLE_PROVIDER, "--id", "12"});
  std::vector<std::string> seen;
  ASSERT_TRUE(readUntil(provider, "status 23 (registered)", seen));
  sim_->command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}});
  ASSERT_TRUE(readUntil(provider, "request ref=1 ", seen));
  EXPECT_NE(seen.back().find("-> completion sent"), std::string::npos) << seen.back();

  // Killed at once, as kill -9 does. The keep-alive (every 15 s) notices;
  // registering fails while nothing listens, and the pause grows.
  sim_->process().kill();
  sim_.reset();
  ASSERT_TRUE(readUntil(provider, "error event, status 30: connection lost, registering again", seen, 25000));
  ASSERT_TRUE(readUntil(provider, "registration attempt 1 failed with 14; next attempt in 1 s", seen));
  ASSERT_TRUE(readUntil(provider, "registration attempt 2 failed with 14; next attempt in 2 s", seen));

  // Back on the same port: the next attempt registers, and serving resumes.
  ExchangeSimulator& restarted = startSimulator({"--port", std::to_string(port)});
  ASSERT_EQ(restarted.port(), port);
  // Attempt 3 comes 2 s after attempt 2; a slow start of the simulator
  // leaves it to a later one.
  ASSERT_TRUE(readUntil(provider, " succeeded", seen, 20000));
  EXPECT_EQ(seen.back().rfind("registration attempt ", 0), 0u) << seen.back();
  EXPECT_EQ(restarted.next("registered")["providerId"], 12);
  restarted.command({{"cmd", "send"}, {"type", "request"}, {"ref", 2}});
  ASSERT_TRUE(readUntil(provider, "request ref=2 ", seen));
  EXPECT_NE(seen.back().find("-> completion sent"), std::string::npos) << seen.back();
  EXPECT_EQ(restarted.next("completion")["ref"], 2);

  ::kill(provider.pid(), SIGTERM);
  ASSERT_TRUE(readUntil(provider, "1 error events, 0 refused completions, 1 re-registrations", seen));
  EXPECT_EQ(provider.wait(), 0);
}

TEST_F(ProviderProcessTest, UnloadingTheLibraryWhileRegisteredStopsItsThreads) {
  ExchangeSimulator& sim = startSimulator({"--hold-ms", "60000"});
  const auto result = runProcess({DLCLOSE_REGISTERED, ZEMLINK_LIBRARY});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "registered 5\nunloaded\nregistered 6\nunloaded\ndone\n");
  // The unload de-registered each provider with the server.
  EXPECT_EQ(sim.next("deregistered")["providerId"], 5);
  EXPECT_EQ(sim.next("deregistered")["providerId"], 6);
}

// A stopped simulator still accepts connections (the kernel completes them)
// but never answers: a server that hangs. It is resumed on every way out.
class StoppedProcess {
 public:
  explicit StoppedProcess(int pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
  ~StoppedProcess() { ::kill(pid_, SIGCONT); }
  StoppedProcess(const StoppedProcess&) = delete;
  StoppedProcess& operator=(const StoppedProcess&) = delete;

 private:
  int pid_;
};

TEST_F(ProviderProcessTest, EndingARegistrationWithAServerThatNeverAnswersIsBounded) {
  // The library gives up on the de-registration after 5 s; "for ever" is
  // what this guards against, so the limit here leaves room for a slow machine.
  constexpr auto kLimit = std::chrono::seconds(40);
  for (const char* mode : {"deinit", "dlclose", "exit"}) {
    SCOPED_TRACE(mode);
    ExchangeSimulator& sim = startSimulator({"--hold-ms", "60000"});
    ChildProcess program({UNLOAD_SILENT_SERVER, ZEMLINK_LIBRARY, mode});
    std::vector<std::string> seen;
    ASSERT_TRUE(readUntil(program, "registered", seen));
    ASSERT_FALSE(sim.next("registered").is_null());
    StoppedProcess hung(sim.process().pid());

    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(program.writeLine("go"));
    ASSERT_TRUE(program.waitFor(static_cast<int>(std::chrono::milliseconds(kLimit).count())))
        << "still running after " << kLimit.count() << " s";
    EXPECT_EQ(program.wait(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kLimit);
    std::string line;
    while (program.readLine(line, 1000)) seen.push_back(line);
    const std::string expected = std::string(mode) == "deinit"    ? "deinit 10"
                                 : std::string(mode) == "dlclose" ? "dlclose 0"
                                                                  : "done";
    EXPECT_NE(std::find(seen.begin(), seen.end(), expected), seen.end());
    EXPECT_EQ(seen.back(), "done");
  }
}

// With tracing on, the unload ends the trace before the code goes: the watch
// threads are joined and the logger writes its usage report and closes.
TEST_F(ProviderProcessTest, UnloadingWithTracingOnEndsTheTraceFirst) {
  {
    RegistryKey key;
    ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Brasken\\Quorin\\Tarvo", key).isOk());
    // Complete settings, so that reading them prints nothing beside the program's lines.
    ASSERT_TRUE(key.setDword("IsLogTrace", 1).isOk());
    ASSERT_TRUE(key.setDword("LogLevel", 2).isOk());
    ASSERT_TRUE(key.setDword("LogSize", 10).isOk());
    ASSERT_TRUE(key.setDword("MaxNumLogFiles", 5).isOk());
    ASSERT_TRUE(key.setString("LogPath", "").isOk());
  }
  ExchangeSimulator& sim = startSimulator({"--hold-ms", "60000"});
  const auto result = runProcess({DLCLOSE_REGISTERED, ZEMLINK_LIBRARY});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "registered 5\nunloaded\nregistered 6\nunloaded\ndone\n");
  EXPECT_EQ(sim.next("deregistered")["providerId"], 5);

  std::ifstream in(root_.path() + "/Corvane/Logs/Pellor/Tarvo_Provider_1.log");
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto count = [&log](const std::string& text) {
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  // One load and one unload per round, in order.
  EXPECT_EQ(count("TraceDebug::Initialization(): Registry thread created.\n"), 2u);
  EXPECT_EQ(count("---------- Logger Usage Information Start ----------"), 2u);
  EXPECT_EQ(count("*************** Logging Ended ***************"), 2u);
  EXPECT_GT(log.rfind("*************** Logging Ended ***************"), log.rfind("registerProvider\n"));
}

}  // namespace
}  // namespace zem::test
