// The console's terminal window on Linux: a pseudo-terminal whose master side
// a terminal emulator shows, whose slave side becomes standard output.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console/console_terminal.h"

extern char** environ;

namespace {

constexpr const char* kDefaultTerminal = "xterm";
constexpr int kWindowWaitMs = 10000;  // an emulator on a busy machine takes a while to map its window
constexpr int kMasterFd = 3;          // where the emulator finds the master side

std::vector<std::string> terminalWords() {
  const char* configured = std::getenv("ZEMLINK_CONSOLE_TERMINAL");
  std::istringstream words(configured != nullptr && configured[0] != '\0' ? configured : kDefaultTerminal);
  std::vector<std::string> result;
  for (std::string word; words >> word;) result.push_back(word);
  return result;
}

// The program's path: as given when it holds a slash, else the first
// executable of that name on $PATH; empty when there is none.
std::string findProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool hasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && display[0] != '\0';
}

// Starts the emulator detached from this process (its own session, reaped by
// init): it must neither share the process's signals nor linger as a child.
// Everything the children use is prepared before the fork.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments, int keepFd, int& error) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    error = errno;
    return false;
  }
  if (child == 0) {
    if (fork() != 0) _exit(0);
    setsid();
    // The emulator gets the master side as descriptor 3, the null device as
    // its standard streams, and nothing else of this process's descriptors.
    if (keepFd != kMasterFd && dup2(keepFd, kMasterFd) < 0) _exit(127);
    fcntl(kMasterFd, F_SETFD, 0);
    const int null = open("/dev/null", O_RDWR);
    if (null < 0) _exit(127);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close_range(kMasterFd + 1, ~0u, 0);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

// Reads the emulator's first line, its window's identifier in hex; 0 when it
// did not come in time or the emulator ended first.
unsigned long readWindowId(int slave, int& error) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWindowWaitMs);
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      error = ETIMEDOUT;
      return 0;
    }
    pollfd ready{slave, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) continue;
    char chunk[64];
    const ssize_t length = read(slave, chunk, sizeof chunk);
    if (length < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (length <= 0) {
      error = length < 0 ? errno : EIO;
      return 0;
    }
    line.append(chunk, static_cast<size_t>(length));
  }
  const unsigned long id = std::strtoul(line.c_str(), nullptr, 16);
  if (id == 0) error = EPROTO;
  return id;
}

// The terminal's colour sequence for a text attribute (1 blue, 2 green,
// 4 red, 8 bright, foreground low, background high): the terminal numbers the
// same colours 1 red, 2 green, 4 blue.
std::string colourSequence(uint16_t colour) {
  const auto terminalColour = [](unsigned bits) { return ((bits & 1u) << 2) | (bits & 2u) | ((bits & 4u) >> 2); };
  const unsigned foreground = colour & 0xFu;
  const unsigned background = (colour >> 4) & 0xFu;
  const unsigned foregroundCode = ((foreground & 8u) != 0 ? 90 : 30) + terminalColour(foreground);
  const unsigned backgroundCode = ((background & 8u) != 0 ? 100 : 40) + terminalColour(background);
  return "\033[0;" + std::to_string(foregroundCode) + ";" + std::to_string(backgroundCode) + "m";
}

bool sameDevice(int a, int b) {
  struct stat first {};
  struct stat second {};
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_rdev == second.st_rdev &&
         first.st_ino == second.st_ino && first.st_dev == second.st_dev;
}

}  // namespace

ConsoleTerminal::ConsoleTerminal() = default;

ConsoleTerminal::~ConsoleTerminal() { release(); }

bool ConsoleTerminal::fail(int error) {
  lastError_ = error;
  return false;
}

bool ConsoleTerminal::release() {
  if (slave_ < 0) return true;
  // Standard output stays away from the console, as after the console's
  // release anywhere: what is written from now on goes nowhere.
  if (sameDevice(STDOUT_FILENO, slave_)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  const int slave = slave_;
  slave_ = -1;
  window_ = 0;
  if (close(slave) != 0) return fail(errno);
  return true;
}

bool ConsoleTerminal::allocate(uint16_t lines) {
  if (slave_ >= 0) return true;
  std::vector<std::string> command = terminalWords();
  const std::string program = command.empty() ? std::string() : findProgram(command.front());
  if (!hasDisplay() || program.empty()) return true;  // no window to show: standard output stays the console

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return fail(errno);
  char slaveName[64];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, slaveName, sizeof slaveName) != 0) {
    const int error = errno;
    close(master);
    return fail(error);
  }
  const int slave = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    const int error = errno;
    close(master);
    return fail(error);
  }
  // Output as a terminal shows it (line ends become CR LF); input is neither
  // echoed nor gathered into lines, and Ctrl-S cannot stop the output.
  termios settings{};
  if (tcgetattr(slave, &settings) == 0) {
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
    settings.c_oflag |= OPOST | ONLCR;
    tcsetattr(slave, TCSANOW, &settings);
  }

  const char* relative = std::strncmp(slaveName, "/dev/pts/", 9) == 0 ? slaveName + 9 : slaveName;
  command.front() = program;
  command.push_back("-S" + std::string(relative) + "/" + std::to_string(kMasterFd));
  command.insert(command.end(), {"-T", "Debug Console", "-sl", std::to_string(lines)});
  int error = 0;
  const bool started = startDetached(program, command, master, error);
  close(master);  // the emulator holds it now
  unsigned long window = started ? readWindowId(slave, error) : 0;
  if (window == 0) {
    close(slave);
    return fail(error);
  }
  // A full terminal drops output rather than hold up the writer.
  fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
  slave_ = slave;
  window_ = window;
  return true;
}

