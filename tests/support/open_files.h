// Whether this process holds a file open, as the system sees it.
#pragma once

#include <string>

namespace zem::test {

bool isOpenInThisProcess(const std::string& file);

}  // namespace zem::test
