#include "logger/generic_logger_registry.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os/os_file.h"
#include "platform/settings/settings_store.h"

namespace {

constexpr char kInitialDirectoryKeySetting[] = "D:\\Corvane\\Logs\\Pellor";
constexpr uint32_t kExitWaitMs = 1000;

constexpr char kSetFailure[] = "setLoggingRegistryKeySettings: Could not set key %s\\%s\n";
constexpr char kConsoleSetFailure[] = "setLoggingRegistryKeySettings: Could not                        set key %s\\%s\n";
constexpr char kFilesSetFailure[] = "setLoggingRegistryKeySettings: Could not set                        key %s\\%s\n";
constexpr char kNumberReadFailure[] = "readLoggingRegistryKeys: Could not read %s\\%s\n";
constexpr char kUncheckedReadFailure[] = "reading registory error : Could not read key  key %s\\%s\n";

void copyText(char* out, size_t size, const char* text) { std::snprintf(out, size, "%s", text != nullptr ? text : ""); }

const char* rootKeyLine(zem::RootKey root) {
  switch (root) {
    case zem::RootKey::ClassesRoot:
      return "hMainKey                   = HKEY_CLASSES_ROOT\n";
    case zem::RootKey::CurrentUser:
      return "hMainKey                   = HKEY_CURRENT_USER\n";
    case zem::RootKey::LocalMachine:
      return "hMainKey                   = HKEY_LOCAL_MACHINE\n";
    case zem::RootKey::PerformanceData:
      return "hMainKey                   = HKEY_PERFORMANCE_DATA\n";
    case zem::RootKey::CurrentConfig:
      return "hMainKey                   = HKEY_CURRENT_CONFIG\n";
    case zem::RootKey::DynData:
      return "hMainKey                   = HKEY_DYN_DATA\n";
    case zem::RootKey::Users:
      break;
  }
  return "hMainKey                   = Unknown\n";
}

}  // namespace

GenericLoggerRegistry::GenericLoggerRegistry(zem::RootKey mainKey, const char* keyName, const char* levelName,
                                             const char* sizeName, const char* filesName, const char* directoryName,
                                             const char* consoleName)
    : GenericLoggerRegistry(true, mainKey, keyName, levelName, sizeName, filesName, directoryName, consoleName) {}

GenericLoggerRegistry::GenericLoggerRegistry(zem::RootKey mainKey, const char* keyName, const char* levelName,
                                             const char* sizeName, const char* consoleName)
    : GenericLoggerRegistry(false, mainKey, keyName, levelName, sizeName, nullptr, nullptr, consoleName) {}

GenericLoggerRegistry::GenericLoggerRegistry(bool extended, zem::RootKey mainKey, const char* keyName,
                                             const char* levelName, const char* sizeName, const char* filesName,
                                             const char* directoryName, const char* consoleName)
    : extendedSettings(extended), console(consoleName, 0, 0), consoleEnabled(consoleName != nullptr), hMainKey(mainKey) {
  copyText(directoryPathKeySetting, sizeof directoryPathKeySetting, kInitialDirectoryKeySetting);
  copyText(loggerRegKeyName, sizeof loggerRegKeyName, keyName);
  copyText(logLevelSubKeyName, sizeof logLevelSubKeyName, levelName);
  copyText(maxLogSizeInMegsSubKeyName, sizeof maxLogSizeInMegsSubKeyName, sizeName);
  copyText(maxNumberOfLogFilesSubKeyName, sizeof maxNumberOfLogFilesSubKeyName, filesName);
  copyText(directoryPathSubKeyName, sizeof directoryPathSubKeyName, directoryName);
  copyText(consoleSubKeyName, sizeof consoleSubKeyName, consoleName);
}

GenericLoggerRegistry::~GenericLoggerRegistry() {
  deactivateRegistryChecking();
  console.closeConsole();
}

void GenericLoggerRegistry::printStoreFailure(const char* operation, const std::string& message) {
  // The store's own words say which file and line an administrator broke.
  if (!message.empty()) std::printf("%s: %s\n", operation, message.c_str());
}

// ---- Reading

