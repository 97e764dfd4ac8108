// Windows programs are started with CreateProcess and pipes. A Linux program
// of the build (an absolute path with forward slashes, such as exchange-sim)
// cannot be waited for or killed from a Wine process, so it is started by
// the relay that runs the test program (tests/support/unix_program_relay.py,
// its port in ZEMLINK_UNIX_RELAY), over one loopback connection per program.
#include "support/process.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace zem::test {
namespace {

constexpr int kKilledBySignal = 9;  // what a kill looks like after wait(), as on Linux

// One argument as the C runtime's command-line parser reads it back.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

bool isLinuxProgram(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool sendAll(SOCKET socket, const char* data, size_t size) {
  while (size > 0) {
    const int sent = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool receiveAll(SOCKET socket, char* data, size_t size) {
  while (size > 0) {
    const int got = recv(socket, data, static_cast<int>(size), 0);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

// One started program, of either kind: the output gathered by reader
// threads, and the end once it is known.
struct Child {
  bool captureErrors = false;
  // A Windows program.
  HANDLE process = nullptr;
  HANDLE input = nullptr;
  bool killed = false;
  // A Linux program through the relay.
  SOCKET relay = INVALID_SOCKET;
  std::mutex sendLock;

  std::mutex mutex;
  std::condition_variable changed;
  std::string out;
  std::string err;
  bool outEnded = false;
  bool endKnown = false;  // the relay reported the end
  int exitCode = -1;
  int signal = 0;
  std::vector<std::thread> readers;

  ~Child() {
    if (relay != INVALID_SOCKET) shutdown(relay, SD_BOTH);
    for (std::thread& reader : readers) reader.join();
    if (relay != INVALID_SOCKET) closesocket(relay);
    if (input) CloseHandle(input);
    if (process) CloseHandle(process);
  }

  void append(bool toErr, const char* data, size_t size) {
    if (toErr && !captureErrors) {
      fwrite(data, 1, size, stderr);
      return;
    }
    std::lock_guard lock(mutex);
    (toErr ? err : out).append(data, size);
    changed.notify_all();
  }

  void frame(char kind, const std::string& payload) {
    const uint32_t length = static_cast<uint32_t>(payload.size());
    char header[5] = {kind, static_cast<char>(length), static_cast<char>(length >> 8),
                      static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
    std::lock_guard lock(sendLock);
    if (sendAll(relay, header, sizeof header)) sendAll(relay, payload.data(), payload.size());
  }

  bool startLocal(const std::vector<std::string>& argv) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return false;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
    if (captureErrors && !CreatePipe(&errRead, &errWrite, &inherit, 0)) return false;
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    if (errRead) SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine;
    for (const std::string& arg : argv) commandLine += (commandLine.empty() ? "" : " ") + quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite ? errWrite : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (errWrite) CloseHandle(errWrite);
    input = inWrite;
    if (!started) {
      CloseHandle(outRead);
      if (errRead) CloseHandle(errRead);
      return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    readers.emplace_back([this, outRead] { pumpPipe(outRead, false); });
    if (errRead) readers.emplace_back([this, errRead] { pumpPipe(errRead, true); });
    return true;
  }

  void pumpPipe(HANDLE pipe, bool toErr) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) append(toErr, buffer, got);
    CloseHandle(pipe);
    if (!toErr) {
      std::lock_guard lock(mutex);
      outEnded = true;
      changed.notify_all();
    }
  }

  bool startRelayed(const std::vector<std::string>& argv) {
    const char* port = std::getenv("ZEMLINK_UNIX_RELAY");
    if (!port) {
      std::fprintf(stderr, "%s is a Linux program: run this test through unix_program_relay.py\n",
                   argv[0].c_str());
      return false;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    relay = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (relay == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(relay, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    const BOOL noDelay = TRUE;
    setsockopt(relay, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    std::string arguments;
    for (const std::string& arg : argv) arguments += arg + '\0';
    frame('R', arguments);
    readers.emplace_back([this] { pumpRelay(); });
    return true;
  }

  void pumpRelay() {
    char header[5];
    std::string payload;
    while (receiveAll(relay, header, sizeof header)) {
      const uint32_t length = static_cast<uint8_t>(header[1]) | static_cast<uint8_t>(header[2]) << 8 |
                              static_cast<uint8_t>(header[3]) << 16 |
                              static_cast<uint32_t>(static_cast<uint8_t>(header[4])) << 24;
      payload.resize(length);
      if (!receiveAll(relay, payload.data(), length)) break;
      if (header[0] == 'O' || header[0] == 'E') {
        append(header[0] == 'E', payload.data(), payload.size());
      } else if (header[0] == 'X') {
        std::lock_guard lock(mutex);
        std::sscanf(payload.c_str(), "%d %d", &exitCode, &signal);
        endKnown = true;
      }
    }
    std::lock_guard lock(mutex);
    outEnded = true;
    endKnown = true;  // a relay that went away cannot report a program any more
    changed.notify_all();
  }

  bool write(const std::string& text) {
    if (relay != INVALID_SOCKET) {
      frame('I', text);
      return true;
    }
    DWORD written = 0;
    return input && WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }

  void closeInput() {
    if (relay != INVALID_SOCKET) {
      frame('C', {});
    } else if (input) {
      CloseHandle(input);
      input = nullptr;
    }
  }

  void kill() {
    if (relay != INVALID_SOCKET) {
      frame('K', {});
    } else if (process) {
      killed = TerminateProcess(process, 1) != 0;
    }
  }

  // Waits for the end; true once known, with exitCode and signal set.
  bool waitFor(DWORD timeoutMs) {
    if (process) {
      if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
      DWORD code = 0;
      GetExitCodeProcess(process, &code);
      std::lock_guard lock(mutex);
      exitCode = killed ? -1 : static_cast<int>(code);
      signal = killed ? kKilledBySignal : 0;
      return true;
    }
    std::unique_lock lock(mutex);
    const auto known = [this] { return endKnown; };
    if (timeoutMs == INFINITE) {
      changed.wait(lock, known);
      return true;
    }
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), known);
  }
};

}  // namespace

struct ChildProcess::Native : Child {};

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input) {
  Child native;
  native.captureErrors = true;
  const bool started = isLinuxProgram(argv[0]) ? native.startRelayed(argv) : native.startLocal(argv);
  ProcessResult result;
  if (!started) return result;
  native.write(input);
  native.closeInput();
  native.waitFor(INFINITE);
  {
    // The output is complete once its pipes or the connection ended.
    std::unique_lock lock(native.mutex);
    native.changed.wait(lock, [&] { return native.outEnded; });
  }
  for (std::thread& reader : native.readers) reader.join();
  native.readers.clear();
  result.exitCode = native.exitCode;
  result.out = std::move(native.out);
  result.err = std::move(native.err);
  return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) : native_(std::make_unique<Native>()) {
  const bool started = isLinuxProgram(argv[0]) ? native_->startRelayed(argv) : native_->startLocal(argv);
  if (!started) {
    exited_ = true;
    std::lock_guard lock(native_->mutex);
    native_->outEnded = true;
  }
}

ChildProcess::~ChildProcess() {
  if (!exited_) {
    kill();
    wait();
  }
}

bool ChildProcess::outputEnded() const {
  std::lock_guard lock(native_->mutex);
  return native_->outEnded && native_->out.find('\n') == std::string::npos;
}

int ChildProcess::outputFd() const { return -1; }

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
  std::unique_lock lock(native_->mutex);
  const bool ready = native_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return native_->out.find('\n') != std::string::npos || native_->outEnded;
  });
  const size_t newline = native_->out.find('\n');
  if (!ready || newline == std::string::npos) return false;
  line = native_->out.substr(0, newline);
  native_->out.erase(0, newline + 1);
  return true;
}

bool ChildProcess::writeLine(const std::string& line) { return native_->write(line + "\n"); }

void ChildProcess::closeInput() { native_->closeInput(); }

int ChildProcess::wait() {
  waitFor(static_cast<int>(INFINITE));
  return exitCode_;
}

bool ChildProcess::waitFor(int timeoutMs) {
  if (exited_) return true;
  if (!native_->waitFor(static_cast<DWORD>(timeoutMs))) return false;
  exited_ = true;
  exitCode_ = native_->exitCode;
  signal_ = native_->signal;
  return true;
}

void ChildProcess::kill() {
  if (!exited_) native_->kill();
}

}  // namespace zem::test
