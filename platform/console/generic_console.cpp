#include "platform/console/generic_console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os/os_file.h"
#include "platform/os/os_time.h"
#include "platform/paths.h"

namespace {

constexpr char kDefaultTitle[] = "Debug Console";
constexpr char kErrorFile[] = "C:\\TEMP\\ConsoleError.txt";
constexpr char kErrorFileDirectory[] = "C:\\TEMP";
constexpr size_t kErrorTextSize = 260;

}  // namespace

GenericConsole::GenericConsole() { std::snprintf(title, sizeof title, "%s", kDefaultTitle); }

GenericConsole::GenericConsole(const char* consoleTitle, uint16_t width, uint16_t height)
    : bufferWidth(width == 0 ? kDefaultWidth : width), bufferHeight(height == 0 ? kDefaultHeight : height) {
  const bool usable = consoleTitle != nullptr && consoleTitle[0] != '\0' && std::strlen(consoleTitle) <= kTitleLimit;
  std::snprintf(title, sizeof title, "%s", usable ? consoleTitle : kDefaultTitle);
}

GenericConsole::~GenericConsole() { closeConsole(); }

uint16_t GenericConsole::acceptedColour(uint16_t colour) {
  return colour == kGreyOnBlack || colour == kLightCyanOnBlue || colour == kBlackOnGrey ? colour : kGreyOnBlack;
}

void GenericConsole::printError(const char* format, ...) {
  char text[kErrorTextSize];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  char stamp[OS_FILE_TIME_STRING_SIZE];
  osMonthTimeString(stamp, sizeof stamp);
  std::printf("%s %s", stamp, text);
  if (!errorFileFlag) return;
  osDirectoryCreateTree(kErrorFileDirectory);
  if (FILE* file = std::fopen(zem::nativePath(kErrorFile).c_str(), "a+")) {
    std::fprintf(file, "%s %s", stamp, text);
    std::fclose(file);
  }
}

bool GenericConsole::openConsole() {
  if (consoleOpen) return false;
  if (!platform.release()) {
    std::printf("openConsole: FreeConsole failed. Error = %ld.\n", platform.lastError());
  }
  if (consoleHandle != kInvalidConsoleHandle) {  // left by an opening that failed half-way
    platform.closeHandle(consoleHandle);
    consoleHandle = kInvalidConsoleHandle;
  }
  if (!platform.allocate(bufferHeight)) {
    printError("openConsole: AllocConsole failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.setTitle(title)) {
    printError("openConsole: SetConsoleTitle failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  ConsoleHandle standardOutput = kInvalidConsoleHandle;
  if (!platform.standardOutput(standardOutput)) {
    printError("openConsole: GetStdHandle failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.setBufferSize(standardOutput, bufferWidth, bufferHeight)) {
    printError("openConsole: SetConsoleScreenBufferSize failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.openOutput(consoleHandle)) {
    consoleHandle = kInvalidConsoleHandle;
    printError("openConsole: CreateFile failed.\n");
    return false;
  }
  if (!platform.makeStandardOutput(consoleHandle)) {
    printError("openConsole: SetStdHandle failed. Error = %ld.\n", platform.lastError());
    platform.closeHandle(consoleHandle);
    platform.release();
    consoleHandle = kInvalidConsoleHandle;
    return false;
  }
  if (!platform.reopenStandardStream()) {
    printError("openConsole: freopen failed.\n");
    return false;
  }
  consoleOpen = true;
  disableClose();  // its failures are reported; the console is open all the same
  return true;
}

bool GenericConsole::disableClose() {
  if (!consoleOpen) return false;
  if (!platform.findWindow(title)) {
    printError("disableClose: FindWindow failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.systemMenu()) {
    printError("disableClose: GetSystemMenu failed\n");
    return false;
  }
  if (!platform.removeCloseCommand()) {
    printError("disableClose: DeleteMenu failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.redrawMenu()) {
    printError("disableClose: DrawMenuBar failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.ignoreInterruptKey()) {
    printError("disableClose: SetConsoleCtrlHandler failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  return true;
}

void GenericConsole::closeConsole() {
  if (!consoleOpen) return;
  if (!platform.closeHandle(consoleHandle)) {
    printError("closeConsole: CloseHandle failed. Error = %ld.\n", platform.lastError());
  }
  if (!platform.release()) {
    printError("closeConsole: FreeConsole failed. Error = %ld.\n", platform.lastError());
  }
  consoleHandle = kInvalidConsoleHandle;
  consoleOpen = false;
}

bool GenericConsole::clearConsole() {
  if (!consoleOpen) {
    printError("clearConsole: Console is not open.\n");
    return false;
  }
  uint16_t width = 0;
  uint16_t height = 0;
  if (!platform.screenSize(consoleHandle, width, height)) {
    printError("clearConsole: GetConsoleScreenBufferInfo failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.fillBlanks(consoleHandle, width, height)) {
    printError("clearConsole: FillConsoleOutputCharacter failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.screenSize(consoleHandle, width, height)) {
    printError("clearConsole: GetConsoleScreenBufferInfo failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.fillAttributes(consoleHandle, textColour, width, height)) {
    printError("clearConsole: FillConsoleOutputAttribute failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  if (!platform.homeCursor(consoleHandle)) {
    printError("clearConsole: SetConsoleCursorPosition failed. Error = %ld.\n", platform.lastError());
    return false;
  }
  return true;
}

void GenericConsole::setConsoleTextColour(uint16_t colour) {
  if (!consoleOpen) return;
  textColour = acceptedColour(colour);
  if (!platform.setColour(consoleHandle, textColour)) {
    printError("setConsoleTextColour: SetConsoleTextAttribute failed. Error = %ld.\n", platform.lastError());
  }
}

void GenericConsole::printSettings() {
  std::printf("\n");
  std::printf("********** GenericConsole Settings Start **********\n");
  std::printf("\n");
  std::printf("Console Open   = %s\n", consoleOpen ? "YES" : "NO ");
  std::printf("Title          = %s\n", title);
  std::printf("Buffer Width   = %d\n", bufferWidth);
  std::printf("Buffer Heigth  = %d\n", bufferHeight);
  if (consoleHandle == kInvalidConsoleHandle) {
    std::printf("Console Handle = INVALID_HANDLE_VALUE\n");
  } else {
    std::printf("Console Handle  = %ld (0x%lx)\n", static_cast<long>(consoleHandle),
                static_cast<unsigned long>(consoleHandle));
  }
  std::printf("\n");
  std::printf("*********** GenericConsole Settings End ***********\n");
  std::printf("\n");
}
