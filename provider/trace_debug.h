// TraceDebug: the provider's trace facade. Provider code hands it finished
// trace lines; it writes them through a GenericLogger while tracing is on.
//
// Whether tracing is on is the REG_DWORD "IsLogTrace" (1: on) under the
// provider's key below HKEY_LOCAL_MACHINE in the settings store. It is read
// at Initialization and again whenever the key changes: a watch thread waits
// for the store's change notification (or, when the key cannot be watched,
// looks every 4 s). The first time tracing is on, the facade makes the
// logger "<name>_1.log" in "\Corvane\Logs\Pellor" below the data root, with
// a GenericLoggerRegistry that makes it follow "LogLevel", "LogSize",
// "MaxNumLogFiles" and "LogPath" in the same key. Switching tracing off
// pauses the lines; switching it on again resumes them in the same logger
// and files. The logger and the watch thread live until the facade is
// destroyed; a second Initialization keeps the logger and replaces the watch
// thread, so there is never more than one of either.
//
// Threads: log, trace and isLoggerRunning may be called from any thread at
// any time; Initialization and the destructor from one controlling thread.
// The destructor wakes the watch thread and joins it before the logger
// stops, so nothing of the facade runs once it has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "logger/generic_logger.h"
#include "logger/generic_logger_registry.h"
#include "platform/event.h"
#include "platform/settings/registry_types.h"
#include "platform/settings/settings_store.h"
#include "provider/provider_thread.h"

class TraceDebug {
 public:
  static constexpr int64_t kPollIntervalMs = 4000;  // the look at "IsLogTrace" when the key cannot be watched

  explicit TraceDebug(int64_t pollIntervalMs = kPollIntervalMs);
  ~TraceDebug();
  TraceDebug(const TraceDebug&) = delete;
  TraceDebug& operator=(const TraceDebug&) = delete;

  // Reads "IsLogTrace" under HKEY_LOCAL_MACHINE\keyPath, starts the logger
  // named `name` when it is 1, and starts watching the key. False only when
  // tracing was asked for and the logger could not be started.
  bool Initialization(const char* name, const char* keyPath);
  // Hands the text, unchanged ("%" included), to the logger at the level
  // while tracing is on; does nothing otherwise.
  void log(uint32_t level, const char* text);
  // A provider trace line: log at level 2.
  void trace(const char* text) { log(LOG_LEVEL_INFO, text); }
  bool isLoggerRunning() const;
  // The REG_DWORD under the facade's key; false when the key does not open,
  // the value is missing or has another type.
  bool readRegistryNumber(const char* valueName, uint32_t& destination) const;

  // For tests and reports: the running logger, or null, and whether lines
  // reach it now.
  GenericLogger* logger() const { return m_Logger.load(); }
  bool isTracing() const { return !m_Suspended.load() && m_Logger.load() != nullptr; }

 private:
  void RegistryThread(ProviderThread& self);
  // Starts a logger with its settings object; false when none could start.
  bool startLogger();
  void stopWatchThread();
  zem::RegStatus readIsLogTrace(uint32_t& value) const;

  std::atomic<bool> m_Stop{false};
  std::atomic<bool> m_Suspended{true};
  char m_Name[64] = {};
  char m_KeyPath[256] = {};
  // Owned. Published once started and kept until the destructor, so a
  // caller of log that read the pointer always finds a live logger.
  std::atomic<GenericLogger*> m_Logger{nullptr};
  std::unique_ptr<GenericLoggerRegistry> m_Registry;
  // Set by the store when the key changes, and by the destructor.
  std::shared_ptr<zem::Event> m_Event;
  zem::RegistryKey m_Key;  // used by the watch thread while it runs

  const int64_t pollIntervalMs_;
  bool eventArmed_ = false;  // the watch thread starts on the notification, else by polling
  std::unique_ptr<ProviderThread> watchThread_;
  std::mutex controlMutex_;  // Initialization and the destructor
};
