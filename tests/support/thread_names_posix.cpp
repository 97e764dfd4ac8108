#include "support/thread_names.h"

#include <filesystem>
#include <fstream>

namespace zem::test {

int threadsNamed(const std::string& name) {
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

}  // namespace zem::test
