#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace zem::test {
namespace {

std::vector<char*> toArgv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const std::string& arg : argv) out.push_back(const_cast<char*>(arg.c_str()));
  out.push_back(nullptr);
  return out;
}

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// In the child: it is killed when the test process ends, however that
// happens, so that no program of a test outlives it.
void endWithParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
}

}  // namespace

struct ChildProcess::Native {
  int inFd = -1;
  int outFd = -1;
};

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    endWithParent(parent);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> args = toArgv(argv);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  [[maybe_unused]] ssize_t ignored = write(in[1], input.data(), input.size());
  close(in[1]);

  ProcessResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = exitCodeOf(status);
  return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) : native_(std::make_unique<Native>()) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    endWithParent(parent);
    dup2(in[0], 0);
    dup2(out[1], 1);
    std::vector<char*> args = toArgv(argv);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  native_->inFd = in[1];
  native_->outFd = out[0];
  signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  if (!exited_ && pid_ > 0) {
    kill();
    wait();
  }
  if (native_->inFd >= 0) close(native_->inFd);
  if (native_->outFd >= 0) close(native_->outFd);
}

bool ChildProcess::outputEnded() const { return outputEnded_ && pending_.find('\n') == std::string::npos; }

int ChildProcess::outputFd() const { return native_->outFd; }

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    if (outputEnded_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd = {native_->outFd, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(native_->outFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      outputEnded_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::writeLine(const std::string& line) {
  const std::string text = line + "\n";
  return write(native_->inFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::closeInput() {
  if (native_->inFd >= 0) close(native_->inFd);
  native_->inFd = -1;
}

int ChildProcess::wait() {
  if (!exited_ && pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    exitCode_ = exitCodeOf(status);
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    exited_ = true;
  }
  return exitCode_;
}

bool ChildProcess::waitFor(int timeoutMs) {
  if (exited_ || pid_ <= 0) return true;
  // A process descriptor becomes readable when the process ends.
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd < 0) return false;
  pollfd ended = {pidFd, POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&ended, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  close(pidFd);
  if (ready <= 0) return false;
  wait();
  return true;
}

void ChildProcess::kill() {
  if (!exited_ && pid_ > 0) ::kill(pid_, SIGKILL);
}

}  // namespace zem::test
