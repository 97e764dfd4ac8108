// The provider's trace in its files, driven by the settings store: off and
// on at ZemlinkInit, switched by zemreg while requests flow, the logger's
// settings following the key, one logger and one watch thread however often
// ZemlinkInit runs.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/proc_self.h"
#include "support/process.h"
#include "provider_fixture.h"

namespace zem::test {
namespace {

constexpr const char* kKey = "HKLM\\SOFTWARE\\Brasken\\Quorin\\Tarvo";

// zemreg, a process of its own, as an operator would run it.
void zemreg(const std::string& value, const std::string& type, const std::string& data) {
  const ProcessResult result = runProcess({ZEMREG, "add", kKey, "/v", value, "/t", type, "/d", data, "/f"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
}

std::optional<uint32_t> storedNumber(const char* name) {
  RegistryKey key;
  uint32_t value = 0;
  if (!RegistryKey::open(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return std::nullopt;
  if (!key.queryDword(name, value).isOk()) return std::nullopt;
  return value;
}

class ProviderTraceTest : public ProviderTest {
 protected:
  // Sends a request with the reference and items, takes it and releases it.
  void serve(int ref, const std::vector<std::string>& items = {}) {
    sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", ref}, {"items", items}});
    Event request = poll();
    ASSERT_EQ(request.result, ZEM_SUCCESS);
    EXPECT_EQ(Zem_getServerID(request.handle), ref);
    Zem_ResponseReceived(&request.handle);
  }
  static std::string recordLine(int ref) { return "\tMsgReferenceId " + std::to_string(ref) + ", "; }
};

TEST_F(ProviderTraceTest, TracingOffAtStartWritesNothing) {
  for (const bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "IsLogTrace missing" : "IsLogTrace 0");
    if (missing) {
      RegistryKey key;
      ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, kProviderKeyPath, key).isOk());
      ASSERT_TRUE(key.deleteValue("IsLogTrace").isOk());
    } else {
      setTracing(0);
    }
    makeProvider();
    startSimulator();
    registerWith(7);
    serve(1, {"a", "b"});
    EXPECT_EQ(provider().traceFacade().logger(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(traceFile("")).parent_path())) << "no file, no directory";
    // The keep-alive thread learns that no logger runs.
    EXPECT_TRUE(eventually([&] { return !provider().traceFacade().isLoggerRunning(); }));
  }
}

TEST_F(ProviderTraceTest, TracingOnAtStartNotesItsWatchThreadBeforeTheProvidersLines) {
  startSimulator();
  registerWith(8);
  ASSERT_TRUE(trace_.waitFor("\nStart logging Ostrel Tarvo Provider \n\n"));
  const std::string text = trace_.text();
  const size_t watch = text.find("TraceDebug::Initialization(): Registry thread created.\n");
  ASSERT_NE(watch, std::string::npos);
  EXPECT_LT(watch, text.find("clZemlink::initializeComm() - Provider thread successfully created\n"));
  EXPECT_LT(watch, text.find("\nStart logging Ostrel Tarvo Provider \n\n"));
  EXPECT_LT(text.find("************** Logging Started **************"), watch);

  // A request's lines: the record and all ten items, "%" as it stands.
  const std::vector<std::string> items = {"100%", "%d %s", "", "three", "", "", "", "", "", "ten"};
  serve(77, items);
  ASSERT_TRUE(trace_.waitFor("\t (Message 9, ten) \n"));
  EXPECT_EQ(trace_.count("Zem_GetMessageBridge\n"), 1u);
  EXPECT_EQ(trace_.count(recordLine(77) + "MsgProviderId 8, CallId 0, NetworkCallId 0, NodeId 0, HeldCallId 0, "
                                          "ReservedCallReference 0, MsgType 1 - MsgCounter 0\n"),
            1u);
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string line = "\t (Message " + std::to_string(i) + ", " + (items[i].empty() ? "NULL" : items[i]) + ") \n";
    EXPECT_EQ(trace_.count(line), 1u) << line;
  }
}

TEST_F(ProviderTraceTest, ZemregPausesAndResumesTracingWhileRequestsFlow) {
  startSimulator();
  registerWith(9);
  serve(1);
  ASSERT_TRUE(trace_.waitFor(recordLine(1)));
  GenericLogger* const logger = provider().traceFacade().logger();

  trace_.clear();
  zemreg("IsLogTrace", "REG_DWORD", "0");
  ASSERT_TRUE(trace_.waitFor("RegistryThread(): Shutting down logging.\n"));
  ASSERT_TRUE(eventually([&] { return !provider().traceFacade().isTracing(); }));
  EXPECT_LT(trace_.text().find("RegistryThread(): Retrieve IsLogTrace registry.\n"),
            trace_.text().find("RegistryThread(): Shutting down logging.\n"));
  for (int ref = 2; ref <= 4; ++ref) serve(ref, {"while paused"});
  EXPECT_EQ(trace_.count("while paused"), 0u);
  EXPECT_EQ(trace_.count(recordLine(3)), 0u);

  trace_.clear();
  zemreg("IsLogTrace", "REG_DWORD", "1");
  ASSERT_TRUE(trace_.waitFor("RegistryThread(): Logger request turned on.\n"));
  EXPECT_EQ(trace_.count("RegistryThread(): Retrieve IsLogTrace registry.\n"), 1u);
  serve(5, {"resumed"});
  EXPECT_TRUE(trace_.waitFor("\t (Message 0, resumed) \n")) << "in the same file";
  EXPECT_EQ(provider().traceFacade().logger(), logger) << "the same logger";
  EXPECT_FALSE(std::filesystem::exists(traceFile("Tarvo_Provider_2.log")));
}

// Tracing switched on while requests flow reaches the provider's own lines
// at once, not at the next keep-alive (an hour away here). The logger could
// not start at ZemlinkInit (the places of its directory and of the default
// one it falls back to are taken by files), so the provider began with its
// trace flag off.
TEST_F(ProviderTraceTest, TheProvidersLinesFollowIsLogTraceAtOnce) {
  ProviderTimings timings = shortTimings();
  timings.keepAliveCycleMs = 3600 * 1000;
  makeProvider(timings);
  const std::filesystem::path blocked[] = {
      std::filesystem::path(traceFile("")).parent_path().parent_path().parent_path(),
      std::filesystem::path(nativePath("D:\\Corvane"))};
  for (const std::filesystem::path& place : blocked) {
    std::filesystem::remove_all(place);
    std::ofstream(place.string()) << "not a directory";
    ASSERT_TRUE(std::filesystem::is_regular_file(place)) << place;
  }
  startSimulator();
  registerWith(13);
  ASSERT_EQ(provider().traceFacade().logger(), nullptr);
  ASSERT_FALSE(provider().traceOn());
  serve(1);

  for (const std::filesystem::path& place : blocked) std::filesystem::remove(place);
  setTracing(0);
  const auto switched = std::chrono::steady_clock::now();
  zemreg("IsLogTrace", "REG_DWORD", "1");
  ASSERT_TRUE(eventually([&] { return provider().traceOn(); }))
      << "the trace flag waits for the keep-alive; a logger runs: " << provider().traceFacade().isLoggerRunning();
  const auto followed = std::chrono::steady_clock::now() - switched;
  // The logger may have started in the default directory it falls back to:
  // a retry of its own can come between the two places being freed (on
  // Windows the two are apart). The lines are looked for in both.
  TraceCapture fallback{nativePath("D:\\Corvane\\Logs\\Pellor\\Tarvo_Provider_1.log"),
                        [this] { return provider().traceFacade().logger(); }};
  const auto seen = [&](const std::string& line) {
    return TraceCapture::occurrences(trace_.text(), line) + TraceCapture::occurrences(fallback.text(), line);
  };
  // Once the logging thread has written what it was handed.
  const auto written = [&](const std::string& line) { return trace_.count(line) + fallback.count(line); };
  serve(2);
  EXPECT_TRUE(eventually([&] { return seen(recordLine(2)) > 0; }));
  EXPECT_EQ(written(recordLine(1)), 0u);
  // zemreg, a process of its own, is part of the time measured.
  EXPECT_LT(followed, std::chrono::seconds(1));

  // Off: the lines stop at once; the logger keeps running, and so does the
  // flag, which follows whether a logger runs.
  zemreg("IsLogTrace", "REG_DWORD", "0");
  ASSERT_TRUE(eventually([&] { return seen("RegistryThread(): Shutting down logging.\n") > 0; }));
  serve(3);
  EXPECT_EQ(written(recordLine(3)), 0u);
  EXPECT_TRUE(provider().traceOn());
}

TEST_F(ProviderTraceTest, TheLoggerFollowsTheKeyAndTheStoreShowsWhatIsInForce) {
  startSimulator();
  registerWith(10);
  GenericLogger* const logger = provider().traceFacade().logger();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(storedNumber("LogLevel"), 2u) << "written at the start";
  EXPECT_EQ(storedNumber("LogSize"), 10u);
  EXPECT_EQ(storedNumber("MaxNumLogFiles"), 5u);

  // The facade's thread wakes too, and says so at level 4.
  trace_.clear();
  zemreg("LogLevel", "REG_DWORD", "4");
  ASSERT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 4; }));
  EXPECT_TRUE(trace_.waitFor("RegistryThread(): Logger request turned on.\n"));
  zemreg("LogSize", "REG_DWORD", "60");
  ASSERT_TRUE(eventually([] { return storedNumber("LogSize") == 10u; })) << "refused and written back";
  EXPECT_TRUE(trace_.waitFor("setMaxLogFileSizeInMegs() : the maxLogFileSizeInMegs registry key value has been "
                             "restored to previous settings\n"));
  EXPECT_TRUE(trace_.waitFor("RegistryThread(): Event signalled.\n"));
  zemreg("MaxNumLogFiles", "REG_DWORD", "3");
  ASSERT_TRUE(eventually([] { return storedNumber("MaxNumLogFiles") == 5u; }));

  // Level 1 keeps the provider's level-2 lines out.
  zemreg("LogLevel", "REG_DWORD", "1");
  ASSERT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 1; }));
  trace_.clear();
  serve(21, {"below the level"});
  EXPECT_EQ(trace_.count("below the level"), 0u);
}

