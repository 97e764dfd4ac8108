#include "testprovider/output_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <vector>

namespace rigbench {

OutputLog::~OutputLog() {
  if (state_ == State::Open) ::close(fd_);
}

bool OutputLog::openOnce() {
  if (state_ != State::NotOpened) return false;
  const QByteArray path = QDir::current().filePath(QString::fromLatin1(kFileName)).toLocal8Bit();
  // Shared with other programs: no lock is taken. Non-blocking, so that a
  // pipe of this name cannot hold the window up.
  fd_ = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd_ < 0) {
    failure_ = QString::fromLocal8Bit(std::strerror(errno));
    state_ = State::Failed;
    return true;
  }
  state_ = State::Open;
  return false;
}

void OutputLog::writeHeader(int32_t callId, int32_t heldCallId, int32_t networkCallId, int32_t nodeId) {
  write(QStringLiteral("\n==============================\nCall id = %1\nHeld Call id = %2\nNetwork Call id = %3"
                       "\nNode id = %4")
            .arg(callId)
            .arg(heldCallId)
            .arg(networkCallId)
            .arg(nodeId));
}

void OutputLog::writeParameter(int k, const QString& text) {
  write(QStringLiteral("\nParameter %1 = ").arg(k) + text);
}

void OutputLog::write(const QString& text) {
  if (state_ != State::Open || text.isEmpty()) return;
  std::vector<char16_t> units(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) units[i] = qToLittleEndian(text[i].unicode());
  const char* bytes = reinterpret_cast<const char*>(units.data());
  size_t left = units.size() * sizeof(char16_t);
  // A failed write (a full disk) loses that part of the record; the window
  // goes on.
  while (left > 0) {
    const ssize_t written = ::write(fd_, bytes, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace rigbench
