#include "platform/generic_console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/stdout_capture.h"
#include "support/temp_root.h"

namespace {

using zem::test::capturedStdout;

const std::regex kStampedLine(
    R"(\d{4} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d\d \d\d:\d\d:\d\d\.\d{3} (.*\n))");

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

TEST(GenericConsole, ConstructionTakesTitleAndSizeWithinTheirLimits) {
  const std::string longest(128, 't');
  const std::string tooLong = longest + "t";
  struct Case {
    const char* title;
    uint16_t width, height;
    std::string expectedTitle;
    uint16_t expectedWidth, expectedHeight;
  } cases[] = {
      {nullptr, 0, 0, "Debug Console", 256, 1000},
      {"", 80, 0, "Debug Console", 80, 1000},
      {"Trace", 0, 25, "Trace", 256, 25},
      {longest.c_str(), 1, 1, longest, 1, 1},
      {tooLong.c_str(), 1, 1, "Debug Console", 1, 1},
  };
  for (const Case& c : cases) {
    GenericConsole console(c.title, c.width, c.height);
    EXPECT_EQ(console.getTitle(), c.expectedTitle);
    EXPECT_EQ(console.getBufferWidth(), c.expectedWidth);
    EXPECT_EQ(console.getBufferHeight(), c.expectedHeight);
    EXPECT_EQ(console.getTextColour(), 7);
    EXPECT_FALSE(console.isOpen());
  }
  GenericConsole plain;
  EXPECT_STREQ(plain.getTitle(), "Debug Console");
}

TEST(GenericConsole, OnlyTheThreeColoursAreAccepted) {
  const std::pair<uint16_t, uint16_t> cases[] = {{7, 7}, {27, 27}, {112, 112}, {5, 7}, {0, 7}, {28, 7}, {0xFFFF, 7}};
  for (const auto& [requested, stored] : cases) EXPECT_EQ(GenericConsole::acceptedColour(requested), stored) << requested;
}

TEST(GenericConsole, DumpOfAClosedConsole) {
  GenericConsole console("Zemlink", 120, 300);
  EXPECT_EQ(capturedStdout([&] { console.printSettings(); }),
            "\n"
            "********** GenericConsole Settings Start **********\n"
            "\n"
            "Console Open   = NO \n"
            "Title          = Zemlink\n"
            "Buffer Width   = 120\n"
            "Buffer Heigth  = 300\n"
            "Console Handle = INVALID_HANDLE_VALUE\n"
            "\n"
            "*********** GenericConsole Settings End ***********\n"
            "\n");
}

TEST(GenericConsole, OperationsOnAClosedConsole) {
  GenericConsole console;
  bool cleared = true;
  bool disabled = true;
  const std::string printed = capturedStdout([&] {
    cleared = console.clearConsole();
    disabled = console.disableClose();
    console.setConsoleTextColour(27);
    console.closeConsole();
  });
  EXPECT_FALSE(cleared);
  EXPECT_FALSE(disabled);
  EXPECT_EQ(console.getTextColour(), 7) << "a closed console keeps its colour";
  std::smatch match;
  ASSERT_TRUE(std::regex_match(printed, match, kStampedLine)) << printed;
  EXPECT_EQ(match[2], "clearConsole: Console is not open.\n");
}

TEST(GenericConsole, ErrorFileGetsTheSameLineWhileItsFlagIsSet) {
  zem::test::TempRoot root;
  GenericConsole console;
  capturedStdout([&] { console.clearConsole(); });
  const std::string file = root.path() + "/TEMP/ConsoleError.txt";
  EXPECT_FALSE(std::filesystem::exists(file));

  console.setErrorFileFlag(true);
  const std::string printed = capturedStdout([&] {
    console.clearConsole();
    console.clearConsole();
  });
  std::ifstream in(file);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), printed);
  EXPECT_NE(printed.find("clearConsole: Console is not open.\n"), std::string::npos);
}

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
