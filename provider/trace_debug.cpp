#include "provider/trace_debug.h"

bool TraceDebug::Initialization(const char* loggerName, const char* keyPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  loggerName_ = loggerName != nullptr ? loggerName : "";
  keyPath_ = keyPath != nullptr ? keyPath : "";
  // Tracing goes ahead only where a line can go: nowhere until the logger
  // is attached, except to a test's sink.
  return running_;
}

bool TraceDebug::isRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

void TraceDebug::trace(const char* text) { log(2, text); }

void TraceDebug::log(int level, const char* text) {
  Sink sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sink = sink_;
  }
  if (sink) sink(level, text != nullptr ? text : "");
}

void TraceDebug::setSink(Sink sink, bool running) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
  running_ = sink_ ? running : false;
}
