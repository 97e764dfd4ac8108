#include "rpc/cancellation.h"

#include "rpc/tcp_socket.h"

namespace rpc {

void Cancellation::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (active_ != nullptr) active_->abort();
}

void Cancellation::reset() {
  std::lock_guard lock(mutex_);
  cancelled_ = false;
}

bool Cancellation::cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Cancellation::attach(TcpSocket* socket) {
  std::lock_guard lock(mutex_);
  if (cancelled_) return false;
  active_ = socket;
  return true;
}

void Cancellation::detach() {
  std::lock_guard lock(mutex_);
  active_ = nullptr;
}

}  // namespace rpc
