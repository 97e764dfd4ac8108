#include "tools/exchange_sim/exchange_dispatch.h"

#include "provider/exchange/exchange_marshal.h"
#include "rpc/status.h"

namespace {

rpc::Outcome badStub() { return rpc::Outcome::fault(rpc::fault::kBadStubData); }
rpc::Outcome contextMismatch() { return rpc::Outcome::fault(rpc::fault::kContextMismatch); }

std::shared_ptr<rpc::ContextObject> lookUp(rpc::ServerCall& call, const ProviderContext& context) {
  if (context.isNull()) return nullptr;
  return call.group().find(context.toHandle());
}

// Writes the result last, after the out parameters the caller wrote.
rpc::Outcome finish(const ExchangeReply& reply, rpc::NdrWriter& out) {
  if (reply.outcome.kind == rpc::Outcome::Kind::Reply) out.i16(reply.result);
  return reply.outcome;
}

}  // namespace

rpc::Outcome ExchangeDispatcher::invoke(rpc::ServerCall& call, uint16_t opnum, rpc::NdrReader& in,
                                        rpc::NdrWriter& out) {
  switch (static_cast<ExchangeOp>(opnum)) {
    case ExchangeOp::RegisterProvider: {
      int32_t registrationId = 0;
      ProviderNames names{};
      RegistrationFlags flags{};
      if (!in.i32(registrationId) || !readProviderNames(in, names) || !readRegistrationFlags(in, flags) ||
          !readEnd(in))
        return badStub();
      ProviderContext context{};
      const ExchangeReply reply = manager_->registerProvider(call, &context, registrationId, names, flags);
      if (reply.outcome.kind == rpc::Outcome::Kind::Reply) writeProviderContext(out, context);
      return finish(reply, out);
    }
    case ExchangeOp::DeRegisterProvider: {
      ProviderContext context{};
      if (!readProviderContext(in, context) || !readEnd(in)) return badStub();
      const auto object = lookUp(call, context);
      if (!object) return contextMismatch();
      const ExchangeReply reply = manager_->deRegisterProvider(call, &context, object);
      if (reply.outcome.kind == rpc::Outcome::Kind::Reply) writeProviderContext(out, context);
      return finish(reply, out);
    }
    case ExchangeOp::GetMessageBridge: {
      ProviderContext context{};
      int16_t reserved = 0;
      if (!readProviderContext(in, context) || !in.i16(reserved) || !readEnd(in)) return badStub();
      const auto object = lookUp(call, context);
      if (!object) return contextMismatch();
      MessageRecord record{};
      MessageData data{};
      const ExchangeReply reply = manager_->getMessageBridge(call, object, reserved, &record, &data);
      if (reply.outcome.kind == rpc::Outcome::Kind::Reply) {
        writeMessageRecord(out, record);
        writeMessageData(out, data);
      }
      return finish(reply, out);
    }
    case ExchangeOp::SendCompletion: {
      ProviderContext context{};
      MessageRecord record{};
      MessageData data{};
      if (!readProviderContext(in, context) || !readMessageRecord(in, record) || !readMessageData(in, data) ||
          !readEnd(in))
        return badStub();
      const auto object = lookUp(call, context);
      if (!object) return contextMismatch();
      return finish(manager_->sendCompletion(call, object, record, data), out);
    }
    case ExchangeOp::KeepAlive: {
      ProviderContext context{};
      if (!readProviderContext(in, context) || !readEnd(in)) return badStub();
      const auto object = lookUp(call, context);
      if (!object) return contextMismatch();
      return finish(manager_->keepAlive(call, object), out);
    }
  }
  return rpc::Outcome::fault(rpc::fault::kOpRangeError);
}
