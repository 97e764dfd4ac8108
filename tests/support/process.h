// Runs another program of the build for a test: arguments, standard input,
// and what it printed and returned.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zem::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the given arguments, feeds input to its standard input,
// and waits for it to end.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = "");

// A program that keeps running beside the test, with pipes to its standard
// input and output.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads one line of standard output (without its newline); false at end of
  // output or when timeoutMs passes first (0: only what is there already).
  bool readLine(std::string& line, int timeoutMs);
  // Whether standard output has ended (the program closed it or ended).
  bool outputEnded() const;
  // For waiting on several programs at once with poll() (POSIX only):
  // readable when a line may be there.
  int outputFd() const;
  bool writeLine(const std::string& line);
  void closeInput();
  // Waits for the program to end and returns its exit code (-1 if killed).
  int wait();
  // Waits at most timeoutMs for the program to end; false if it still runs.
  bool waitFor(int timeoutMs);
  // After the end: whether a signal ended it, and which.
  int terminatingSignal() const { return signal_; }
  void kill();
  int pid() const { return pid_; }

 private:
  // The platform's pipes, or its connection to the program.
  struct Native;
  std::unique_ptr<Native> native_;
  int pid_ = -1;
  std::string pending_;
  bool outputEnded_ = false;
  bool exited_ = false;
  int exitCode_ = -1;
  int signal_ = 0;
};

}  // namespace zem::test
