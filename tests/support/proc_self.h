// What /proc/self shows of this process, for tests that check that threads
// end and descriptors close: threads counted by name, open descriptors.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace zem::test {

inline int threadsNamed(const std::string& name) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
       it.increment(error)) {
    std::ifstream comm(it->path() / "comm");
    std::string threadName;
    if (std::getline(comm, threadName) && threadName == name) ++count;
  }
  return count;
}

// A joined thread can stay listed for a moment while the kernel finishes its
// exit, so a count that must drop is awaited, up to a deadline.
inline bool threadsNamedDropTo(const std::string& name, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (threadsNamed(name) > expected) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return threadsNamed(name) == expected;
}

// Every thread of the process.
inline int threadCount() {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

inline bool threadCountDropsTo(int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (threadCount() > expected) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return threadCount() == expected;
}

// Includes the one the count itself opens, the same in every count.
inline int openDescriptors() {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace zem::test
