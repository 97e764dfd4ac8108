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

std::optional<ExchangeReply> SimExchange::injected(ExchangeOp op, int32_t providerId, nlohmann::ordered_json fields) {
  Injection injection;
  {
    std::lock_guard lock(mutex_);
    auto& pending = injections_[static_cast<size_t>(op)];
    const auto found = std::find_if(pending.begin(), pending.end(), [&](const Injection& candidate) {
      return !candidate.providerId || *candidate.providerId == providerId;
    });
    if (found == pending.end()) return std::nullopt;
    injection = *found;
    pending.erase(found);
  }
  nlohmann::ordered_json event = {{"proc", procedureName(op)}, {"providerId", providerId}};
  switch (injection.kind) {
    case Injection::Kind::Result: event["result"] = injection.result; break;
    case Injection::Kind::Fault: event["action"] = "fault"; event["status"] = injection.faultStatus; break;
    case Injection::Kind::Drop: event["action"] = "drop"; break;
    case Injection::Kind::Delay: event["action"] = "delay"; event["ms"] = injection.delayMs; break;
  }
  event.update(fields);
  events_.emit("injected", event);
  switch (injection.kind) {
    case Injection::Kind::Result: return ExchangeReply::withResult(injection.result);
    case Injection::Kind::Fault: return ExchangeReply::fault(injection.faultStatus);
    case Injection::Kind::Drop: return ExchangeReply::drop();
    case Injection::Kind::Delay: pause(injection.delayMs); return std::nullopt;
  }
  return std::nullopt;
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
  if (auto reply = injected(ExchangeOp::RegisterProvider, registrationId)) return *reply;
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
}

ExchangeReply SimExchange::deRegisterProvider(rpc::ServerCall& call, ProviderContext* context,
                                              const std::shared_ptr<rpc::ContextObject>& object) {
  auto registration = std::static_pointer_cast<Registration>(object);
  if (auto reply = injected(ExchangeOp::DeRegisterProvider, registration->providerId())) return *reply;
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
}

ExchangeReply SimExchange::getMessageBridge(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                                            int16_t, MessageRecord* record, MessageData* data) {
  auto registration = std::static_pointer_cast<Registration>(object);
  if (auto reply = injected(ExchangeOp::GetMessageBridge, registration->providerId())) return *reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.holdMs);
  // The client's going away is noticed by looking, so the wait is cut into slices.
  constexpr auto kSlice = std::chrono::milliseconds(100);

  std::unique_lock lock(mutex_);
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
}

ExchangeReply SimExchange::sendCompletion(rpc::ServerCall&, const std::shared_ptr<rpc::ContextObject>& object,
                                          const MessageRecord& record, const MessageData& data) {
  auto registration = std::static_pointer_cast<Registration>(object);
  if (auto reply = injected(ExchangeOp::SendCompletion, registration->providerId(), {{"ref", record.MsgReferenceId}}))
    return *reply;
  latency_.completed(record.MsgReferenceId);
  if (!events_.wants("completion")) return ExchangeReply::withResult(TARVO_SUCCESS);
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (const auto& string : data.Strings) items.push_back(utf16ToUtf8(slotText(string)));
  events_.emit("completion",
               {{"ref", record.MsgReferenceId}, {"items", items}, {"providerId", registration->providerId()}});
  return ExchangeReply::withResult(TARVO_SUCCESS);
}

ExchangeReply SimExchange::keepAlive(rpc::ServerCall&, const std::shared_ptr<rpc::ContextObject>& object) {
  auto registration = std::static_pointer_cast<Registration>(object);
  if (auto reply = injected(ExchangeOp::KeepAlive, registration->providerId())) return *reply;
  if (events_.wants("keepalive")) events_.emit("keepalive", {{"providerId", registration->providerId()}});
  return ExchangeReply::withResult(TARVO_SUCCESS);
}

// Names the control channel uses for the procedures.
std::optional<ExchangeOp> procedureByName(const std::string& name) {
  for (uint16_t op = 0; op < kExchangeOperationCount; ++op)
    if (name == procedureName(static_cast<ExchangeOp>(op))) return static_cast<ExchangeOp>(op);
  return std::nullopt;
}
