// Setting and removing environment variables of the test process, the same
// way on every platform.
#pragma once

#include <string>

namespace zem::test {

void setEnvironmentVariable(const std::string& name, const std::string& value);
void unsetEnvironmentVariable(const std::string& name);

}  // namespace zem::test