TEST_F(ProviderTraceTest, ZemlinkInitAgainKeepsOneLoggerAndOneWatchThread) {
  startSimulator();
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  GenericLogger* const logger = provider().traceFacade().logger();
  ASSERT_NE(logger, nullptr);
  for (int round = 0; round < 3; ++round) ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  EXPECT_EQ(provider().traceFacade().logger(), logger);
  // The old threads were joined before the new one started; the new one
  // names itself once it runs.
  EXPECT_TRUE(eventually([] { return threadsNamed("zem-trace-watch") == 1; }));
  EXPECT_TRUE(trace_.waitFor("TraceDebug::Initialization(): Registry thread created.\n", 4));

  // Tracing off, then ZemlinkInit: paused; on again: the same logger resumes.
  setTracing(0);
  ASSERT_TRUE(trace_.waitFor("RegistryThread(): Shutting down logging.\n"));
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  setTracing(1);
  ASSERT_TRUE(trace_.waitFor("RegistryThread(): Logger request turned on.\n"));
  EXPECT_EQ(provider().traceFacade().logger(), logger);
  EXPECT_LE(threadsNamed("zem-trace-watch"), 1);
}

// The provider object goes (as at unloading): the watch thread first, then
// the logger with its usage report; nothing of the trace is left running.
TEST_F(ProviderTraceTest, TheProviderGoesWithItsTraceThreads) {
  startSimulator();
  registerWith(12);
  ASSERT_TRUE(eventually([] { return threadsNamed("zem-trace-watch") == 1; }));
  makeProvider();  // the old one is destroyed first
  EXPECT_TRUE(threadsNamedDropTo("zem-trace-watch", 0));
  EXPECT_NE(trace_.text().find("*************** Logging Ended ***************"), std::string::npos);
}

}  // namespace
}  // namespace zem::test
