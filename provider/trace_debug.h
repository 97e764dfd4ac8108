// The provider's trace facade. Provider code hands it finished trace lines;
// it writes them at level 2 while tracing is on.
//
// Until the logger is attached, the facade writes nothing: it keeps the
// operations the provider calls, and a test can attach a sink that receives
// every line handed over. Safe to call from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>

class TraceDebug {
 public:
  using Sink = std::function<void(int level, const std::string& text)>;

  // Prepares the facade for the named logger and registry key below
  // HKEY_LOCAL_MACHINE; true when tracing can go ahead, which is what
  // isRunning() reports.
  bool Initialization(const char* loggerName, const char* keyPath);
  // Whether the facade's logger is running.
  bool isRunning() const;
  // One provider trace line at level 2.
  void trace(const char* text);
  void log(int level, const char* text);

  // Test hook: receives every line handed to the facade; running is what
  // isRunning() reports while a sink is attached.
  void setSink(Sink sink, bool running = true);

 private:
  mutable std::mutex mutex_;
  Sink sink_;
  bool running_ = false;
  std::string loggerName_;
  std::string keyPath_;
};
