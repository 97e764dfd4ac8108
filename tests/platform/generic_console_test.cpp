// The debug console while it is closed: its settings, colours and the
// error file, the same on every platform.
#include "platform/console/generic_console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/path_texts.h"
#include "support/stdout_capture.h"
#include "support/temp_root.h"

namespace {

using zem::test::capturedStdout;

const std::regex kStampedLine(
    R"(\d{4} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d\d \d\d:\d\d:\d\d\.\d{3} (.*\n))");

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
  // A real folder of drive C: on Windows, below the data root elsewhere.
  const std::string file = zem::test::kDrivesAreReal ? std::string("C:\\TEMP\\ConsoleError.txt")
                                                     : root.path() + "/TEMP/ConsoleError.txt";
  std::filesystem::remove(file);
  GenericConsole console;
  capturedStdout([&] { console.clearConsole(); });
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
  in.close();
  std::filesystem::remove(file);
}

}  // namespace
