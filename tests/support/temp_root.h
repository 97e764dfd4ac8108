// A fresh data root for one test: a temporary directory that $ZEMLINK_ROOT
// points to while the object lives, removed with everything in it afterwards.
// The settings store starts empty too: on Linux it lives below the root; on
// Windows it is the system's registry, whose keys that the library and the
// tests use are removed at both ends, as are the folders of the library's
// fixed path texts (tests that share them therefore run one at a time
// there: RESOURCE_LOCK settings_store).
#pragma once

#include <string>

namespace zem::test {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace zem::test
