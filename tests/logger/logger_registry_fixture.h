// The logger following a key of the settings store: what its tests share.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "logger/generic_logger_registry.h"
#include "logger_fixture.h"
#include "platform/settings/settings_store.h"
#include "support/stdout_capture.h"

using zem::RegistryKey;
using zem::RootKey;
using zem::test::capturedStdout;

inline constexpr const char* kKey = "SOFTWARE\\Test\\Logger";

class LoggerRegistryTest : public LoggerTest {
 protected:
  std::unique_ptr<GenericLoggerRegistry> makeSettings(RootKey root = RootKey::LocalMachine) {
    return std::make_unique<GenericLoggerRegistry>(root, kKey, "LogLevel", "LogSize", "MaxNumLogFiles", "LogPath",
                                                   nullptr);
  }

  // The key, created when missing.
  RegistryKey key() {
    RegistryKey key;
    EXPECT_TRUE(RegistryKey::create(RootKey::LocalMachine, kKey, key).isOk());
    return key;
  }
  std::optional<uint32_t> number(const char* name) {
    uint32_t value = 0;
    RegistryKey opened;
    if (!RegistryKey::open(RootKey::LocalMachine, kKey, opened).isOk()) return std::nullopt;
    if (!opened.queryDword(name, value).isOk()) return std::nullopt;
    return value;
  }
  std::optional<std::string> text(const char* name) {
    std::string value;
    RegistryKey opened;
    if (!RegistryKey::open(RootKey::LocalMachine, kKey, opened).isOk()) return std::nullopt;
    if (!opened.queryString(name, value).isOk()) return std::nullopt;
    return value;
  }

  // The four values as the store holds them.
  void expectStored(uint32_t level, uint32_t size, uint32_t files, const std::string& directory) {
    EXPECT_EQ(number("LogLevel"), level);
    EXPECT_EQ(number("LogSize"), size);
    EXPECT_EQ(number("MaxNumLogFiles"), files);
    EXPECT_EQ(text("LogPath"), directory);
  }

  // Sets up settings and logger as the trace facade does: key settings,
  // activation, start.
  void start() {
    logger = makeLogger("Registry_Test");
    settings = makeSettings();
    capturedStdout([&] {
      settings->setLoggingRegistryKeySettings();
      activated = settings->activateRegistryChecking(logger.get());
    });
    ASSERT_TRUE(activated);
    ASSERT_TRUE(logger->startLogging());
  }

  template <typename Condition>
  static bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  void TearDown() override {
    if (settings) settings->deactivateRegistryChecking();
    if (logger) logger->stopLogging();
  }

  std::unique_ptr<GenericLogger> logger;
  std::unique_ptr<GenericLoggerRegistry> settings;
  bool activated = false;
};
