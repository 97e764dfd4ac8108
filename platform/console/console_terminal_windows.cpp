// The console of a Windows process: the system's console calls, one per
// step, and the window menu of the console window.
#include <windows.h>

#include <cstdio>

#include "platform/console/console_terminal.h"

namespace {

HANDLE handleOf(ConsoleHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HWND windowOf(unsigned long window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

}  // namespace

ConsoleTerminal::ConsoleTerminal() = default;

// The console belongs to the process; closeConsole gives it up, not this object.
ConsoleTerminal::~ConsoleTerminal() = default;

bool ConsoleTerminal::fail(int error) {
  lastError_ = error;
  return false;
}

bool ConsoleTerminal::release() {
  window_ = 0;
  return FreeConsole() ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::allocate(uint16_t) { return AllocConsole() ? true : fail(static_cast<int>(GetLastError())); }

bool ConsoleTerminal::setTitle(const char* title) {
  return SetConsoleTitleA(title) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::standardOutput(ConsoleHandle& handle) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == INVALID_HANDLE_VALUE || output == nullptr) return fail(static_cast<int>(GetLastError()));
  handle = reinterpret_cast<ConsoleHandle>(output);
  return true;
}

bool ConsoleTerminal::setBufferSize(ConsoleHandle handle, uint16_t width, uint16_t height) {
  const COORD size{static_cast<SHORT>(width), static_cast<SHORT>(height)};
  return SetConsoleScreenBufferSize(handleOf(handle), size) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::openOutput(ConsoleHandle& handle) {
  const HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return fail(static_cast<int>(GetLastError()));
  handle = reinterpret_cast<ConsoleHandle>(output);
  return true;
}

bool ConsoleTerminal::makeStandardOutput(ConsoleHandle handle) {
  return SetStdHandle(STD_OUTPUT_HANDLE, handleOf(handle)) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::reopenStandardStream() {
  return std::freopen("CONOUT$", "wt", stdout) != nullptr ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::closeHandle(ConsoleHandle handle) {
  return CloseHandle(handleOf(handle)) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::findWindow(const char* title) {
  const HWND window = FindWindowA(nullptr, title);
  if (window == nullptr) return fail(static_cast<int>(GetLastError()));
  window_ = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
  return true;
}

bool ConsoleTerminal::systemMenu() {
  return GetSystemMenu(windowOf(window_), FALSE) != nullptr ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::removeCloseCommand() {
  return DeleteMenu(GetSystemMenu(windowOf(window_), FALSE), SC_CLOSE, MF_BYCOMMAND)
             ? true
             : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::redrawMenu() {
  return DrawMenuBar(windowOf(window_)) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::ignoreInterruptKey() {
  return SetConsoleCtrlHandler(nullptr, TRUE) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::screenSize(ConsoleHandle handle, uint16_t& width, uint16_t& height) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(handleOf(handle), &info)) return fail(static_cast<int>(GetLastError()));
  width = static_cast<uint16_t>(info.dwSize.X);
  height = static_cast<uint16_t>(info.dwSize.Y);
  return true;
}

bool ConsoleTerminal::fillBlanks(ConsoleHandle handle, uint16_t width, uint16_t height) {
  DWORD written = 0;
  return FillConsoleOutputCharacterA(handleOf(handle), ' ', static_cast<DWORD>(width) * height, COORD{0, 0}, &written)
             ? true
             : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::fillAttributes(ConsoleHandle handle, uint16_t colour, uint16_t width, uint16_t height) {
  DWORD written = 0;
  return FillConsoleOutputAttribute(handleOf(handle), colour, static_cast<DWORD>(width) * height, COORD{0, 0},
                                    &written)
             ? true
             : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::homeCursor(ConsoleHandle handle) {
  return SetConsoleCursorPosition(handleOf(handle), COORD{0, 0}) ? true : fail(static_cast<int>(GetLastError()));
}

bool ConsoleTerminal::setColour(ConsoleHandle handle, uint16_t colour) {
  return SetConsoleTextAttribute(handleOf(handle), colour) ? true : fail(static_cast<int>(GetLastError()));
}
