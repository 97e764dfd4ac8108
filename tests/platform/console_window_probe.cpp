// Opens the debug console in a terminal window and reports on a descriptor
// kept from the original standard output: whether the console became
// standard output, and what writing does once the test has killed the window.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/console/generic_console.h"

namespace {

int reportFd = -1;

void report(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t written = write(reportFd, text.data(), text.size());
}

}  // namespace

int main() {
  reportFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  GenericConsole console("Console probe", 0, 0);
  if (!console.openConsole() || !console.terminal().hasWindow()) {
    report("no window");
    return 1;
  }
  report("opened window " + std::to_string(console.terminal().windowId()));

  termios settings{};
  const bool terminal = isatty(STDOUT_FILENO) && tcgetattr(STDOUT_FILENO, &settings) == 0;
  report(std::string(terminal ? "stdout is a terminal" : "stdout is no terminal") +
         ((settings.c_lflag & ISIG) == 0 ? ", interrupt key off" : ", interrupt key on"));

  std::printf("through the console\n");
  console.setConsoleTextColour(27);
  console.clearConsole();
  std::printf("after the clear\n");
  std::fflush(stdout);
  report("written");

  std::string line;
  if (!std::getline(std::cin, line)) return 2;
  // The window is gone: writes fail at once, they neither block nor signal.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int error = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (write(STDOUT_FILENO, "x", 1) < 0 && errno != EAGAIN) {
      error = errno;
      break;
    }
  }
  for (int i = 0; i < 10000; ++i) std::printf("a line nobody sees %d\n", i);
  std::fflush(stdout);
  report(error == EIO ? "writes after the window: dropped" : "writes after the window: " + std::to_string(error));

  console.closeConsole();
  std::printf("into the null device\n");
  std::fflush(stdout);
  report("console closed");
  return 0;
}