bool GenericLoggerRegistry::readNumber(zem::RegistryKey& key, const char* name, uint32_t& setting, uint32_t fallback,
                                       bool typeChecked, bool repair, const char* readFailureText,
                                       const char* setFailureText) {
  zem::RegValue value;
  const zem::RegStatus status = key.queryValue(name, value);
  if (status.isOk() && typeChecked && !value.isDword() && !repair) {
    std::printf("readLoggingRegistryKeys: Key %s\\%s not a REG_DWORD\n", loggerRegKeyName, name);
    return false;
  }
  // Without a type check the value's first four bytes are the number, as a
  // number buffer of four bytes would receive them; a longer value does not fit.
  const bool usable = status.isOk() && (typeChecked ? value.isDword() : value.data.size() <= 4);
  if (usable) {
    uint32_t number = 0;
    for (size_t i = 0; i < value.data.size(); ++i) number |= static_cast<uint32_t>(value.data[i]) << (8 * i);
    setting = number;
    return true;
  }
  if (!repair) std::printf(readFailureText, loggerRegKeyName, name);
  if (!key.setDword(name, fallback).isOk()) {
    std::printf(setFailureText, loggerRegKeyName, name);
    return false;
  }
  setting = fallback;
  return true;
}

bool GenericLoggerRegistry::readDirectory(zem::RegistryKey& key, bool repair, const char* setFailureText) {
  zem::RegValue value;
  const zem::RegStatus status = key.queryValue(directoryPathSubKeyName, value);
  std::string text;
  if (status.isOk()) {
    text = value.asText();
    text.resize(std::strlen(text.c_str()));  // up to its terminator, whatever the type
  }
  if (status.isOk() && text.size() < kReadablePathSize) {
    copyText(directoryPath, sizeof directoryPath, text.c_str());
  } else {
    if (!repair) std::printf(kUncheckedReadFailure, loggerRegKeyName, directoryPathSubKeyName);
    if (!key.setString(directoryPathSubKeyName, directoryPath).isOk()) {
      std::printf(setFailureText, loggerRegKeyName, directoryPathSubKeyName);
      return false;
    }
  }
  copyText(directoryPathKeySetting, sizeof directoryPathKeySetting, directoryPath);
  return true;
}

bool GenericLoggerRegistry::readValues(zem::RegistryKey& key, bool repair, const char* setFailureText) {
  if (!readNumber(key, logLevelSubKeyName, logLevelKeySetting, fallbackLogLevel, true, repair, kNumberReadFailure,
                  setFailureText)) {
    return false;
  }
  fallbackLogLevel = logLevelKeySetting;
  if (!readNumber(key, maxLogSizeInMegsSubKeyName, maxLogSizeInMegsKeySetting, fallbackMaxLogSizeInMegs, true, repair,
                  kNumberReadFailure, setFailureText)) {
    return false;
  }
  fallbackMaxLogSizeInMegs = maxLogSizeInMegsKeySetting;
  if (consoleEnabled && !readNumber(key, consoleSubKeyName, consoleKeySetting, 0, true, repair, kNumberReadFailure,
                                    kConsoleSetFailure)) {
    return false;
  }
  if (!extendedSettings) return true;
  if (!readNumber(key, maxNumberOfLogFilesSubKeyName, maxNumberOfLogFilesKeySetting, fallbackMaxNumberOfLogFiles,
                  false, repair, kUncheckedReadFailure, kFilesSetFailure)) {
    return false;
  }
  fallbackMaxNumberOfLogFiles = maxNumberOfLogFilesKeySetting;
  return readDirectory(key, repair, setFailureText);
}

bool GenericLoggerRegistry::readLoggingRegistryKeys() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  zem::RegistryKey key;
  const zem::RegStatus status = zem::RegistryKey::open(hMainKey, loggerRegKeyName, key);
  if (!status.isOk()) {
    std::printf("readLoggingRegistryKeys: Could not open key %s\n", loggerRegKeyName);
    if (status.code != zem::RegError::NotFound) printStoreFailure("readLoggingRegistryKeys", status.message);
    return false;
  }
  return readValues(key, false, kSetFailure);
}

bool GenericLoggerRegistry::setLoggingRegistryKeySettings() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  if (readLoggingRegistryKeys()) return true;
  zem::RegistryKey key;
  const zem::RegStatus status = zem::RegistryKey::create(hMainKey, loggerRegKeyName, key);
  if (!status.isOk()) {
    std::printf("setLoggingRegistryKeySettings: Couldn't create\\open key %s\n", loggerRegKeyName);
    printStoreFailure("setLoggingRegistryKeySettings", status.message);
    return false;
  }
  // Every value that is missing or unusable gets the value in force; values
  // the administrator set correctly stay as they are.
  return readValues(key, true, kSetFailure);
}

