// A logger in a fresh data root, with short waits and a free-space figure
// the test sets, and helpers to read what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "logger/generic_logger.h"
#include "platform/paths.h"
#include "support/temp_root.h"

// What differs in the logger's files between the platforms. On Windows the
// system's path texts name real drives and the files are written in text
// mode; elsewhere a drive text is placed below the data root.
#ifdef _WIN32
inline constexpr bool kDrivesAreReal = true;
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr bool kDrivesAreReal = false;
inline constexpr std::string_view kLineEnd = "\n";
#endif

// Reaches inside the logger where a test must set up a state that is hard to
// reach from outside (records in use).
struct GenericLoggerTestAccess {
  static LockedPool<LogBuffer, GenericLogger::kPoolSize>& pool(GenericLogger& logger) { return logger.pool; }
  static void enqueue(GenericLogger& logger, LogBuffer* record) { logger.enqueue(record); }
};

class LoggerTest : public testing::Test {
 protected:
  zem::test::TempRoot root;
  const std::string directory = joined(root.path(), "logs");
  std::atomic<uint64_t> freeMegabytes{100000};
  std::atomic<bool> freeSpaceKnown{true};

  LoggerOptions options() {
    LoggerOptions options;
    options.timings.messageWaitMs = 30000;
    options.freeSpace = [this](const char*, uint64_t& freeBytes) {
      freeBytes = freeMegabytes.load() * 1048576ull;
      return freeSpaceKnown.load();
    };
    return options;
  }

  std::unique_ptr<GenericLogger> makeLogger(const char* name = "Trace.log", uint32_t level = 2, uint32_t sizeInMegs = 10,
                                            uint32_t files = 5, LoggerOptions loggerOptions = {}) {
    if (!loggerOptions.freeSpace) loggerOptions.freeSpace = options().freeSpace;
    return std::make_unique<GenericLogger>(directory.c_str(), name, level, sizeInMegs, false, files, loggerOptions);
  }

  std::string path(const std::string& name) const { return joined(directory, name); }

  // A path below a directory, joined the way the logger joins its own.
  static std::string joined(const std::string& directory, const std::string& name) {
    return directory + zem::pathSeparator() + name;
  }
  // A folder below the test's root ("a\\b"): its path text in the system's
  // form, and the native path the logger makes of that text. Where drives
  // are not real, "C:\\a\\b" is placed below the data root; on Windows the
  // text is the root's own path.
  std::string textBelowRoot(const std::string& relative) const {
    return (kDrivesAreReal ? root.path() + "\\" : std::string("C:\\")) + relative;
  }
  std::string nativeBelowRoot(std::string relative) const {
    for (char& c : relative) {
      if (c == '\\') c = zem::pathSeparator();
    }
    return joined(root.path(), relative);
  }

  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  static std::vector<std::string> lines(const std::string& file) {
    std::vector<std::string> result;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }

  static void writeFile(const std::string& file, const std::string& content) { std::ofstream(file) << content; }

  // A file of the given size that takes no room on the disk.
  static void sparseFile(const std::string& file, uintmax_t size) {
    writeFile(file, "");
    std::filesystem::resize_file(file, size);
  }

  static bool exists(const std::string& file) { return std::filesystem::exists(file); }

  // Waits until the logging thread has written n entries (at most 20 s).
  static bool waitForLogged(GenericLogger& logger, uint32_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (logger.messageCounts().logged < n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
};
