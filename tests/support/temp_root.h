// A fresh data root for one test: a temporary directory that $ZEMLINK_ROOT
// points to while the object lives, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zem::test {

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zemlink-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    setenv("ZEMLINK_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() {
    unsetenv("ZEMLINK_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace zem::test
