#include "support/temp_root.h"

#include <cstdlib>
#include <filesystem>

#include "support/environment.h"

namespace zem::test {

TempRoot::TempRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zemlink-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
  setEnvironmentVariable("ZEMLINK_ROOT", path_);
}

TempRoot::~TempRoot() {
  unsetEnvironmentVariable("ZEMLINK_ROOT");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zem::test