bool ConsoleTerminal::writeSequence(ConsoleHandle handle, const char* text) {
  const int fd = static_cast<int>(handle);
  if (!isatty(fd)) return fcntl(fd, F_GETFL) >= 0 ? true : fail(errno);  // a file or pipe gets no control sequences
  std::fflush(stdout);  // what the process wrote before comes first
  size_t length = std::strlen(text);
  while (length > 0) {
    const ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return fail(written < 0 ? errno : EIO);
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool ConsoleTerminal::setTitle(const char* title) {
  if (slave_ < 0) return true;
  return writeSequence(slave_, ("\033]0;" + std::string(title) + "\007").c_str());
}

bool ConsoleTerminal::standardOutput(ConsoleHandle& handle) {
  if (fcntl(STDOUT_FILENO, F_GETFL) < 0) return fail(errno);
  handle = STDOUT_FILENO;
  return true;
}

bool ConsoleTerminal::setBufferSize(ConsoleHandle handle, uint16_t, uint16_t) {
  if (fcntl(static_cast<int>(handle), F_GETFL) < 0) return fail(errno);
  return true;
}

bool ConsoleTerminal::openOutput(ConsoleHandle& handle) {
  const int fd = fcntl(slave_ >= 0 ? slave_ : STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return fail(errno);
  handle = fd;
  return true;
}

bool ConsoleTerminal::makeStandardOutput(ConsoleHandle handle) {
  if (slave_ < 0) return true;  // standard output is the console already
  std::fflush(stdout);
  if (dup2(static_cast<int>(handle), STDOUT_FILENO) < 0) return fail(errno);
  return true;
}

bool ConsoleTerminal::reopenStandardStream() {
  if (slave_ < 0) return true;
  std::fflush(stdout);
  std::clearerr(stdout);
  // A terminal shows each line as it is written.
  if (std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ) != 0) return fail(errno);
  return true;
}

bool ConsoleTerminal::closeHandle(ConsoleHandle handle) {
  if (close(static_cast<int>(handle)) != 0) return fail(errno);
  return true;
}

// Closing a terminal window only hangs up a terminal that is not this
// process's controlling terminal: no signal reaches the process, and later
// writes fail quietly. There is no close command to remove.
bool ConsoleTerminal::findWindow(const char*) { return slave_ < 0 || window_ != 0 ? true : fail(ENOENT); }

bool ConsoleTerminal::systemMenu() { return true; }

bool ConsoleTerminal::removeCloseCommand() { return true; }

bool ConsoleTerminal::redrawMenu() { return true; }

bool ConsoleTerminal::ignoreInterruptKey() {
  if (slave_ < 0) return true;  // the process's own terminal keeps its keys
  termios settings{};
  if (tcgetattr(slave_, &settings) != 0) return fail(errno);
  settings.c_lflag &= ~static_cast<tcflag_t>(ISIG);
  if (tcsetattr(slave_, TCSANOW, &settings) != 0) return fail(errno);
  return true;
}

bool ConsoleTerminal::screenSize(ConsoleHandle handle, uint16_t& width, uint16_t& height) {
  const int fd = static_cast<int>(handle);
  width = 0;
  height = 0;
  if (!isatty(fd)) return fcntl(fd, F_GETFL) >= 0 ? true : fail(errno);
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return fail(errno);
  width = size.ws_col;
  height = size.ws_row;
  return true;
}

bool ConsoleTerminal::fillBlanks(ConsoleHandle handle, uint16_t, uint16_t) {
  return writeSequence(handle, "\033[2J\033[3J");  // the screen and the scroll-back
}

bool ConsoleTerminal::fillAttributes(ConsoleHandle handle, uint16_t colour, uint16_t, uint16_t) {
  // Cleared cells take the current background.
  return writeSequence(handle, (colourSequence(colour) + "\033[2J").c_str());
}

bool ConsoleTerminal::homeCursor(ConsoleHandle handle) { return writeSequence(handle, "\033[H"); }

bool ConsoleTerminal::setColour(ConsoleHandle handle, uint16_t colour) {
  return writeSequence(handle, colourSequence(colour).c_str());
}
