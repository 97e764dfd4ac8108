#include "tools/exchange_sim/sim_exchange.h"

#include <algorithm>
#include <cstring>

#include "provider/exchange/exchange_text.h"

// A registration is the object behind its context handle.
class SimExchange::Registration : public rpc::ContextObject {
 public:
  Registration(std::weak_ptr<SimExchange> owner, int32_t providerId) : owner_(std::move(owner)), providerId_(providerId) {}

  int32_t providerId() const { return providerId_; }
  std::string contextText() const { return handle().uuid.toString(); }

  void rundown() override {
    if (auto owner = owner_.lock()) owner->runDown(*this);
  }

  // Guarded by the owner's mutex.
  std::deque<SimMessage> queue;
  bool closed = false;

 private:
  std::weak_ptr<SimExchange> owner_;
  const int32_t providerId_;
};

namespace {

const char* procedureName(ExchangeOp op) {
  switch (op) {
    case ExchangeOp::RegisterProvider: return "registerProvider";
    case ExchangeOp::DeRegisterProvider: return "deRegisterProvider";
    case ExchangeOp::GetMessageBridge: return "Zem_GetMessageBridge";
    case ExchangeOp::SendCompletion: return "sendCompletion";
    case ExchangeOp::KeepAlive: return "keepAlive";
  }
  return "?";
}

std::string nameText(const char16_t (&name)[kNameUnits]) {
  size_t length = 0;
  while (length < kNameUnits && name[length] != 0) ++length;
  return utf16ToUtf8(std::u16string_view(name, length));
}

}  // namespace

SimExchange::SimExchange(EventStream& events, SimOptions options) : events_(events), options_(options) {}

bool SimExchange::send(std::optional<int32_t> providerId, const SimMessage& message, std::string& why) {
  std::lock_guard lock(mutex_);
  int queued = 0;
  for (const auto& registration : registrations_) {
    if (providerId && registration->providerId() != *providerId) continue;
    registration->queue.push_back(message);
    ++queued;
  }
  if (queued > 0) latency_.queued(message.ref);
  if (queued == 0) {
    why = providerId ? "provider " + std::to_string(*providerId) + " is not registered" : "no provider is registered";
    return false;
  }
  changed_.notify_all();
  return true;
}

void SimExchange::inject(ExchangeOp op, const Injection& injection, int count) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) injections_[static_cast<size_t>(op)].push_back(injection);
  injectionsPending_.fetch_add(count, std::memory_order_acq_rel);
}

void SimExchange::injectBind(const Injection& injection, int count) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) injections_[kBindSlot].push_back(injection);
  injectionsPending_.fetch_add(count, std::memory_order_acq_rel);
}

bool SimExchange::waitForRegistration() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopping_ || !registrations_.empty(); });
  return !stopping_;
}

void SimExchange::stop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

bool SimExchange::pause(int ms) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

std::optional<Injection> SimExchange::takeInjection(size_t slot, std::optional<int32_t> providerId, const char* proc,
                                                    std::optional<int32_t> ref) {
  // Most calls meet no failure: they do not take the lock to find that out.
  if (injectionsPending_.load(std::memory_order_acquire) == 0) return std::nullopt;
  Injection injection;
  {
    std::lock_guard lock(mutex_);
    auto& pending = injections_[slot];
    const auto found = std::find_if(pending.begin(), pending.end(), [&](const Injection& candidate) {
      return !candidate.providerId || candidate.providerId == providerId;
    });
    if (found == pending.end()) return std::nullopt;
    injection = *found;
    pending.erase(found);
    injectionsPending_.fetch_sub(1, std::memory_order_acq_rel);
  }
  nlohmann::ordered_json event = {{"proc", proc}};
  if (providerId) event["providerId"] = *providerId;
  switch (injection.kind) {
    case Injection::Kind::Result:
      event["result"] = injection.result;
      if (injection.served) event["served"] = true;
      break;
    case Injection::Kind::Fault: event["action"] = "fault"; event["status"] = injection.faultStatus; break;
    case Injection::Kind::Drop: event["action"] = "drop"; break;
    case Injection::Kind::Delay: event["action"] = "delay"; event["ms"] = injection.delayMs; break;
    case Injection::Kind::Trickle: event["action"] = "trickle"; event["rate"] = injection.bytesPerSecond; break;
    case Injection::Kind::Mute:
      event["action"] = "mute";
      if (injection.afterBytes >= 0) event["after"] = injection.afterBytes;
      break;
  }
  if (ref) event["ref"] = *ref;
  events_.emit("injected", event);
  return injection;
}

