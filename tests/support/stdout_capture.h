// Collects what the code under test prints on standard output (file
// descriptor 1, through stdio or not) while the object lives.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zem::test {

class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    if (file_ == nullptr) std::abort();
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~StdoutCapture() {
    restore();
    std::fclose(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything printed so far.
  std::string text() {
    std::fflush(stdout);
    std::string out;
    std::rewind(file_);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) out.append(chunk, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

  FILE* file_ = nullptr;
  int saved_ = -1;
};

}  // namespace zem::test
