// The simulated data-exchange server behind the exchange interface:
// registrations with their context handles, a message queue per
// registration, Zem_GetMessageBridge that holds for a message, completions
// reported with all ten strings, and failures injected on request.
//
// Zem_GetMessageBridge waits up to holdMs for a message. When none comes,
// it answers idleResult (default 1, a plain failure): a provider then
// pauses before it asks again, so a message that arrives in that pause
// waits for it. The longer the hold, the rarer that is.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/exchange_sim/event_stream.h"
#include "tools/exchange_sim/exchange_dispatch.h"
#include "tools/exchange_sim/latency_record.h"

struct SimMessage {
  int32_t ref = 0;
  int32_t msgType = 1;
  int32_t callId = 0;
  int32_t networkCallId = 0;
  int32_t nodeId = 0;
  int32_t heldCallId = 0;
  int32_t callRef = 0;
  std::array<std::u16string, kStringCount> items;  // at most 80 units each
};

// One failure to inject into a procedure's next call (of one provider, or
// of any).
struct Injection {
  enum class Kind { Result, Fault, Drop, Delay };
  Kind kind = Kind::Result;
  int16_t result = 0;        // Result: answered instead of doing the work
  uint32_t faultStatus = 0;  // Fault
  int delayMs = 0;           // Delay: then the call goes on as usual
  std::optional<int32_t> providerId;  // only calls of this provider; none: any call
};

// The procedure with this name ("registerProvider" ... "keepAlive").
std::optional<ExchangeOp> procedureByName(const std::string& name);

struct SimOptions {
  int holdMs = 10000;
  int16_t idleResult = 1;
};

class SimExchange : public ExchangeManager, public std::enable_shared_from_this<SimExchange> {
 public:
  SimExchange(EventStream& events, SimOptions options);

  // Queues a message for the registrations of providerId, or for every
  // registration; false with a reason when there is none.
  bool send(std::optional<int32_t> providerId, const SimMessage& message, std::string& why);
  // The next count calls of op fail as told.
  void inject(ExchangeOp op, const Injection& injection, int count);
  // Waits until some provider is registered; false when stopped first.
  bool waitForRegistration();
  // Ends every wait: held calls answer at once, delays end.
  void stop();
  // Queue-to-completion times of the messages answered so far.
  const LatencyRecord& latency() const { return latency_; }

  ExchangeReply registerProvider(rpc::ServerCall& call, ProviderContext* context, int32_t registrationId,
                                 const ProviderNames& names, const RegistrationFlags& flags) override;
  ExchangeReply deRegisterProvider(rpc::ServerCall& call, ProviderContext* context,
                                   const std::shared_ptr<rpc::ContextObject>& object) override;
  ExchangeReply getMessageBridge(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                                 int16_t reserved, MessageRecord* record, MessageData* data) override;
  ExchangeReply sendCompletion(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                               const MessageRecord& record, const MessageData& data) override;
  ExchangeReply keepAlive(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object) override;

 private:
  class Registration;

  // The failure injected into this call of op by providerId, if any; an
  // "injected" event reports it (with fields added to it).
  std::optional<ExchangeReply> injected(ExchangeOp op, int32_t providerId,
                                        nlohmann::ordered_json fields = nlohmann::ordered_json::object());
  void remove(const Registration& registration);
  void runDown(Registration& registration);
  // Sleeps up to ms; false when stopped first.
  bool pause(int ms);

  EventStream& events_;
  const SimOptions options_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<std::shared_ptr<Registration>> registrations_;
  std::array<std::deque<Injection>, kExchangeOperationCount> injections_;
  LatencyRecord latency_;
};
