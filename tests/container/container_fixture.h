// What the container export tests share: a fresh data root and container
// runtime per test, the settings value that switches the exception log on,
// the log's lines.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "container/container_runtime.h"
#include "platform/settings/registry_types.h"
#include "support/temp_root.h"

namespace zem::test {

class ContainerExports : public ::testing::Test {
 protected:
  ~ContainerExports() override;

  // Sets "IsLogTrace" under the provider key, or removes it (nullopt).
  void setIsLogTrace(const std::optional<RegValue>& value);
  // Creates the directory of the exception log (the log never does).
  void createExceptionLogDirectory();
  // The messages of the exception log, without their time stamps; each line
  // is checked against the log's line format.
  std::vector<std::string> exceptionLogMessages();
  bool exceptionLogExists();

  TempRoot root_;
  ContainerRuntime runtime_;
};

}  // namespace zem::test
