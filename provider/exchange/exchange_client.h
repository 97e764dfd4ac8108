// The client stubs of the exchange interface: one method per procedure,
// taking the procedure's parameters in their order, returning its 16-bit
// result, or a failed status in place of the exception that a transport
// failure or a server fault raises.
//
// Binding: bind() makes the binding handle from "ncacn_ip_tcp:HOST[PORT]"
// without any I/O; the first call opens the connection. Only
// registerProvider travels on the binding handle. The context it returns
// keeps the association it was made on, and procedures 1 to 4 travel on
// that association, so a registration survives a later bind() or
// releaseBinding() exactly as long as the server keeps the context.
// They travel only in the association group the context was made in: once
// every connection of that group has closed (a server restart, dropped
// connections), the server has run the context down, and a call with it
// fails with a GroupEnded status without sending anything.
//
// Null contexts: procedures 2 to 4 refuse a null context and an unknown one
// (one this client did not receive, or forgot) without sending anything;
// deRegisterProvider refuses a null pointer or a null context the same way.
//
// Threads: every method may be called from any thread, concurrently; each
// call uses a connection of its own. A call blocked in the server (such as
// Zem_GetMessageBridge while the server holds it) is ended from another
// thread through the rpc::Cancellation passed to it: cancel() closes that
// call's connection and the call returns at once with a Cancelled status.
// Other connections of the association, and so the context, stay open.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "provider/exchange/exchange_records.h"
#include "rpc/cancellation.h"
#include "rpc/client_association.h"
#include "rpc/status.h"

struct ExchangeResult {
  rpc::Status status;  // not ok: the call raised, and value means nothing
  int16_t value = -1;  // the procedure's result; 0 is success

  bool raised() const { return !status.isOk(); }
  bool succeeded() const { return status.isOk() && value == 0; }
};

class ExchangeClient {
 public:
  explicit ExchangeClient(rpc::ClientOptions options = {});
  ~ExchangeClient();
  ExchangeClient(const ExchangeClient&) = delete;
  ExchangeClient& operator=(const ExchangeClient&) = delete;

  // Makes the binding handle, releasing the previous one; no I/O.
  rpc::Status bind(const std::string& stringBinding);
  void releaseBinding();
  bool hasBinding() const;
  // The binding as "ncacn_ip_tcp:HOST[PORT]"; empty without one.
  std::string bindingText() const;

  // Procedure 0. Fills *context with the server's context (null on refusal).
  ExchangeResult registerProvider(ProviderContext* context, int32_t registrationId, const ProviderNames& names,
                                  const RegistrationFlags& flags, rpc::Cancellation* cancel = nullptr,
                                  int timeLimitMs = 0);
  // Procedure 1. *context comes back as the server returns it: null once
  // the registration has ended. timeLimitMs (0: none) bounds the whole
  // call, opening a connection included.
  ExchangeResult deRegisterProvider(ProviderContext* context, rpc::Cancellation* cancel = nullptr,
                                    int timeLimitMs = 0);
  // Procedure 2. On result 0, *record and *data hold the message.
  ExchangeResult Zem_GetMessageBridge(const ProviderContext& context, int16_t reserved, MessageRecord* record,
                                      MessageData* data, rpc::Cancellation* cancel = nullptr);
  // Procedure 3.
  ExchangeResult sendCompletion(const ProviderContext& context, const MessageRecord& record,
                                const MessageData& data, rpc::Cancellation* cancel = nullptr);
  // Procedure 4.
  ExchangeResult keepAlive(const ProviderContext& context, rpc::Cancellation* cancel = nullptr);

  // Drops a context without telling the server; once no call uses its
  // association any more, the association's connections close and the
  // server runs the context down.
  void forgetContext(const ProviderContext& context);

 private:
  // Where a context's calls travel: the association and the group it was
  // made in.
  struct ContextRoute {
    std::shared_ptr<rpc::ClientAssociation> association;
    uint64_t groupSerial = 0;
  };

  ContextRoute routeOf(const ProviderContext& context) const;
  ExchangeResult invoke(const ContextRoute& route, ExchangeOp op, const std::vector<uint8_t>& request,
                        std::vector<uint8_t>& response, rpc::Cancellation* cancel, int timeLimitMs = 0,
                        uint64_t* usedGroup = nullptr);

  const rpc::ClientOptions options_;
  mutable std::mutex mutex_;
  std::shared_ptr<rpc::ClientAssociation> binding_;
  std::map<rpc::Uuid, ContextRoute> contexts_;
};
