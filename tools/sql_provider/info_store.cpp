#include "info_store.h"

#include <algorithm>
#include <optional>

#include "output.h"

namespace sqlprovider {
namespace {

std::string describeMessage(const MessageFields& message) {
  std::string text = "ref=" + std::to_string(message.ref) + " call=" + std::to_string(message.call) +
                     " received=" + message.received + " items=[";
  size_t last = message.items.size();
  while (last > 0 && message.items[last - 1].empty()) --last;
  for (size_t i = 0; i < last; ++i) text += (i == 0 ? "" : "|") + message.items[i];
  return text + "]";
}

}  // namespace

void InfoStore::configure(std::shared_ptr<const Config> config) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    config_ = std::move(config);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  wake_.notify_all();
}

void InfoStore::add(MessageFields message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!config_ || !config_->informational) return;  // nothing records them
    if (stopping_) {
      notStored(message, "it came while the program was ending");
      return;
    }
    if (queue_.size() >= static_cast<size_t>(config_->informational->keep)) {
      notStored(message, std::to_string(queue_.size()) + " messages wait for the database already");
      return;
    }
    queue_.push_back({std::move(message), Clock::now()});
  }
  wake_.notify_one();
}

void InfoStore::stop(std::chrono::milliseconds limit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    deadline_ = Clock::now() + limit;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void InfoStore::finish(const std::vector<Pending>& batch, const Stored& stored) {
  counters_.informationalStored += static_cast<long>(batch.size() - stored.refused.size());
  for (const auto& [index, why] : stored.refused) notStored(batch[index].fields, why);
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(batch.size()));
}

void InfoStore::commit(Connection& connection, Stored& stored) {
  const std::string transaction = connection.transactionId();
  if (connection.execute("COMMIT", stored.error)) {
    stored.committed = true;
    return;
  }
  DatabaseError ignored;
  connection.execute("ROLLBACK", ignored);
  if (stored.error.kind == Failure::connectionLost) stored.transaction = transaction;
}

void InfoStore::notStored(const MessageFields& message, const std::string& why) {
  ++counters_.informationalNotStored;
  say("informational message not stored: " + describeMessage(message) + ": " + why);
}

