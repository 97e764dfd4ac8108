// Informational messages recorded by the configured statement, in batches,
// each batch inside one transaction, on a connection of its own. A message
// stays queued until its batch was committed: while the database cannot be
// reached the queue waits (up to `keep` messages), and what was queued is
// stored once the database is back. A message whose values the statement
// refuses (a constraint, say) is left out of its batch, counted as not
// stored and written to the output; so is whatever is still queued when
// the program ends and the database does not take it in time.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config.h"
#include "connection_keeper.h"
#include "counters.h"
#include "database.h"

namespace sqlprovider {

class InfoStore {
 public:
  explicit InfoStore(Counters& counters) : counters_(counters) {}
  ~InfoStore() { stop(std::chrono::milliseconds(0)); }

  void configure(std::shared_ptr<const Config> config);
  void add(MessageFields message);
  // Stores what is queued, for at most `limit`, then ends the thread.
  void stop(std::chrono::milliseconds limit);

 private:
  struct Pending {
    MessageFields fields;
    Clock::time_point taken;
  };
  // The outcome of one batch.
  struct Stored {
    bool committed = false;
    std::vector<std::pair<size_t, std::string>> refused;  // index in the batch, why
    DatabaseError error;                                   // when not committed
    std::string transaction;  // when the commit went unanswered, its transaction, if it can be asked about
  };

  void run();
  Stored storeBatch(Connection& connection, int statement, const std::vector<Pending>& batch);
  Stored storeOneByOne(Connection& connection, int statement, const std::vector<Pending>& batch);
  static void commit(Connection& connection, Stored& stored);
  // Counts a committed batch, shows what it left out, and takes it off the queue.
  void finish(const std::vector<Pending>& batch, const Stored& stored);
  void notStored(const MessageFields& message, const std::string& why);

  Counters& counters_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  std::shared_ptr<const Config> config_;
  bool stopping_ = false;
  Clock::time_point deadline_{};
  std::thread thread_;
};

}  // namespace sqlprovider