// ---- Applying

bool GenericLoggerRegistry::writeBack(zem::RegistryKey& key, const char* name, uint32_t value) {
  if (key.setDword(name, value).isOk()) return true;
  std::printf("updateLoggerDynamicConfig: Could not set key %s\\%s\n", loggerRegKeyName, name);
  return false;
}

bool GenericLoggerRegistry::logDirectoryWritable(const char* directory) {
  const std::string probe =
      std::string(directory) + "/.zemlink-write-test-" + std::to_string(osProcessSelf(nullptr));
  if (!osFileCreate(probe.c_str())) return false;
  osFileDelete(probe.c_str());
  return true;
}

bool GenericLoggerRegistry::applyDirectory(zem::RegistryKey& key) {
  // An existing directory the logger could not write its files in would lose
  // every line from the move on: it is refused like one that cannot be made,
  // before the logger sees it.
  char full[OS_FULL_PATH_SIZE];
  bool refused = false;
  if (directoryPath[0] != '\0' && osFullPathName(directoryPath, full) && osFileExists(full) &&
      !logDirectoryWritable(full)) {
    pLogger->logMsg(LOG_LEVEL_INFO,
                    "IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value\n ");
    refused = true;
  } else {
    refused = pLogger->setDirectoryPath(directoryPath);
  }
  if (!refused) return true;
  copyText(directoryPath, sizeof directoryPath, pLogger->getDirectoryPath());
  copyText(directoryPathKeySetting, sizeof directoryPathKeySetting, directoryPath);
  if (key.setString(directoryPathSubKeyName, directoryPath).isOk()) return true;
  std::printf("updateLoggerDynamicConfig: Could not set key %s\\%s\n", loggerRegKeyName, directoryPathSubKeyName);
  return false;
}

bool GenericLoggerRegistry::updateLoggerDynamicConfig() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  if (!readLoggingRegistryKeys()) {
    std::printf("updateLoggerDynamicConfig: readLoggingRegistryKeys failed\n");
    return false;
  }
  if (pLogger == nullptr) {
    std::printf("updateLoggerDynamicConfig: pLogger is NULL\n");
    return false;
  }
  zem::RegistryKey key;
  if (!zem::RegistryKey::create(hMainKey, loggerRegKeyName, key).isOk()) {
    std::printf("updateLoggerDynamicConfig: Couldn't create\\open key %s\n", loggerRegKeyName);
    return false;
  }

  if (extendedSettings) {
    if (!applyDirectory(key)) return false;
    if (!firstUpdateDone) {
      // The one time the files move at once: the logger was made with its
      // own directory, and the stored one takes over before it starts.
      if (std::strcmp(directoryPath, pLogger->getLogDirectory()) != 0 &&
          std::strcmp(directoryPath, pLogger->getDirectoryPath()) == 0) {
        pLogger->adoptLogDirectory(directoryPath);
      } else {
        pLogger->logFileName_Appended();
        pLogger->initLogFiles();
      }
    }
    if (pLogger->setMaxNumberOfLogFiles(maxNumberOfLogFilesKeySetting)) {
      maxNumberOfLogFilesKeySetting = pLogger->getMaxNumberOfLogFiles();
      fallbackMaxNumberOfLogFiles = maxNumberOfLogFilesKeySetting;
      if (!writeBack(key, maxNumberOfLogFilesSubKeyName, maxNumberOfLogFilesKeySetting)) return false;
    }
    firstUpdateDone = true;
  }

  if (pLogger->setCurrentLogLevel(logLevelKeySetting)) {
    logLevelKeySetting = pLogger->getCurrentLogLevel();
    fallbackLogLevel = logLevelKeySetting;
    if (!writeBack(key, logLevelSubKeyName, logLevelKeySetting)) return false;
  }
  if (pLogger->setMaxLogFileSizeInMegs(maxLogSizeInMegsKeySetting)) {
    maxLogSizeInMegsKeySetting = pLogger->getMaxLogFileSizeInBytes() >> 20;
    fallbackMaxLogSizeInMegs = maxLogSizeInMegsKeySetting;
    if (!writeBack(key, maxLogSizeInMegsSubKeyName, maxLogSizeInMegsKeySetting)) return false;
  }

  if (consoleEnabled) {
    if (consoleKeySetting != 0) {
      pLogger->setLogToStdio(true);
      console.openConsole();
    } else {
      pLogger->setLogToStdio(false);
      console.closeConsole();
    }
  }
  return true;
}

