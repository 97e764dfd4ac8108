// ProviderThread: one of the provider's own threads (the message pump or the
// keep-alive thread), stopped cooperatively.
//
// There is no forced termination. requestStop() marks the thread stopped,
// cancels the remote call it may be blocked in (closing that call's
// connection) and wakes its sleep; it returns at once, without waiting for
// the thread. From that moment the thread's runUnlessStopped() runs nothing,
// so the thread can publish no more results, whatever call was under way.
// The destructor requests the stop and joins.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "rpc/cancellation.h"

class ProviderThread {
 public:
  using Body = std::function<void(ProviderThread&)>;

  // Starts body on a new thread with the given name (at most 15
  // characters). Throws std::system_error when the thread cannot be made.
  ProviderThread(const char* name, Body body);
  ~ProviderThread();
  ProviderThread(const ProviderThread&) = delete;
  ProviderThread& operator=(const ProviderThread&) = delete;

  // Returns at once; safe from any thread, the thread itself included.
  void requestStop();
  bool stopRequested() const { return stopped_.load(std::memory_order_acquire); }

  // Sleeps for ms milliseconds; false when a stop came first.
  bool sleepFor(int64_t ms);
  // Runs action unless a stop has been requested; a stop requested while
  // action runs waits for it to end. True when action ran.
  bool runUnlessStopped(const std::function<void()>& action);

  // The token for the thread's remote calls; cancelled by requestStop().
  rpc::Cancellation& cancellation() { return cancellation_; }

  // Whether the calling thread is this one.
  bool isCurrent() const { return std::this_thread::get_id() == id_.load(std::memory_order_acquire); }
  // Whether the body has returned.
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  void join();

 private:
  void run(const char* name, const Body& body);

  std::mutex mutex_;  // orders a stop with runUnlessStopped and the sleep
  std::condition_variable wake_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::thread::id> id_{};
  rpc::Cancellation cancellation_;
  std::thread thread_;  // last: starts once everything above exists
};
