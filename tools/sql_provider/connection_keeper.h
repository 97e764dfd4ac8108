// One thread's database connection, kept open for the settings in force:
// opened (and its statements prepared) when first needed, opened again for
// new settings, and, once lost, tried again at once and then after a pause
// that doubles from 1 s up to the configured longest, each attempt shown.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "config.h"
#include "database.h"

namespace sqlprovider {

using Clock = std::chrono::steady_clock;

class ConnectionKeeper {
 public:
  explicit ConnectionKeeper(std::string label) : label_(std::move(label)) {}

  // The connection for these settings, or null while the database cannot be
  // reached (before the next attempt is due, or when an attempt failed).
  Connection* get(const std::shared_ptr<const Config>& config);
  // Whether get() would try to open a connection now.
  bool wantsAttempt(const std::shared_ptr<const Config>& config) const;
  // When the next attempt is due (only meaningful while not connected).
  Clock::time_point nextAttempt() const { return nextAttempt_; }
  // A failure of the connection's work: a lost connection is dropped.
  void failed(const DatabaseError& error);

 private:
  void drop(const std::string& why);

  std::string label_;
  std::shared_ptr<const Config> config_;
  std::unique_ptr<Connection> connection_;
  int attempts_ = 0;  // failed attempts since the connection was lost
  std::chrono::seconds pause_{1};
  Clock::time_point nextAttempt_{};
};

}  // namespace sqlprovider
