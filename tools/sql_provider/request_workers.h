// The threads that answer requests, each with a database connection of its
// own, so that a slow query holds up only its own thread. A request is
// answered from the first row of its query, with the not-found answer when
// there is no row, and with the failure answer when the database fails or
// cannot be reached; every request taken gets one of the three.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config.h"
#include "counters.h"
#include "database.h"
#include "output.h"

namespace sqlprovider {

class RequestWorkers {
 public:
  explicit RequestWorkers(Counters& counters) : counters_(counters) {}
  ~RequestWorkers() { stop(); }

  // The settings to work with from now on: as many threads as it names
  // connections; those at work finish their request first.
  void configure(std::shared_ptr<const Config> config);
  void submit(MessageFields request);
  // Waits until nothing is queued or being answered, at most `limit`.
  bool waitIdle(std::chrono::milliseconds limit);
  // Answers what is queued, then ends the threads.
  void stop();

 private:
  void work(size_t index);
  void answer(const MessageFields& request, const std::shared_ptr<const Config>& config,
              class ConnectionKeeper& keeper);

  Counters& counters_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<MessageFields> queue_;
  int busy_ = 0;
  std::shared_ptr<const Config> config_;
  size_t wanted_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
  std::vector<bool> running_;
  ThrottledLine noQuery_, queryFailed_, itemCut_, refused_;
};

}  // namespace sqlprovider
