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
#include <vector>

#include "logger/generic_logger.h"
#include "support/path_texts.h"
#include "support/temp_root.h"

using zem::test::kDrivesAreReal;
using zem::test::kLineEnd;

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

  static std::string joined(const std::string& directory, const std::string& name) {
    return zem::test::joinedPath(directory, name);
  }
  std::string textBelowRoot(const std::string& relative) const { return zem::test::textBelowRoot(root, relative); }
  std::string nativeBelowRoot(const std::string& relative) const { return zem::test::nativeBelowRoot(root, relative); }

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