void InfoStore::run() {
  ConnectionKeeper keeper("informational connection");
  std::chrono::milliseconds pause(0);  // after a batch that failed for now
  Clock::time_point retryAt{};
  struct Doubtful {
    std::vector<Pending> batch;
    Stored stored;
  };
  std::optional<Doubtful> doubtful;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    const std::shared_ptr<const Config> config = config_;
    const auto now = Clock::now();
    if (stopping_ && (queue_.empty() || now >= deadline_)) break;
    if (!config->informational) {
      for (const Pending& pending : queue_) notStored(pending.fields, "the settings no longer record them");
      queue_.clear();
      wake_.wait(lock);
      continue;
    }
    const InformationalSettings& settings = *config->informational;
    if (queue_.empty()) {
      if (!stopping_ && keeper.wantsAttempt(config)) {
        // Idle: the connection is opened before the first message needs it.
        lock.unlock();
        keeper.get(config);
        lock.lock();
      } else if (keeper.nextAttempt() > now) {
        wake_.wait_until(lock, keeper.nextAttempt());
      } else {
        wake_.wait(lock);
      }
      continue;
    }
    // A batch is due when it is full, when its oldest message has waited
    // long enough, or when the program ends.
    const auto oldestDue = queue_.front().taken + std::chrono::milliseconds(settings.waitMs);
    const bool due = stopping_ || queue_.size() >= static_cast<size_t>(settings.batch) || now >= oldestDue;
    const auto until = stopping_ ? deadline_ : oldestDue;
    if (!due) {
      wake_.wait_until(lock, until);
      continue;
    }
    if (now < retryAt) {
      wake_.wait_until(lock, std::min(retryAt, stopping_ ? deadline_ : retryAt));
      continue;
    }
    lock.unlock();
    Connection* connection = keeper.get(config);
    lock.lock();
    if (connection == nullptr) {
      wake_.wait_until(lock, stopping_ ? std::min(deadline_, keeper.nextAttempt()) : keeper.nextAttempt());
      continue;
    }
    const auto waitBefore = [&](const std::string& what) {
      pause = std::min<std::chrono::milliseconds>(std::max<std::chrono::milliseconds>(pause * 2, std::chrono::milliseconds(250)),
                                                  std::chrono::seconds(config->database.retryMaxSeconds));
      say("informational messages: " + what + " waits " + std::to_string(pause.count()) + " ms");
      retryAt = Clock::now() + pause;
    };
    if (doubtful) {
      // The last commit went unanswered: how it ended decides whether its
      // batch (still at the front of the queue) is stored again.
      lock.unlock();
      const std::optional<bool> outcome = connection->committed(doubtful->stored.transaction);
      lock.lock();
      if (!outcome) {
        if (connection->usable()) waitBefore("a batch whose commit went unanswered, until the database knows,");
        continue;
      }
      say("informational messages: the batch of " + std::to_string(doubtful->batch.size()) +
          " whose commit went unanswered was " + (*outcome ? "committed" : "not committed; it is stored again"));
      if (*outcome) finish(doubtful->batch, doubtful->stored);
      doubtful.reset();
      continue;
    }
    // Only this thread takes from the front; the event thread adds at the back.
    const size_t count = std::min(queue_.size(), static_cast<size_t>(settings.batch));
    std::vector<Pending> batch(queue_.begin(), queue_.begin() + static_cast<long>(count));
    lock.unlock();
    const Stored stored = storeBatch(*connection, config->informationalStatement(), batch);
    lock.lock();
    if (stored.committed) {
      finish(batch, stored);
      pause = std::chrono::milliseconds(0);
    } else {
      keeper.failed(stored.error);
      if (!stored.transaction.empty()) {
        doubtful = Doubtful{std::move(batch), stored};
      } else if (stored.error.kind != Failure::connectionLost) {
        waitBefore("a batch of " + std::to_string(batch.size()) + " (" + stored.error.message + ")");
      }
    }
  }
  for (const Pending& pending : queue_) notStored(pending.fields, "the program ends before the database took it");
  queue_.clear();
}

InfoStore::Stored InfoStore::storeBatch(Connection& connection, int statement, const std::vector<Pending>& batch) {
  Stored stored;
  if (!connection.execute("BEGIN", stored.error)) return stored;
  for (const Pending& pending : batch) {
    QueryResult result = connection.run(statement, pending.fields);
    if (result.outcome != QueryResult::failed) continue;
    DatabaseError ignored;
    connection.execute("ROLLBACK", ignored);
    if (result.error.kind != Failure::thisMessage) {
      stored.error = result.error;
      return stored;
    }
    // One message is refused: again, one by one, leaving out those refused.
    return storeOneByOne(connection, statement, batch);
  }
  commit(connection, stored);
  return stored;
}

InfoStore::Stored InfoStore::storeOneByOne(Connection& connection, int statement, const std::vector<Pending>& batch) {
  Stored stored;
  if (!connection.execute("BEGIN", stored.error)) return stored;
  DatabaseError ignored;
  for (size_t index = 0; index < batch.size(); ++index) {
    if (!connection.execute("SAVEPOINT message", stored.error)) {
      connection.execute("ROLLBACK", ignored);
      return stored;
    }
    QueryResult result = connection.run(statement, batch[index].fields);
    if (result.outcome == QueryResult::failed) {
      if (result.error.kind != Failure::thisMessage) {
        connection.execute("ROLLBACK", ignored);
        stored.error = result.error;
        stored.refused.clear();
        return stored;
      }
      connection.execute("ROLLBACK TO SAVEPOINT message", ignored);
      stored.refused.emplace_back(index, "the statement refuses it: " + result.error.message);
    }
    if (!connection.execute("RELEASE SAVEPOINT message", stored.error)) {
      connection.execute("ROLLBACK", ignored);
      stored.refused.clear();
      return stored;
    }
  }
  commit(connection, stored);
  return stored;
}

}  // namespace sqlprovider
