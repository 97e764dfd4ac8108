#include "provider/trace_debug.h"

#include <cstdio>
#include <new>
#include <string>
#include <system_error>
#include <utility>

namespace {

constexpr char kLogDirectory[] = "\\Corvane\\Logs\\Pellor";
constexpr uint32_t kLogLevel = 2;
constexpr uint32_t kMaxLogFileSizeInMegs = 10;
constexpr uint32_t kMaxNumberOfLogFiles = 5;
constexpr char kIsLogTrace[] = "IsLogTrace";
// While requests flow, the trace is written five times a second rather than
// after a wake-up of the logging thread for each request: tracing stays cheap
// enough to leave on.
constexpr uint32_t kWriteIntervalMs = 200;

}  // namespace

TraceDebug::TraceDebug(int64_t pollIntervalMs, std::function<void(bool)> runningChanged)
    : pollIntervalMs_(pollIntervalMs), runningChanged_(std::move(runningChanged)) {}

TraceDebug::~TraceDebug() {
  std::lock_guard<std::mutex> control(controlMutex_);
  stopWatchThread();
  if (m_Registry) {
    m_Registry->deactivateRegistryChecking();
    m_Registry.reset();
  }
  if (GenericLogger* logger = m_Logger.load()) {
    m_Suspended = true;
    logger->stopLogging();
    m_Logger = nullptr;
    delete logger;
  }
  m_Key.close();
  m_Event.reset();
}

// ---- Lines

void TraceDebug::log(uint32_t level, const char* text) {
  if (m_Suspended.load(std::memory_order_acquire)) return;
  GenericLogger* logger = m_Logger.load(std::memory_order_acquire);
  if (logger == nullptr || text == nullptr) return;
  logger->logText(level, text);
}

bool TraceDebug::isLoggerRunning() const {
  const GenericLogger* logger = m_Logger.load(std::memory_order_acquire);
  return logger != nullptr && logger->isLoggingStarted();
}

// ---- The settings store

zem::RegStatus TraceDebug::readIsLogTrace(uint32_t& value) const {
  zem::RegistryKey key;
  zem::RegStatus status = zem::RegistryKey::open(zem::RootKey::LocalMachine, m_KeyPath, key);
  if (!status.isOk()) return status;
  return key.queryDword(kIsLogTrace, value);
}

void TraceDebug::reportUnreadable(const char* operation, const std::string& why) {
  // Once for each fault: a store polled while it stays broken the same way
  // is not reported again every few seconds.
  if (why == lastUnreadable_) return;
  lastUnreadable_ = why;
  const std::string line =
      std::string(operation) + ": IsLogTrace cannot be read, tracing stays as it is: " + why + "\n";
  std::fputs(line.c_str(), stdout);
  log(LOG_LEVEL_WARN, line.c_str());
}

bool TraceDebug::readRegistryNumber(const char* valueName, uint32_t& destination) const {
  zem::RegistryKey key;
  if (!zem::RegistryKey::open(zem::RootKey::LocalMachine, m_KeyPath, key).isOk()) return false;
  uint32_t value = 0;
  if (!key.queryDword(valueName, value).isOk()) return false;
  destination = value;
  return true;
}

// ---- Starting

bool TraceDebug::startLogger() {
  LoggerOptions options;
  options.timings.writeIntervalMs = kWriteIntervalMs;
  auto* logger = new (std::nothrow) GenericLogger(kLogDirectory, m_Name, kLogLevel, kMaxLogFileSizeInMegs, false,
                                                  kMaxNumberOfLogFiles, options);
  if (logger == nullptr) return false;
  std::unique_ptr<GenericLoggerRegistry> registry(new (std::nothrow) GenericLoggerRegistry(
      zem::RootKey::LocalMachine, m_KeyPath, "LogLevel", "LogSize", "MaxNumLogFiles", "LogPath", nullptr));
  if (registry) {
    registry->setLoggingRegistryKeySettings();
    registry->activateRegistryChecking(logger);
  }
  if (logger->startLogging()) {
    m_Registry = std::move(registry);
    m_Logger.store(logger, std::memory_order_release);
    m_Suspended.store(false, std::memory_order_release);
    return true;
  }
  if (registry) registry->deactivateRegistryChecking();
  registry.reset();
  delete logger;
  return false;
}

