#include "connection_keeper.h"

#include <algorithm>

#include "output.h"

namespace sqlprovider {

bool ConnectionKeeper::wantsAttempt(const std::shared_ptr<const Config>& config) const {
  if (config != config_) return true;
  return !connection_ && Clock::now() >= nextAttempt_;
}

Connection* ConnectionKeeper::get(const std::shared_ptr<const Config>& config) {
  if (config != config_) {
    // New settings: a new connection with the new statements, at once.
    connection_.reset();
    config_ = config;
    attempts_ = 0;
    pause_ = std::chrono::seconds(1);
    nextAttempt_ = Clock::now();
  }
  if (connection_ && !connection_->usable()) drop("the connection is gone");
  if (connection_) return connection_.get();
  if (Clock::now() < nextAttempt_) return nullptr;

  std::vector<ConfigProblem> problems;
  connection_ = openPrepared(*config_, problems);
  if (connection_) {
    if (attempts_ > 0) say(label_ + " is back after " + std::to_string(attempts_ + 1) + " attempts");
    attempts_ = 0;
    pause_ = std::chrono::seconds(1);
    return connection_.get();
  }
  ++attempts_;
  const std::string why = problems.empty() ? "it cannot be opened" : describe(config_->path, problems.front());
  say(label_ + ": attempt " + std::to_string(attempts_) + " failed: " + why + "; next attempt in " +
      std::to_string(pause_.count()) + " s");
  nextAttempt_ = Clock::now() + pause_;
  pause_ = std::min<std::chrono::seconds>(pause_ * 2, std::chrono::seconds(config_->database.retryMaxSeconds));
  return nullptr;
}

void ConnectionKeeper::failed(const DatabaseError& error) {
  if (error.kind == Failure::connectionLost && connection_) drop(error.message);
}

void ConnectionKeeper::drop(const std::string& why) {
  connection_.reset();
  say(label_ + " lost: " + why);
  // The first attempt comes at once: a server that restarted is back.
  attempts_ = 0;
  pause_ = std::chrono::seconds(1);
  nextAttempt_ = Clock::now();
}

}  // namespace sqlprovider
