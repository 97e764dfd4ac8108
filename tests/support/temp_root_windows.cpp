#include "support/temp_root.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/environment.h"

namespace zem::test {
namespace {

// The registry trees of the library ("SOFTWARE\Brasken") and of the tests,
// and the folders that the library's fixed path texts name ("\Corvane\...",
// "D:\Corvane\..."), which are real folders of the system's drives here.
void removeSharedState() {
  for (const char* tree : {"SOFTWARE\\Brasken", "SOFTWARE\\Test", "SOFTWARE\\X"}) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, tree);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, tree);
  }
  std::error_code ignored;
  for (const char* folder : {"C:\\Corvane", "D:\\Corvane"}) std::filesystem::remove_all(folder, ignored);
}

}  // namespace

TempRoot::TempRoot() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0;; ++attempt) {
    const std::filesystem::path candidate =
        base / ("zemlink-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) +
                "-" + std::to_string(attempt));
    if (CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
      path_ = candidate.string();
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) std::abort();
  }
  setEnvironmentVariable("ZEMLINK_ROOT", path_);
  removeSharedState();
}

TempRoot::~TempRoot() {
  removeSharedState();
  unsetEnvironmentVariable("ZEMLINK_ROOT");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zem::test
