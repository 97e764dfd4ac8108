#include "tools/exchange_sim/traffic_generator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

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
  // How faithfully the rate is kept: when each message went out, against
  // when it was due.
  std::vector<int64_t> lateUs;
  lateUs.reserve(static_cast<size_t>(std::min<int64_t>(options_.count, 1 << 20)));
  Clock::time_point firstSent{}, lastSent{};
  for (int64_t i = 0; i < options_.count && !stopping_; ++i) {
    Clock::time_point due{};
    if (options_.ratePerSecond > 0) {
      due = begin + std::chrono::duration_cast<Clock::duration>(
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
    lastSent = Clock::now();
    if (i == 0) firstSent = lastSent;
    // Lateness counts to the moment the message went out, the moment the
    // rate is taken at, rounded up so that it is never understated.
    if (options_.ratePerSecond > 0) lateUs.push_back(std::chrono::ceil<std::chrono::microseconds>(lastSent - due).count());
  }
  nlohmann::ordered_json generated = {{"count", options_.count}};
  if (options_.count > 1) {
    // The rate kept from the first message to the last.
    const double seconds = std::chrono::duration<double>(lastSent - firstSent).count();
    generated["seconds"] = seconds;
    if (seconds > 0) generated["ratePerSecond"] = static_cast<double>(options_.count - 1) / seconds;
  }
  if (!lateUs.empty()) {
    std::sort(lateUs.begin(), lateUs.end());
    generated["lateUs"] = {{"p50", lateUs[lateUs.size() / 2]},
                           {"p99", lateUs[(lateUs.size() - 1) * 99 / 100]},
                           {"max", lateUs.back()}};
  }
  events_.emit("generated", generated);
}
