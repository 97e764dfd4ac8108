// Whole text files written and read back by the tests, in one call each.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace zem::test {

inline void writeFile(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

// The file's content; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace zem::test
