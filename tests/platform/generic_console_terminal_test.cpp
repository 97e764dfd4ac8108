// The debug console open on Linux: standard output without a display, a
// terminal window with one.
#include "platform/console/generic_console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/stdout_capture.h"
#include "support/temp_root.h"

namespace {

using zem::test::capturedStdout;

// Runs the body with $DISPLAY unset, so that the console is standard output.
class WithoutDisplay {
 public:
  WithoutDisplay() {
    if (const char* display = std::getenv("DISPLAY")) saved_ = display;
    unsetenv("DISPLAY");
  }
  ~WithoutDisplay() {
    if (!saved_.empty()) setenv("DISPLAY", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};

// Without a display the console is the standard output the process has.
TEST(GenericConsole, WithoutADisplayStandardOutputIsTheConsole) {
  WithoutDisplay headless;
  GenericConsole console("Headless", 0, 0);
  bool opened = false;
  bool again = true;
  bool cleared = false;
  const std::string printed = capturedStdout([&] {
    opened = console.openConsole();
    again = console.openConsole();
    std::printf("still here\n");
    console.setConsoleTextColour(5);
    cleared = console.clearConsole();
  });
  EXPECT_TRUE(opened);
  EXPECT_FALSE(again);
  EXPECT_TRUE(cleared);
  EXPECT_TRUE(console.isOpen());
  EXPECT_EQ(console.getTextColour(), 7);
  // A file as standard output gets the text and no control sequences.
  EXPECT_EQ(printed, "still here\n");

  const std::string dump = capturedStdout([&] { console.printSettings(); });
  const long handle = static_cast<long>(console.getConsoleHandle());
  EXPECT_NE(dump.find("Console Open   = YES\n"), std::string::npos);
  std::ostringstream handleLine;
  handleLine << "Console Handle  = " << handle << " (0x" << std::hex << handle << ")\n";
  EXPECT_NE(dump.find(handleLine.str()), std::string::npos) << dump;

  console.closeConsole();
  EXPECT_FALSE(console.isOpen());
  EXPECT_EQ(console.getConsoleHandle(), kInvalidConsoleHandle);
  EXPECT_EQ(capturedStdout([] { std::printf("after\n"); }), "after\n") << "standard output is left as it was";
}

// A real terminal window on a virtual display: the probe program opens the
// console in xterm (which logs what it shows), writes through it, and goes
// on after the window has been killed.
std::string findOnPath(const std::string& name) {
  std::istringstream directories(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = directory + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(GenericConsoleWindow, ShowsStandardOutputAndOutlivesItsWindow) {
  const std::string xvfb = findOnPath("Xvfb");
  const std::string xterm = findOnPath("xterm");
  const std::string xdotool = findOnPath("xdotool");
  if (xvfb.empty() || xterm.empty() || xdotool.empty()) GTEST_SKIP() << "Xvfb, xterm and xdotool come with scripts/setup";

  zem::test::TempRoot root;
  zem::test::ChildProcess server({xvfb, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
  std::string displayNumber;
  ASSERT_TRUE(server.readLine(displayNumber, 20000)) << "Xvfb did not start";
  const std::string display = ":" + displayNumber;
  const std::string windowLog = root.path() + "/window.log";

  const std::string savedDisplay = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
  setenv("DISPLAY", display.c_str(), 1);
  setenv("ZEMLINK_CONSOLE_TERMINAL", (xterm + " -l -lf " + windowLog).c_str(), 1);
  zem::test::ChildProcess probe({CONSOLE_WINDOW_PROBE});
  unsetenv("ZEMLINK_CONSOLE_TERMINAL");
  if (savedDisplay.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", savedDisplay.c_str(), 1);
  }

  std::string line;
  ASSERT_TRUE(probe.readLine(line, 30000));
  unsigned long window = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "opened window %lu", &window), 1) << line;
  ASSERT_TRUE(probe.readLine(line, 10000));
  EXPECT_EQ(line, "stdout is a terminal, interrupt key off");
  ASSERT_TRUE(probe.readLine(line, 10000));
  EXPECT_EQ(line, "written");

  // What the process wrote reached the window, colour and clearing included.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string shown;
  while (std::chrono::steady_clock::now() < deadline) {
    shown = readFile(windowLog);
    if (shown.find("after the clear") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NE(shown.find("\033]0;Console probe\007"), std::string::npos) << "the title";
  EXPECT_NE(shown.find("through the console\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\033[0;96;44m"), std::string::npos) << "light cyan on blue";
  EXPECT_NE(shown.find("\033[2J"), std::string::npos) << "the clear";
  EXPECT_NE(shown.find("after the clear"), std::string::npos);

  // Closing the window leaves the process running; its output is dropped.
  const zem::test::ProcessResult kill = zem::test::runProcess(
      {"/usr/bin/env", "DISPLAY=" + display, xdotool, "windowkill", std::to_string(window)});
  EXPECT_EQ(kill.exitCode, 0) << kill.err;
  ASSERT_TRUE(probe.writeLine("window closed"));
  ASSERT_TRUE(probe.readLine(line, 30000));
  EXPECT_EQ(line, "writes after the window: dropped");
  ASSERT_TRUE(probe.readLine(line, 30000));
  EXPECT_EQ(line, "console closed");
  EXPECT_EQ(probe.wait(), 0);
  server.kill();
}

}  // namespace
