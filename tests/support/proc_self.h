// What /proc/self shows of this process, for tests that check that threads
// end and descriptors close: threads counted by name (on every platform),
// all threads and open descriptors (Linux).
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/thread_names.h"

namespace zem::test {

// Waits until the count has dropped to `expected` (at most 5 s); true when
// it is exactly that then.
template <typename Count>
bool countDropsTo(Count count, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (count() > expected) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return count() == expected;
}

// A joined thread can stay listed for a moment while the kernel finishes its
// exit, so a count that must drop is awaited, up to a deadline.
inline bool threadsNamedDropTo(const std::string& name, int expected) {
  return countDropsTo([&name] { return threadsNamed(name); }, expected);
}

inline int entriesIn(const char* directory) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    ++count;
  }
  return count;
}

// Every thread of the process.
inline int threadCount() { return entriesIn("/proc/self/task"); }
inline bool threadCountDropsTo(int expected) { return countDropsTo(threadCount, expected); }

// Includes the one the count itself opens, the same in every count.
inline int openDescriptors() { return entriesIn("/proc/self/fd"); }

}  // namespace zem::test
