#include "testprovider/signal_watch.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace rigbench {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
  const unsigned char number = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
}

}  // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char number = 0;
    if (::read(signalPipe[0], &number, 1) == 1) emit stopRequested(number);
  });
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

SignalWatch::~SignalWatch() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  delete notifier_;
  for (int& fd : signalPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

}  // namespace rigbench
