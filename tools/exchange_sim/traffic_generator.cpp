#include "tools/exchange_sim/traffic_generator.h"

#include <chrono>
#include <cmath>

#include "provider/exchange/exchange_text.h"

TrafficGenerator::TrafficGenerator(SimExchange& exchange, EventStream& events, TrafficOptions options)
    : exchange_(exchange), events_(events), options_(std::move(options)) {}

TrafficGenerator::~TrafficGenerator() { stop(); }

void TrafficGenerator::start() {
  if (options_.count > 0) thread_ = std::thread([this] { run(); });
}

void TrafficGenerator::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void TrafficGenerator::run() {
  using Clock = std::chrono::steady_clock;
  if (!exchange_.waitForRegistration()) return;
  const auto begin = Clock::now();
  for (int64_t i = 0; i < options_.count && !stopping_; ++i) {
    if (options_.ratePerSecond > 0) {
      const auto due = begin + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(i) / options_.ratePerSecond));
      std::this_thread::sleep_until(due);
    }
    SimMessage message;
    message.ref = static_cast<int32_t>(options_.firstRef + i);
    // Spread informational messages evenly: message i is one when the
    // running share crosses a whole number.
    const bool info = std::floor(static_cast<double>(i + 1) * options_.infoShare) >
                      std::floor(static_cast<double>(i) * options_.infoShare);
    message.msgType = info ? 0 : 1;
    message.callId = message.ref;
    for (size_t k = 0; k < options_.items.size() && k < message.items.size(); ++k) {
      std::string text = options_.items[k];
      for (size_t at = text.find("{ref}"); at != std::string::npos; at = text.find("{ref}"))
        text.replace(at, 5, std::to_string(message.ref));
      std::u16string units;
      utf8ToUtf16(text, units);
      units.resize(std::min<size_t>(units.size(), kStringUnits - 1));
      message.items[k] = units;
    }
    std::string why;
    while (!stopping_ && !exchange_.send(options_.providerId, message, why)) {
      if (!exchange_.waitForRegistration()) return;
      if (options_.providerId) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  events_.emit("generated", {{"count", options_.count}});
}
