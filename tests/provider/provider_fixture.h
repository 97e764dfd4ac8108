// A provider object with short timings beside a real exchange-sim on
// loopback. Each test gets its own data root (the settings store and the
// trace files) and its own current directory, where "zemlink.ini" names the
// simulator's port. Tracing is on ("IsLogTrace" 1) unless a test says otherwise.
// The provider is current, so the tests call the exports themselves.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "container/container_runtime.h"
#include "logger/generic_logger.h"
#include "platform/paths.h"
#include "platform/settings/settings_store.h"
#include "provider/provider_settings.h"
#include "provider/zemlink_provider.h"
#include "support/exchange_simulator.h"
#include "support/temp_root.h"
#include "zemlink.h"

namespace zem::test {

// The provider's trace as it reaches its file, Tarvo_Provider_1.log below
// the data root. Each check first lets the logging thread write what has
// been handed to the logger; clear() makes the checks look only at what
// comes after it.
class TraceCapture {
 public:
  TraceCapture(std::string file, std::function<GenericLogger*()> logger)
      : file_(std::move(file)), logger_(std::move(logger)) {}

  // Waits until the text occurs `count` times.
  bool waitFor(const std::string& text, size_t count = 1, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (occurrences(this->text(), text) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  size_t count(const std::string& text) {
    settle();
    return occurrences(this->text(), text);
  }
  // What was written since the last clear().
  std::string text() {
    const std::string all = readAll();
    return all.size() > offset_ ? all.substr(offset_) : std::string();
  }
  void clear() {
    settle();
    offset_ = readAll().size();
  }
  const std::string& file() const { return file_; }

  static size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
  }

 private:
  // Waits until the logging thread has written every entry handed over so far.
  void settle() {
    GenericLogger* logger = logger_();
    if (logger == nullptr) return;
    const uint32_t handedOver = logger->messageCounts().requests;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      const GenericLogger::MessageCounts counts = logger->messageCounts();
      if (counts.logged + counts.lost >= handedOver) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::string readAll() const {
    // Text mode: the lines end as "\n" on every platform.
    std::ifstream in(file_);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  const std::string file_;
  const std::function<GenericLogger*()> logger_;
  size_t offset_ = 0;
};

// Switches the provider's trace on or off in the settings store.
inline void setTracing(uint32_t isLogTrace) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk());
  ASSERT_TRUE(key.setDword("IsLogTrace", isLogTrace).isOk());
}

// Short timings: the pump fetches every 5 ms, pauses 50 ms after a failed
// fetch, and the keep-alive thread runs every 100 ms.
inline ProviderTimings shortTimings() {
  ProviderTimings timings;
  timings.pumpCycleMs = 5;
  timings.failurePauseMs = 50;
  timings.keepAliveCycleMs = 100;
  timings.initSettleMs = 1;
  return timings;
}

// One event as the application sees it.
struct Event {
  int32_t result = 0;
  ZemContainerHandle handle = 0;
  int32_t type() const { return Zem_getMessageType(handle); }
  int32_t status() const { return Zem_getStatus(handle); }
};

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
    setTracing(1);
    makeProvider();
  }
  void TearDown() override {
    provider_.reset();
    simulator_.reset();
    std::filesystem::current_path(previousDirectory_);
  }

  // A fresh provider object (the previous one is unloaded first).
  void makeProvider(ProviderTimings timings = shortTimings()) {
    provider_.reset();
    provider_ = std::make_unique<clZemlink>(containers_, timings);
    ASSERT_EQ(clZemlink::current(), provider_.get());
  }

  // Starts the simulator and names its port in "zemlink.ini".
  ExchangeSimulator& startSimulator(std::vector<std::string> options = {}) {
    simulator_ = std::make_unique<ExchangeSimulator>(std::move(options));
    EXPECT_NE(simulator_->port(), 0);
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << simulator_->port() << "\n";
    return *simulator_;
  }
  // Kills the simulator at once (as kill -9 does) and starts a new one on
  // the same port.
  ExchangeSimulator& restartSimulator(std::vector<std::string> options = {}) {
    const int port = simulator_->port();
    simulator_->process().kill();
    simulator_.reset();
    options.insert(options.end(), {"--port", std::to_string(port)});
    simulator_ = std::make_unique<ExchangeSimulator>(std::move(options));
    EXPECT_EQ(simulator_->port(), port);
    return *simulator_;
  }
  ExchangeSimulator& sim() { return *simulator_; }
  clZemlink& provider() { return *provider_; }

  // ZemlinkInit, Zem_RegisterProvider and the registration's status event.
  void registerWith(uint32_t providerId) {
    ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
    ASSERT_EQ(Zem_RegisterProvider(providerId), ZEM_SUCCESS);
    ASSERT_FALSE(sim().next("registered").is_null());
    expectStatusEvent(ZEM_STATUS_REGISTERED);
  }

  // Polls until an event comes (result 10) or the time is up (the last
  // result then).
  Event poll(int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Event event;
    do {
      event.result = Zem_GetEvent(ZEM_EVENT_POLL, &event.handle);
      if (event.result == ZEM_SUCCESS) return event;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return event;
  }

  void expectStatusEvent(int32_t status) {
    Event event = poll();
    ASSERT_EQ(event.result, ZEM_SUCCESS);
    EXPECT_EQ(event.type(), ZEM_MSG_PROVIDER_STATUS);
    EXPECT_EQ(event.status(), status);
    EXPECT_EQ(Zem_InfoReceived(&event.handle), ZEM_SUCCESS);
  }

  void expectErrorEvent() {
    Event event = poll();
    ASSERT_EQ(event.result, ZEM_SUCCESS);
    EXPECT_EQ(event.type(), ZEM_MSG_ERROR);
    EXPECT_EQ(event.status(), ZEM_ERROR_SERVER);
    EXPECT_EQ(Zem_InfoReceived(&event.handle), ZEM_SUCCESS);
  }

  // Waits until the condition holds (at most 5 s).
  template <typename Condition>
  static bool eventually(Condition condition, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  TempRoot root_;
  // The provider's log directory, a path text of the system: below the data
  // root on Linux, on the current drive on Windows.
  static std::string traceFile(const char* name) { return nativePath(std::string("\\Corvane\\Logs\\Pellor\\") + name); }
  TraceCapture trace_{traceFile("Tarvo_Provider_1.log"),
                      [this] { return provider_ ? provider_->traceFacade().logger() : nullptr; }};
  ContainerRuntime containers_;

 private:
  std::filesystem::path previousDirectory_;
  std::unique_ptr<ExchangeSimulator> simulator_;  // declared before the provider, so it outlives it
  std::unique_ptr<clZemlink> provider_;
};

}  // namespace zem::test