template <typename Work>
ExchangeReply SimExchange::serve(ExchangeOp op, int32_t providerId, std::optional<int32_t> ref, Work work) {
  const std::optional<Injection> injection = takeInjection(static_cast<size_t>(op), providerId, procedureName(op), ref);
  if (!injection) return work();
  switch (injection->kind) {
    case Injection::Kind::Result:
      if (injection->served) {
        ExchangeReply reply = work();
        reply.result = injection->result;
        return reply;
      }
      return ExchangeReply::withResult(injection->result);
    case Injection::Kind::Fault: return ExchangeReply::fault(injection->faultStatus);
    case Injection::Kind::Drop: return ExchangeReply::drop();
    case Injection::Kind::Delay: pause(injection->delayMs); return work();
    case Injection::Kind::Trickle: return work().paced(injection->bytesPerSecond, -1);
    case Injection::Kind::Mute:
      if (injection->afterBytes < 0) return ExchangeReply::hold();
      return work().paced(0, injection->afterBytes);
  }
  return work();
}

rpc::Outcome SimExchange::answerBind() {
  const std::optional<Injection> injection = takeInjection(kBindSlot, std::nullopt, "bind", std::nullopt);
  if (!injection) return rpc::Outcome::reply();
  rpc::Outcome outcome = rpc::Outcome::reply();
  switch (injection->kind) {
    case Injection::Kind::Drop: return rpc::Outcome::drop();
    case Injection::Kind::Delay: pause(injection->delayMs); break;
    case Injection::Kind::Trickle: outcome.paceBytesPerSecond = injection->bytesPerSecond; break;
    case Injection::Kind::Mute:
      if (injection->afterBytes < 0) return rpc::Outcome::hold();
      outcome.answerBytes = injection->afterBytes;
      break;
    case Injection::Kind::Result:
    case Injection::Kind::Fault: break;  // refused by the control channel
  }
  return outcome;
}

void SimExchange::remove(const Registration& registration) {
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](const auto& entry) { return entry.get() == &registration; });
}

void SimExchange::runDown(Registration& registration) {
  {
    std::lock_guard lock(mutex_);
    registration.closed = true;
    changed_.notify_all();
  }
  remove(registration);
  events_.emit("rundown", {{"providerId", registration.providerId()}, {"context", registration.contextText()}});
}

ExchangeReply SimExchange::registerProvider(rpc::ServerCall& call, ProviderContext* context, int32_t registrationId,
                                            const ProviderNames& names, const RegistrationFlags& flags) {
  return serve(ExchangeOp::RegisterProvider, registrationId, std::nullopt, [&] {
    if (registrationId < 1) {
      events_.error("registerProvider: registration id " + std::to_string(registrationId) + " refused");
      return ExchangeReply::withResult(TARVO_ERROR_PARAMETER);
    }
    auto registration = std::make_shared<Registration>(weak_from_this(), registrationId);
    *context = ProviderContext::fromHandle(call.group().open(registration));
    {
      std::lock_guard lock(mutex_);
      registrations_.push_back(registration);
      changed_.notify_all();
    }
    events_.emit("registered", {{"providerId", registrationId},
                                {"context", registration->contextText()},
                                {"names", {nameText(names.PrimaryName), nameText(names.SecondaryName)}},
                                {"flags", {flags.Flag1, flags.Flag2}}});
    return ExchangeReply::withResult(TARVO_SUCCESS);
  });
}

