#include "support/environment.h"

#include <cstdlib>

namespace zem::test {

// The C runtime's copy is what getenv reads; _putenv_s keeps the process's
// own environment (what child processes inherit) in step with it.
void setEnvironmentVariable(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

// An empty value removes the variable.
void unsetEnvironmentVariable(const std::string& name) { _putenv_s(name.c_str(), ""); }

}  // namespace zem::test