// ---- The watcher

bool GenericLoggerRegistry::activateRegistryChecking(GenericLogger* ptrLogger) {
  if (checkingActivated.load()) {
    std::printf("activateRegistryChecking: Reg checking already activated\n");
    return false;
  }
  if (ptrLogger == nullptr) {
    std::printf("activateRegistryChecking: ptrLogger is NULL\n");
    return false;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(settingsLock);
    pLogger = ptrLogger;
  }
  checkingActivated = true;
  // The key is watched from before the first update on, so that no change
  // made between that update and the watcher's start goes unseen.
  wakeEvent = std::make_shared<zem::Event>(zem::Event::Reset::Auto);
  watchArmed = zem::RegistryKey::open(hMainKey, loggerRegKeyName, watchedKey).isOk() &&
               watchedKey.notifyChange(true, wakeEvent).isOk();
  if (!updateLoggerDynamicConfig()) {
    std::printf("checkRegSettingsThread: updateLoggerDynamicConfig failed\n");
    return false;
  }

  if (!osBinarySemaphoreCreate(&threadExitSemaphore, 0)) {
    std::printf("checkRegSettingsThread: osBinarySemaphoreCreate failed\n");
    threadExitSemaphore = nullptr;
    watchedKey.close();
    checkingActivated = false;
    return false;
  }
  watcherRunning = true;
  if (!osThreadCreate(checkRegSettingsThread_stub, this, OS_THREAD_PRIORITY_NORMAL, &regCheckThreadId,
                      &regCheckThreadHandle)) {
    std::printf("activateRegistryChecking: osThreadCreate failed\n");
    watcherRunning = false;
    osBinarySemaphoreDestroy(threadExitSemaphore);
    threadExitSemaphore = nullptr;
    regCheckThreadHandle = nullptr;
    watchedKey.close();
    checkingActivated = false;
    return false;
  }
  return true;
}

uint32_t GenericLoggerRegistry::checkRegSettingsThread_stub(void* object) {
  if (object == nullptr) return 1;
  auto* self = static_cast<GenericLoggerRegistry*>(object);
  try {
    self->checkRegSettingsThread();
  } catch (abi::__forced_unwind&) {
    throw;  // osThreadExit: the thread ends
  } catch (...) {
    std::printf("GenericLoggerRegistry::checkRegSettingsThread_stub() : Exception\n");
  }
  self->watcherRunning = false;
  // The last touch of the object: deactivation may go on from here.
  if (!osBinarySemaphoreGive(self->threadExitSemaphore)) {
    std::printf("checkRegSettingsThread: osBinarySemaphoreGive failed\n");
  }
  return 0;
}

void GenericLoggerRegistry::checkRegSettingsThread() {
  // Opened and armed by the activation, before its update.
  zem::RegistryKey& key = watchedKey;
  if (!key.isOpen()) {
    std::printf("checkRegSettingsThread: Could not open key %s\n", loggerRegKeyName);
    return;
  }
  if (!watchArmed) {
    std::printf("checkRegSettingsThread: RegNotifyChangeKeyValue failed\n");
    return;
  }
  // The next notification is asked for before the values are read, so that
  // a change made while they are applied is not missed. The object's own
  // write-backs then wake it once more, and that pass finds nothing to do.
  while (checkingActivated.load()) {
    if (!wakeEvent->wait(zem::Event::kInfinite)) {
      std::printf("checkRegSettingsThread: WaitForSingleObject failed\n");
      return;
    }
    if (!checkingActivated.load()) break;
    if (!key.notifyChange(true, wakeEvent).isOk()) {
      std::printf("checkRegSettingsThread: RegNotifyChangeKeyValue failed\n");
      return;
    }
    if (!updateLoggerDynamicConfig()) {
      std::printf("checkRegSettingsThread: updateLoggerDynamicConfig failed\n");
      // One bad value must not end the watching for the rest of the process:
      // an unusable value is replaced with the one in force and the values
      // are applied again; a store that cannot be read is left alone until
      // it changes again.
      if (setLoggingRegistryKeySettings()) updateLoggerDynamicConfig();
    }
    watcherPassCount.fetch_add(1);
  }
}

