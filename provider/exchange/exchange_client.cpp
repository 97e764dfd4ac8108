#include "provider/exchange/exchange_client.h"

#include "provider/exchange/exchange_marshal.h"
#include "rpc/string_binding.h"

namespace {

ExchangeResult refused(const std::string& why) {
  return {rpc::Status::error(rpc::StatusCode::InvalidArgument, why), -1};
}

ExchangeResult badAnswer(const rpc::NdrReader& in) {
  return {rpc::Status::error(rpc::StatusCode::ProtocolError, "answer does not decode: " + in.error()), -1};
}

}  // namespace

ExchangeClient::ExchangeClient(rpc::ClientOptions options) : options_(options) {}

ExchangeClient::~ExchangeClient() = default;

rpc::Status ExchangeClient::bind(const std::string& stringBinding) {
  rpc::StringBinding endpoint;
  rpc::Status status = rpc::StringBinding::parse(stringBinding, endpoint);
  std::lock_guard lock(mutex_);
  binding_.reset();
  if (!status.isOk()) return status;
  binding_ = std::make_shared<rpc::ClientAssociation>(endpoint, exchangeInterfaceId(), options_);
  return status;
}

void ExchangeClient::releaseBinding() {
  std::lock_guard lock(mutex_);
  binding_.reset();
}

bool ExchangeClient::hasBinding() const {
  std::lock_guard lock(mutex_);
  return binding_ != nullptr;
}

std::string ExchangeClient::bindingText() const {
  std::lock_guard lock(mutex_);
  return binding_ ? binding_->endpoint().toString() : std::string();
}

void ExchangeClient::forgetContext(const ProviderContext& context) {
  std::lock_guard lock(mutex_);
  contexts_.erase(context.toHandle().uuid);
}

ExchangeClient::ContextRoute ExchangeClient::routeOf(const ProviderContext& context) const {
  std::lock_guard lock(mutex_);
  const auto found = contexts_.find(context.toHandle().uuid);
  return found == contexts_.end() ? ContextRoute{} : found->second;
}

ExchangeResult ExchangeClient::invoke(const ContextRoute& route, ExchangeOp op, const std::vector<uint8_t>& request,
                                      std::vector<uint8_t>& response, rpc::Cancellation* cancel, int timeLimitMs,
                                      uint64_t* usedGroup) {
  rpc::CallSettings settings;
  settings.cancel = cancel;
  settings.timeLimitMs = timeLimitMs;
  settings.groupSerial = route.groupSerial;
  ExchangeResult result;
  result.status = route.association->call(static_cast<uint16_t>(op), request, response, settings, usedGroup);
  return result;
}

ExchangeResult ExchangeClient::registerProvider(ProviderContext* context, int32_t registrationId,
                                                const ProviderNames& names, const RegistrationFlags& flags,
                                                rpc::Cancellation* cancel, int timeLimitMs) {
  if (context == nullptr) return refused("no place for the context");
  std::shared_ptr<rpc::ClientAssociation> association;
  {
    std::lock_guard lock(mutex_);
    association = binding_;
  }
  if (!association) return refused("no binding");

  rpc::NdrWriter out;
  out.i32(registrationId);
  writeProviderNames(out, names);
  writeRegistrationFlags(out, flags);
  std::vector<uint8_t> answer;
  // The binding's calls may start a new group; the context belongs to the
  // group this one travelled in.
  uint64_t group = 0;
  ExchangeResult result =
      invoke(ContextRoute{association, 0}, ExchangeOp::RegisterProvider, out.data(), answer, cancel, timeLimitMs, &group);
  if (result.raised()) return result;

  rpc::NdrReader in(answer);
  ProviderContext returned{};
  if (!readProviderContext(in, returned) || !in.i16(result.value) || !readEnd(in)) return badAnswer(in);
  *context = returned;
  if (!returned.isNull()) {
    std::lock_guard lock(mutex_);
    contexts_[returned.toHandle().uuid] = ContextRoute{association, group};
  }
  return result;
}

ExchangeResult ExchangeClient::deRegisterProvider(ProviderContext* context, rpc::Cancellation* cancel,
                                                  int timeLimitMs) {
  if (context == nullptr || context->isNull()) return refused("null context");
  const ContextRoute route = routeOf(*context);
  if (!route.association) return refused("unknown context");

  rpc::NdrWriter out;
  writeProviderContext(out, *context);
  std::vector<uint8_t> answer;
  ExchangeResult result = invoke(route, ExchangeOp::DeRegisterProvider, out.data(), answer, cancel, timeLimitMs);
  if (result.raised()) return result;

  rpc::NdrReader in(answer);
  ProviderContext returned{};
  if (!readProviderContext(in, returned) || !in.i16(result.value) || !readEnd(in)) return badAnswer(in);
  if (returned.isNull()) forgetContext(*context);
  *context = returned;
  return result;
}

ExchangeResult ExchangeClient::Zem_GetMessageBridge(const ProviderContext& context, int16_t reserved,
                                                    MessageRecord* record, MessageData* data,
                                                    rpc::Cancellation* cancel) {
  if (record == nullptr || data == nullptr) return refused("no place for the message");
  if (context.isNull()) return refused("null context");
  const ContextRoute route = routeOf(context);
  if (!route.association) return refused("unknown context");

  rpc::NdrWriter out;
  writeProviderContext(out, context);
  out.i16(reserved);
  std::vector<uint8_t> answer;
  ExchangeResult result = invoke(route, ExchangeOp::GetMessageBridge, out.data(), answer, cancel);
  if (result.raised()) return result;

  rpc::NdrReader in(answer);
  MessageRecord receivedRecord{};
  MessageData receivedData{};
  if (!readMessageRecord(in, receivedRecord) || !readMessageData(in, receivedData) || !in.i16(result.value) ||
      !readEnd(in))
    return badAnswer(in);
  *record = receivedRecord;
  *data = receivedData;
  return result;
}

ExchangeResult ExchangeClient::sendCompletion(const ProviderContext& context, const MessageRecord& record,
                                              const MessageData& data, rpc::Cancellation* cancel) {
  if (context.isNull()) return refused("null context");
  const ContextRoute route = routeOf(context);
  if (!route.association) return refused("unknown context");

  rpc::NdrWriter out;
  writeProviderContext(out, context);
  writeMessageRecord(out, record);
  writeMessageData(out, data);
  std::vector<uint8_t> answer;
  ExchangeResult result = invoke(route, ExchangeOp::SendCompletion, out.data(), answer, cancel);
  if (result.raised()) return result;

  rpc::NdrReader in(answer);
  if (!in.i16(result.value) || !readEnd(in)) return badAnswer(in);
  return result;
}

ExchangeResult ExchangeClient::keepAlive(const ProviderContext& context, rpc::Cancellation* cancel) {
  if (context.isNull()) return refused("null context");
  const ContextRoute route = routeOf(context);
  if (!route.association) return refused("unknown context");

  rpc::NdrWriter out;
  writeProviderContext(out, context);
  std::vector<uint8_t> answer;
  ExchangeResult result = invoke(route, ExchangeOp::KeepAlive, out.data(), answer, cancel);
  if (result.raised()) return result;

  rpc::NdrReader in(answer);
  if (!in.i16(result.value) || !readEnd(in)) return badAnswer(in);
  return result;
}
