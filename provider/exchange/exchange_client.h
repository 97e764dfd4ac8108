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
// Deadlines: every call has one deadline for all of it: opening a
// connection when no idle one is at hand (connecting, writing the bind,
// reading its answer), writing the request and reading every fragment of
// the answer. A server that answers at a trickle, answers in part or not
// at all cannot stretch it. A call past its deadline closes its connection
// (it may hold half an answer and is never used again) and fails with a
// Timeout status (ConnectTimeout while connecting), which the provider
// takes as a raised exception. The defaults (ExchangeDeadlines):
//
//   call                    deadline  notes
//   connecting              5 s       within the call's deadline
//   bind and its answer     5 s       within the call's deadline
//   registerProvider        10 s
//   deRegisterProvider      10 s      5 s from ZemlinkDeInit, the unload and
//                                     the pump's re-registration
//   Zem_GetMessageBridge    30 s      the server's hold (up to 25 s) and 5 s;
//                                     the only call that may wait long
//   sendCompletion          10 s
//   keepAlive               5 s
//
// A caller may give a call a shorter deadline of its own (timeLimitMs).
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

// Each procedure's deadline in milliseconds (see above).
struct ExchangeDeadlines {
  int registerMs = 10000;
  int deRegisterMs = 10000;
  int fetchMs = 30000;
  int completionMs = 10000;
  int keepAliveMs = 5000;
};

class ExchangeClient {
 public:
  explicit ExchangeClient(rpc::ClientOptions options = {}, ExchangeDeadlines deadlines = {});
  ~ExchangeClient();
  ExchangeClient(const ExchangeClient&) = delete;
  ExchangeClient& operator=(const ExchangeClient&) = delete;

  // Makes the binding handle, releasing the previous one; no I/O.
  rpc::Status bind(const std::string& stringBinding);
  void releaseBinding();
  bool hasBinding() const;
  // The binding as "ncacn_ip_tcp:HOST[PORT]"; empty without one.
  std::string bindingText() const;

  // Each procedure's call; timeLimitMs (0: the procedure's deadline) is a
  // deadline of the caller's own for all of the call.
  //
  // Procedure 0. Fills *context with the server's context (null on refusal).
  ExchangeResult registerProvider(ProviderContext* context, int32_t registrationId, const ProviderNames& names,
                                  const RegistrationFlags& flags, rpc::Cancellation* cancel = nullptr,
                                  int timeLimitMs = 0);
  // Procedure 1. *context comes back as the server returns it: null once
  // the registration has ended.
  ExchangeResult deRegisterProvider(ProviderContext* context, rpc::Cancellation* cancel = nullptr,
                                    int timeLimitMs = 0);
  // Procedure 2. On result 0, *record and *data hold the message.
  ExchangeResult Zem_GetMessageBridge(const ProviderContext& context, int16_t reserved, MessageRecord* record,
                                      MessageData* data, rpc::Cancellation* cancel = nullptr, int timeLimitMs = 0);
  // Procedure 3.
  ExchangeResult sendCompletion(const ProviderContext& context, const MessageRecord& record,
                                const MessageData& data, rpc::Cancellation* cancel = nullptr, int timeLimitMs = 0);
  // Procedure 4.
  ExchangeResult keepAlive(const ProviderContext& context, rpc::Cancellation* cancel = nullptr, int timeLimitMs = 0);

  // Drops a context without telling the server; once no call uses its
  // association any more, the association's connections close and the
  // server runs the context down.
  void forgetContext(const ProviderContext& context);
  // How many contexts the client knows (and keeps the associations of).
  size_t knownContexts() const;

 private:
  // Where a context's calls travel: the association and the group it was
  // made in.
  struct ContextRoute {
    std::shared_ptr<rpc::ClientAssociation> association;
    uint64_t groupSerial = 0;
  };

  ContextRoute routeOf(const ProviderContext& context) const;
  // timeLimitMs 0: the deadline of op.
  ExchangeResult invoke(const ContextRoute& route, ExchangeOp op, const std::vector<uint8_t>& request,
                        std::vector<uint8_t>& response, rpc::Cancellation* cancel, int timeLimitMs,
                        uint64_t* usedGroup = nullptr);
  int deadlineOf(ExchangeOp op) const;

  const rpc::ClientOptions options_;
  const ExchangeDeadlines deadlines_;
  mutable std::mutex mutex_;
  std::shared_ptr<rpc::ClientAssociation> binding_;
  std::map<rpc::Uuid, ContextRoute> contexts_;
};
