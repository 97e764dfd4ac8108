// The terminal mechanics behind GenericConsole (generic_console.h): one
// operation per step of opening, clearing, colouring, protecting and closing
// a console window of the process's own. GenericConsole keeps the state, the
// texts and the rules; this class only talks to the operating system, so
// that each platform implements it in a file of its own
// (console_terminal_posix.cpp, console_terminal_windows.cpp: the system's
// console calls).
//
// On Linux a console is a terminal window: with a display ($DISPLAY) and a
// terminal emulator at hand (xterm, or $ZEMLINK_CONSOLE_TERMINAL: a command
// that takes xterm's options, split at blanks, such as
// "xterm -l -lf /tmp/console.log", which also logs the window), allocate()
// makes a pseudo-terminal and starts the emulator on its master side; the
// process keeps the slave side and makes it its standard output. Colours and clearing become the terminal's control sequences. The
// slave is non-blocking and never the process's controlling terminal, its
// flow control is off, and disableClose turns its interrupt key into a plain
// character: closing the window, or pressing Ctrl-C or Ctrl-S in it, never
// ends, blocks or signals the process; output written after the window has
// gone is dropped. Releasing the console points standard output at the null
// device, which lets the window end.
//
// Without a display or an emulator there is no window to make: allocate()
// succeeds and the console is the current standard output, which receives
// control sequences only when it is a terminal itself.
//
// Every operation returns false on failure; lastError() then gives the
// system's error number. One object is used by one thread at a time.
#pragma once

#include <cstdint>

// The handle of a console's output device; kInvalidConsoleHandle while closed.
using ConsoleHandle = intptr_t;
constexpr ConsoleHandle kInvalidConsoleHandle = -1;

class ConsoleTerminal {
 public:
  ConsoleTerminal();
  ~ConsoleTerminal();
  ConsoleTerminal(const ConsoleTerminal&) = delete;
  ConsoleTerminal& operator=(const ConsoleTerminal&) = delete;

  // Gives up the console the process holds through this object, if any.
  bool release();
  // Makes a new console: a terminal window where one can be shown, keeping
  // `lines` lines of scroll-back.
  bool allocate(uint16_t lines);
  bool setTitle(const char* title);
  bool standardOutput(ConsoleHandle& handle);
  // Checks that the handle is a usable output device. The size of a
  // terminal's screen is the user's: the scroll-back is fixed at allocation
  // and lines wrap at the window's width.
  bool setBufferSize(ConsoleHandle handle, uint16_t width, uint16_t height);
  // A handle of the console's output device for the console's own use.
  bool openOutput(ConsoleHandle& handle);
  // Makes the handle the process's standard output descriptor.
  bool makeStandardOutput(ConsoleHandle handle);
  // Makes the runtime's standard output stream write to the console.
  bool reopenStandardStream();
  bool closeHandle(ConsoleHandle handle);

  // The steps that make closing the window harmless.
  bool findWindow(const char* title);
  bool systemMenu();
  bool removeCloseCommand();
  bool redrawMenu();
  bool ignoreInterruptKey();

  // Clearing: the size of the screen, blanks in every cell, the current
  // attributes in every cell, the cursor to the top-left corner.
  bool screenSize(ConsoleHandle handle, uint16_t& width, uint16_t& height);
  bool fillBlanks(ConsoleHandle handle, uint16_t width, uint16_t height);
  bool fillAttributes(ConsoleHandle handle, uint16_t colour, uint16_t width, uint16_t height);
  bool homeCursor(ConsoleHandle handle);
  // The text attribute: foreground in the low four bits, background in the
  // next four (1 blue, 2 green, 4 red, 8 bright).
  bool setColour(ConsoleHandle handle, uint16_t colour);

  long lastError() const { return lastError_; }
  // Whether the console is a window of its own (rather than the standard
  // output the process already had), and its window's identifier.
  bool hasWindow() const { return window_ != 0; }
  unsigned long windowId() const { return window_; }

 private:
  bool fail(int error);
  bool writeSequence(ConsoleHandle handle, const char* text);

  int slave_ = -1;               // the pseudo-terminal's slave side, kept while allocated
  unsigned long window_ = 0;     // the emulator's window, 0 without one
  long lastError_ = 0;
};
