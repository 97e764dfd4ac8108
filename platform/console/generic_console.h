// GenericConsole: a console of the process's own, so that what the logger
// echoes on standard output becomes visible in a process that has no
// terminal, guarded against the user closing it.
//
// On Linux the console is a terminal window (see console_terminal.h): with a
// display and a terminal emulator (xterm) at hand, openConsole() starts the
// emulator on a pseudo-terminal titled with the console's title and makes
// that terminal the process's standard output; colours and clearing become
// the terminal's control sequences; closing the window, or its Ctrl-C, never
// ends, blocks or signals the process. Without a display or an emulator,
// openConsole() keeps the current standard output as the console and reports
// success.
//
// Failures are printed on standard output with a time stamp
// ("2026 Dec 08 20:41:57.123 clearConsole: Console is not open.\n") and, while
// the error-file flag is set, appended to "C:\TEMP\ConsoleError.txt" (below
// the data root). Nothing throws.
//
// A console belongs to the process; the object keeps no lock, so one thread
// at a time uses it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console/console_terminal.h"

class GenericConsole {
 public:
  static constexpr size_t kTitleLimit = 128;
  static constexpr uint16_t kDefaultWidth = 256;
  static constexpr uint16_t kDefaultHeight = 1000;
  // The accepted text colours: grey on black, light cyan on blue, black on grey.
  static constexpr uint16_t kGreyOnBlack = 7;
  static constexpr uint16_t kLightCyanOnBlue = 27;
  static constexpr uint16_t kBlackOnGrey = 112;

  GenericConsole();
  // A null, empty or over-long title gives "Debug Console"; a width or
  // height of 0 gives the default.
  GenericConsole(const char* title, uint16_t width, uint16_t height);
  ~GenericConsole();
  GenericConsole(const GenericConsole&) = delete;
  GenericConsole& operator=(const GenericConsole&) = delete;

  // False when already open (silently) or when a step fails (with its text).
  bool openConsole();
  void closeConsole();
  bool clearConsole();
  // Only while open; a colour other than the three accepted ones becomes 7.
  void setConsoleTextColour(uint16_t colour);
  bool disableClose();
  // The settings dump on standard output.
  void printSettings();

  bool isOpen() const { return consoleOpen; }
  const char* getTitle() const { return title; }
  uint16_t getBufferWidth() const { return bufferWidth; }
  uint16_t getBufferHeight() const { return bufferHeight; }
  uint16_t getTextColour() const { return textColour; }
  ConsoleHandle getConsoleHandle() const { return consoleHandle; }
  void setErrorFileFlag(bool on) { errorFileFlag = on; }
  const ConsoleTerminal& terminal() const { return platform; }

  // The colour that setConsoleTextColour stores for a request.
  static uint16_t acceptedColour(uint16_t colour);

 private:
  // The error printer: a time stamp, a blank and the formatted text.
  __attribute__((format(printf, 2, 3))) void printError(const char* format, ...);

  bool consoleOpen = false;
  bool errorFileFlag = false;
  ConsoleHandle consoleHandle = kInvalidConsoleHandle;
  char title[kTitleLimit + 1] = {};
  uint16_t bufferWidth = kDefaultWidth;
  uint16_t bufferHeight = kDefaultHeight;
  uint16_t textColour = kGreyOnBlack;
  ConsoleTerminal platform;
};
