#include "platform/event.h"

#include <chrono>

namespace zem {

Event::Event(Reset reset, bool signalled)
    : manualReset_(reset == Reset::Manual), signalled_(signalled) {}

void Event::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  if (manualReset_) {
    cond_.notify_all();
  } else {
    cond_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool Event::wait(int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto isSignalled = [this] { return signalled_; };
  if (timeoutMs < 0) {
    cond_.wait(lock, isSignalled);
  } else if (!cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
    return false;
  }
  if (!manualReset_) signalled_ = false;
  return true;
}

bool Event::isSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

}  // namespace zem
