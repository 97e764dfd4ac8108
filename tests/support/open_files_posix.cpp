// The descriptors of this process are the links in /proc/self/fd.
#include "support/open_files.h"

#include <filesystem>

namespace zem::test {

bool isOpenInThisProcess(const std::string& file) {
  std::error_code error;
  const std::string target = std::filesystem::canonical(file, error).string();
  if (error) return false;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code unreadable;
    if (std::filesystem::read_symlink(entry.path(), unreadable).string() == target) return true;
  }
  return false;
}

}  // namespace zem::test