void GenericLoggerRegistry::deactivateRegistryChecking() {
  if (!checkingActivated.load()) return;
  checkingActivated = false;
  if (wakeEvent) wakeEvent->set();
  if (threadExitSemaphore != nullptr) {
    if (!osBinarySemaphoreTake(threadExitSemaphore, kExitWaitMs)) {
      std::printf("deactivateRegistryChecking: osBinarySemaphoreTake failed\n");
    }
    // The watcher cannot be ended from outside safely; it has been woken and
    // ends after the update it may be in, so it is waited for.
    if (regCheckThreadHandle != nullptr) {
      osThreadWait(regCheckThreadHandle, OS_WAIT_FOREVER);
      osThreadClose(regCheckThreadHandle);
      regCheckThreadHandle = nullptr;
    }
    if (!osBinarySemaphoreDestroy(threadExitSemaphore)) {
      std::printf("deactivateRegistryChecking: osBinarySemaphoreDestroy failed\n");
    } else {
      threadExitSemaphore = nullptr;
    }
  }
  watchedKey.close();
  wakeEvent.reset();
  if (consoleEnabled) console.closeConsole();
}

bool GenericLoggerRegistry::isWatcherRunning() const { return watcherRunning.load(); }

// ---- Reports

uint32_t GenericLoggerRegistry::getLogLevelKeySetting() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  return logLevelKeySetting;
}

uint32_t GenericLoggerRegistry::getMaxLogSizeInMegsKeySetting() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  return maxLogSizeInMegsKeySetting;
}

uint32_t GenericLoggerRegistry::getMaxNumberOfLogFilesKeySetting() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  return maxNumberOfLogFilesKeySetting;
}

void GenericLoggerRegistry::getDirectoryPathKeySetting(char* out) {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  copyText(out, kPathSize, directoryPathKeySetting);
}

void GenericLoggerRegistry::printSettings() {
  std::lock_guard<std::recursive_mutex> lock(settingsLock);
  std::printf("\n");
  std::printf("********** GenericLoggerRegistry Settings Start **********\n");
  std::printf("\n");
  std::printf("Checking activated         = %s\n", checkingActivated.load() ? "YES" : "NO ");
  std::printf("%s", rootKeyLine(hMainKey));
  std::printf("loggerRegKeyName           = %s\n", loggerRegKeyName);
  std::printf("logLevelSubKeyName         = %s\n", logLevelSubKeyName);
  std::printf("logLevelKeySetting         = %ld\n", static_cast<long>(logLevelKeySetting));
  std::printf("maxLogSizeInMegsSubKeyName = %s\n", maxLogSizeInMegsSubKeyName);
  std::printf("maxLogSizeInMegsKeySetting = %ld\n", static_cast<long>(maxLogSizeInMegsKeySetting));
  if (extendedSettings) {
    std::printf("maxLogSizeInMegsSubKeyName = %s\n", maxNumberOfLogFilesSubKeyName);
    std::printf("maxNumberOfLogFilesKeySetting = %ld\n", static_cast<long>(maxNumberOfLogFilesKeySetting));
    std::printf("directoryPathSubKeyName = %s\n", directoryPathSubKeyName);
    std::printf("directoryPathSubKeyName = %s\n", directoryPathKeySetting);
  }
  if (consoleEnabled) {
    std::printf("consoleSubKeyName          = %s\n", consoleSubKeyName);
    std::printf("consoleKeySetting          = %s (%ld)\n", consoleKeySetting != 0 ? "OPEN" : "CLOSED",
                static_cast<long>(consoleKeySetting));
  }
  if (checkingActivated.load()) {
    std::printf("Logging Thread ID          = %ld (0x%lx)\n", static_cast<long>(regCheckThreadId),
                static_cast<unsigned long>(regCheckThreadId));
    int priority = 0;
    if (osThreadPriorityGet(regCheckThreadHandle, &priority)) {
      std::printf("Reg Check Thread Priority  = %d\n", priority);
    } else {
      std::printf("Reg Check Thread Priority  = ERROR\n");
    }
  }
  std::printf("\n");
  std::printf("*********** GenericLoggerRegistry Settings End ***********\n");
  std::printf("\n");
}
