#include "request_workers.h"

#include "connection_keeper.h"
#include "item_text.h"
#include "library_link.h"
#include "zemlink.h"

namespace sqlprovider {

void RequestWorkers::configure(std::shared_ptr<const Config> config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = std::move(config);
  wanted_ = static_cast<size_t>(config_->database.connections);
  if (threads_.size() < wanted_) {
    threads_.resize(wanted_);
    running_.resize(wanted_, false);
  }
  for (size_t index = 0; index < wanted_; ++index) {
    if (running_[index]) continue;
    if (threads_[index].joinable()) threads_[index].join();  // retired by an earlier, smaller pool
    running_[index] = true;
    threads_[index] = std::thread([this, index] { work(index); });
  }
  wake_.notify_all();
}

void RequestWorkers::submit(MessageFields request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(request));
  }
  wake_.notify_one();
}

bool RequestWorkers::waitIdle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, limit, [&] { return queue_.empty() && busy_ == 0; });
}

void RequestWorkers::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void RequestWorkers::work(size_t index) {
  ConnectionKeeper keeper("database connection " + std::to_string(index + 1));
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (index >= wanted_ || (stopping_ && queue_.empty())) break;
    const std::shared_ptr<const Config> config = config_;
    if (queue_.empty()) {
      if (!stopping_ && keeper.wantsAttempt(config)) {
        // Idle: open the connection for new settings, or again once a lost
        // one is due, so that the next request finds it ready.
        lock.unlock();
        keeper.get(config);
        lock.lock();
      } else if (keeper.nextAttempt() > Clock::now()) {
        wake_.wait_until(lock, keeper.nextAttempt());
      } else {
        wake_.wait(lock);
      }
      continue;
    }
    MessageFields request = std::move(queue_.front());
    queue_.pop_front();
    ++busy_;
    lock.unlock();
    answer(request, config, keeper);
    lock.lock();
    --busy_;
    if (queue_.empty() && busy_ == 0) idle_.notify_all();
  }
  running_[index] = false;
}

void RequestWorkers::answer(const MessageFields& request, const std::shared_ptr<const Config>& config,
                            ConnectionKeeper& keeper) {
  ++counters_.requests;
  const std::string chooser = config->queryItem > 0 ? request.items[static_cast<size_t>(config->queryItem - 1)] : "";
  const Query* query = config->queryFor(chooser);
  Answer items;
  if (query == nullptr) {
    ++counters_.notFound;
    items = config->notFound;
    noQuery_.say("request ref=" + std::to_string(request.ref) + ": no query is named \"" + chooser + "\" by item " +
                 std::to_string(config->queryItem) + ", and there is no default [query]");
  } else if (Connection* connection = keeper.get(config); connection == nullptr) {
    ++counters_.failed;
    items = query->failed;
  } else {
    const auto start = Clock::now();
    QueryResult result = connection->run(config->statementOf(*query), request);
    counters_.queryTook(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    const std::string name = query->name.empty() ? "the default query" : "the query " + query->name;
    switch (result.outcome) {
      case QueryResult::row:
        ++counters_.answeredFromRow;
        for (size_t column = 0; column < result.columns.size(); ++column) {
          std::string item = cutToUnits(result.columns[column], ZEM_MAX_ITEM_LENGTH);
          if (item.size() < result.columns[column].size()) {
            ++counters_.itemsCut;
            itemCut_.say("request ref=" + std::to_string(request.ref) + ": column " + std::to_string(column + 1) +
                         " of " + name + " holds " + std::to_string(utf16Length(result.columns[column])) +
                         " characters; the item takes the first " + std::to_string(utf16Length(item)));
          }
          items.push_back(std::move(item));
        }
        break;
      case QueryResult::noRow:
        ++counters_.notFound;
        items = query->notFound;
        break;
      case QueryResult::failed:
        ++counters_.failed;
        items = query->failed;
        queryFailed_.say("request ref=" + std::to_string(request.ref) + ": " + name + " (line " +
                         std::to_string(query->line) + ") failed: " + result.error.message);
        keeper.failed(result.error);
        break;
    }
  }
  const int sent = sendCompletion(request.ref, items);
  if (sent != ZEM_SUCCESS) {
    ++counters_.completionsRefused;
    refused_.say("request ref=" + std::to_string(request.ref) + ": the completion was not sent (result " +
                 std::to_string(sent) + ")");
  }
}

}  // namespace sqlprovider
