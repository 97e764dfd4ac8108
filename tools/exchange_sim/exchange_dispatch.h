// The server side of the exchange interface: the dispatcher decodes each
// request, finds the context handle it names in the caller's association
// group, calls the server program's manager, and encodes the answer.
//
// A request that does not decode gets the bad-stub-data fault; a null or
// unknown context handle given to procedures 1 to 4 gets
// nca_s_fault_context_mismatch; the manager is not called for either.
#pragma once

#include <memory>

#include "provider/exchange/exchange_records.h"
#include "rpc/server_interface.h"

struct ExchangeReply {
  rpc::Outcome outcome;  // Reply sends result; Fault and Drop send none
  int16_t result = 0;

  static ExchangeReply withResult(int16_t value) { return {rpc::Outcome::reply(), value}; }
  static ExchangeReply fault(uint32_t status) { return {rpc::Outcome::fault(status), 0}; }
  static ExchangeReply drop() { return {rpc::Outcome::drop(), 0}; }
};

// What a server program does in each procedure. Methods run on the thread
// of the caller's connection and may block; several run at once.
class ExchangeManager {
 public:
  virtual ~ExchangeManager() = default;
  // *context arrives null; to register, open a context in call.group() and
  // store its handle there.
  virtual ExchangeReply registerProvider(rpc::ServerCall& call, ProviderContext* context, int32_t registrationId,
                                         const ProviderNames& names, const RegistrationFlags& flags) = 0;
  // object is the open context *context names; to end the registration,
  // close it in call.group() and set *context null.
  virtual ExchangeReply deRegisterProvider(rpc::ServerCall& call, ProviderContext* context,
                                           const std::shared_ptr<rpc::ContextObject>& object) = 0;
  // record and data arrive zeroed (ten empty strings).
  virtual ExchangeReply getMessageBridge(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                                         int16_t reserved, MessageRecord* record, MessageData* data) = 0;
  virtual ExchangeReply sendCompletion(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object,
                                       const MessageRecord& record, const MessageData& data) = 0;
  virtual ExchangeReply keepAlive(rpc::ServerCall& call, const std::shared_ptr<rpc::ContextObject>& object) = 0;
};

class ExchangeDispatcher : public rpc::ServerInterface {
 public:
  explicit ExchangeDispatcher(std::shared_ptr<ExchangeManager> manager) : manager_(std::move(manager)) {}

  rpc::SyntaxId syntax() const override { return exchangeInterfaceId(); }
  uint16_t operationCount() const override { return kExchangeOperationCount; }
  rpc::Outcome invoke(rpc::ServerCall& call, uint16_t opnum, rpc::NdrReader& in, rpc::NdrWriter& out) override;

 private:
  std::shared_ptr<ExchangeManager> manager_;
};
