// sql-provider's side of libzemlink, through zemlink.h alone: reading a
// message out of its container, answering a request, and the thread that
// takes the library's events.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "config.h"
#include "database.h"

namespace sqlprovider {

// The header fields and items of a message the library handed out.
MessageFields readMessage(unsigned container);

// Sends a completion with these items under the request's server reference;
// the library's result (10 when the server took it).
int sendCompletion(int32_t ref, const Answer& items);

// Takes the library's events on a thread of its own, waiting for each:
// requests and informational messages go to their handlers, a lost
// connection (an error event) to onLost. The wait ends for good once the
// library is de-initialised (ZemlinkDeInit) after stop().
class EventTaker {
 public:
  struct Handlers {
    std::function<void(MessageFields)> request;
    std::function<void(MessageFields)> informational;
    std::function<void()> lost;
  };
  explicit EventTaker(Handlers handlers);
  ~EventTaker();

  void stop() { stopping_ = true; }
  void join();

 private:
  void run();

  Handlers handlers_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// "YYYY-MM-DD HH:MM:SS.mmmZ" of now.
std::string utcNow();

}  // namespace sqlprovider