ExchangeReply SimExchange::deRegisterProvider(rpc::ServerCall& call, ProviderContext* context,
                                              const std::shared_ptr<rpc::ContextObject>& object) {
  auto registration = std::static_pointer_cast<Registration>(object);
  return serve(ExchangeOp::DeRegisterProvider, registration->providerId(), std::nullopt, [&] {
    call.group().close(registration->handle());
    {
      std::lock_guard lock(mutex_);
      registration->closed = true;
      changed_.notify_all();
    }
    remove(*registration);
    *context = ProviderContext{};
    events_.emit("deregistered", {{"providerId", registration->providerId()}, {"context", registration->contextText()}});
    return ExchangeReply::withResult(TARVO_SUCCESS);
  });
}

ExchangeReply SimExchange::getMessageBridge(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                                            int16_t, MessageRecord* record, MessageData* data) {
  auto registration = std::static_pointer_cast<Registration>(object);
  return serve(ExchangeOp::GetMessageBridge, registration->providerId(), std::nullopt, [&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.holdMs);
    // The client's going away is noticed by looking, so the wait is cut into slices.
    constexpr auto kSlice = std::chrono::milliseconds(100);

    std::unique_lock lock(mutex_);
    ++heldFetches_;
    struct Held {
      std::atomic<int>& count;
      ~Held() { --count; }
    } held{heldFetches_};
    while (registration->queue.empty() && !registration->closed && !stopping_) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) break;
      changed_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice));
      if (registration->queue.empty() && call.clientGone()) return ExchangeReply::drop();
    }
    if (registration->queue.empty()) return ExchangeReply::withResult(options_.idleResult);
    const SimMessage message = std::move(registration->queue.front());
    registration->queue.pop_front();
    lock.unlock();

    record->MsgReferenceId = message.ref;
    record->MsgProviderId = registration->providerId();
    record->MsgType = message.msgType;
    record->Call = {message.callId, message.networkCallId, message.nodeId, message.heldCallId, message.callRef};
    for (int i = 0; i < kStringCount; ++i) {
      const std::u16string& item = message.items[static_cast<size_t>(i)];
      std::memcpy(data->Strings[i], item.data(), std::min<size_t>(item.size(), kStringUnits - 1) * sizeof(char16_t));
    }
    latency_.delivered(message.ref);
    events_.emit("delivered", {{"ref", message.ref}, {"providerId", registration->providerId()}});
    return ExchangeReply::withResult(TARVO_SUCCESS);
  });
}

ExchangeReply SimExchange::sendCompletion(rpc::ServerCall&, const std::shared_ptr<rpc::ContextObject>& object,
                                          const MessageRecord& record, const MessageData& data) {
  auto registration = std::static_pointer_cast<Registration>(object);
  return serve(ExchangeOp::SendCompletion, registration->providerId(), record.MsgReferenceId, [&] {
    latency_.completed(record.MsgReferenceId);
    if (!events_.wants("completion")) return ExchangeReply::withResult(TARVO_SUCCESS);
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const auto& string : data.Strings) items.push_back(utf16ToUtf8(slotText(string)));
    events_.emit("completion",
                 {{"ref", record.MsgReferenceId}, {"items", items}, {"providerId", registration->providerId()}});
    return ExchangeReply::withResult(TARVO_SUCCESS);
  });
}

ExchangeReply SimExchange::keepAlive(rpc::ServerCall&, const std::shared_ptr<rpc::ContextObject>& object) {
  auto registration = std::static_pointer_cast<Registration>(object);
  return serve(ExchangeOp::KeepAlive, registration->providerId(), std::nullopt, [&] {
    if (events_.wants("keepalive")) events_.emit("keepalive", {{"providerId", registration->providerId()}});
    return ExchangeReply::withResult(TARVO_SUCCESS);
  });
}

// Names the control channel uses for the procedures.
std::optional<ExchangeOp> procedureByName(const std::string& name) {
  for (uint16_t op = 0; op < kExchangeOperationCount; ++op)
    if (name == procedureName(static_cast<ExchangeOp>(op))) return static_cast<ExchangeOp>(op);
  return std::nullopt;
}
