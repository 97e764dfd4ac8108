// The threads of this process that carry a name, as the system lists them.
#pragma once

#include <string>

namespace zem::test {

int threadsNamed(const std::string& name);

}  // namespace zem::test