bool TraceDebug::Initialization(const char* name, const char* keyPath) {
  std::lock_guard<std::mutex> control(controlMutex_);
  // A second initialization replaces the watch thread and its notification;
  // the logger, once started, stays.
  stopWatchThread();
  m_Key.close();
  m_Event.reset();
  std::snprintf(m_Name, sizeof m_Name, "%s", name != nullptr ? name : "");
  std::snprintf(m_KeyPath, sizeof m_KeyPath, "%s", keyPath != nullptr ? keyPath : "");

  bool result = true;
  uint32_t isLogTrace = 0;
  const zem::RegStatus status = readIsLogTrace(isLogTrace);
  lastUnreadable_.clear();
  if (status.code == zem::RegError::Malformed) reportUnreadable("TraceDebug::Initialization()", status.message);
  if (status.isOk()) {
    if (isLogTrace != 1) {
      m_Suspended = true;
    } else if (m_Logger.load() != nullptr) {
      m_Suspended = false;
    } else {
      result = startLogger();
    }
  }

  eventArmed_ = false;
  try {
    m_Event = std::make_shared<zem::Event>(zem::Event::Reset::Manual);
  } catch (const std::bad_alloc&) {
    log(LOG_LEVEL_WARN, "TraceDebug::Initialization(): Could not create Event");
  }
  if (m_Event) {
    if (!zem::RegistryKey::open(zem::RootKey::LocalMachine, m_KeyPath, m_Key).isOk()) {
      log(LOG_LEVEL_WARN, "TraceDebug::Initialization(): Could not open registry key");
    } else if (!m_Key.notifyChange(true, m_Event).isOk()) {
      log(LOG_LEVEL_WARN, "TraceDebug::Initialization(): Could not register registry key");
      m_Key.close();
    } else {
      eventArmed_ = true;
    }
  }

  m_Stop = false;
  try {
    watchThread_ = std::make_unique<ProviderThread>("zem-trace-watch", [this](ProviderThread& self) {
      RegistryThread(self);
    });
    log(LOG_LEVEL_INFO, "TraceDebug::Initialization(): Registry thread created.\n");
  } catch (const std::system_error&) {
    log(LOG_LEVEL_WARN, "TraceDebug::Initialization(): Registry thread is not created.\n");
  }
  return result;
}

void TraceDebug::stopWatchThread() {
  if (!watchThread_) return;
  m_Stop = true;
  if (m_Event) m_Event->set();
  watchThread_.reset();  // wakes a polling sleep and joins
}

// ---- The watch thread

void TraceDebug::RegistryThread(ProviderThread& self) {
  bool notifying = eventArmed_;
  if (!notifying) log(LOG_LEVEL_INFO, "RegistryThread(): Event handle is NULL, use sleep in thread.\n");
  if (m_Stop) return;
  while (!m_Stop) {
    if (notifying) {
      m_Event->wait(zem::Event::kInfinite);
      log(LOG_LEVEL_TRACE, "RegistryThread(): Event signalled.\n");
      m_Event->reset();
      if (m_Stop) return;
      if (!m_Key.notifyChange(true, m_Event).isOk()) {
        log(LOG_LEVEL_WARN, "TraceDebug::Initialization(): Could not register registry key");
        m_Key.close();
        notifying = false;
      }
    } else {
      if (!self.sleepFor(pollIntervalMs_) || m_Stop) return;
      // The key may have come into being meanwhile: watching beats polling.
      if (m_Event && zem::RegistryKey::open(zem::RootKey::LocalMachine, m_KeyPath, m_Key).isOk()) {
        m_Event->reset();
        notifying = m_Key.notifyChange(true, m_Event).isOk();
      }
    }

    uint32_t isLogTrace = 0;
    const zem::RegStatus status = readIsLogTrace(isLogTrace);
    watchPasses_.fetch_add(1);
    if (status.code == zem::RegError::Malformed) {
      reportUnreadable("RegistryThread()", status.message);
      continue;
    }
    lastUnreadable_.clear();
    if (!status.isOk()) continue;
    GenericLogger* logger = m_Logger.load();
    // Resuming lifts the pause before the notes, so that the file shows
    // what switched the trace on again.
    if (isLogTrace == 1 && logger != nullptr) m_Suspended = false;
    log(LOG_LEVEL_INFO, "RegistryThread(): Retrieve IsLogTrace registry.\n");
    if (isLogTrace == 1) {
      if (logger != nullptr) {
        log(LOG_LEVEL_INFO, "RegistryThread(): Logger request turned on.\n");
      } else {
        startLogger();  // a failure is tried again at the next change
      }
    } else if (logger != nullptr) {
      log(LOG_LEVEL_INFO, "RegistryThread(): Shutting down logging.\n");
      m_Suspended = true;
    }
    if (runningChanged_) runningChanged_(isLoggerRunning());
  }
}
