// Collects what the code under test prints on standard output (file
// descriptor 1, through stdio or not).
//
// The test framework reports failures on standard output too, so only the
// calls under test run inside the capture; the checks come after it:
//
//     bool created = true;
//     const std::string printed = capturedStdout([&] { created = osBinarySemaphoreCreate(&h, 2); });
//     EXPECT_FALSE(created);
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zem::test {

template <typename Body>
std::string capturedStdout(Body&& body) {
  std::fflush(stdout);
  FILE* file = std::tmpfile();
  if (file == nullptr) std::abort();
  const int saved = dup(STDOUT_FILENO);
  dup2(fileno(file), STDOUT_FILENO);
  body();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);

  std::string out;
  std::rewind(file);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, n);
  std::fclose(file);
  return out;
}

}  // namespace zem::test
