#include "provider/provider_thread.h"

#include <chrono>
#include <string>

#include "platform/thread_name.h"

ProviderThread::ProviderThread(const char* name, Body body)
    : thread_([this, threadName = std::string(name), body = std::move(body)] { run(threadName.c_str(), body); }) {}

ProviderThread::~ProviderThread() {
  requestStop();
  join();
}

void ProviderThread::run(const char* name, const Body& body) {
  id_.store(std::this_thread::get_id(), std::memory_order_release);
  zem::nameCurrentThread(name);
  body(*this);
  finished_.store(true, std::memory_order_release);
}

void ProviderThread::requestStop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_.exchange(true, std::memory_order_acq_rel)) return;
  }
  wake_.notify_all();
  cancellation_.cancel();
}

bool ProviderThread::sleepFor(int64_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested(); });
}

bool ProviderThread::runUnlessStopped(const std::function<void()>& action) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopRequested()) return false;
  action();
  return true;
}

void ProviderThread::join() {
  if (!thread_.joinable()) return;
  // The provider never destroys a thread object on that thread itself; if it
  // did, detaching beats std::terminate.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  thread_.join();
}
