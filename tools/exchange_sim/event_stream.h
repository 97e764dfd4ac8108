// The simulator's events: one JSON object per line on standard output,
// flushed at once, whole lines only even when several threads report.
#pragma once

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

class EventStream {
 public:
  explicit EventStream(std::FILE* out) : out_(out) {}

  // Events whose name is in the set are not written (--quiet).
  void mute(std::set<std::string> names) { muted_ = std::move(names); }
  // Whether events of this name are written; lets callers skip building them.
  bool wants(const std::string& name) const { return muted_.count(name) == 0; }
  // Writes {"event":name, fields...}.
  void emit(const std::string& name, nlohmann::ordered_json fields = nlohmann::ordered_json::object());
  void error(const std::string& reason);

 private:
  std::FILE* out_;
  std::mutex mutex_;
  std::set<std::string> muted_;
};
