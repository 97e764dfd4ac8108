// The client side of one association with a server: one interface, one
// association group, and a pool of connections in that group.
//
// Each call takes an idle connection of the pool, or opens and binds a new
// one, and owns it until the answer is in; so a call that the server holds
// for a long time never delays another thread's call. Connections return to
// the pool after a completed call (a fault included) and are closed after a
// transport or protocol failure. While at least one connection of the group
// is open, new connections join the group (and so share its context
// handles); when none is open any more, the next connection starts a new
// group, as the server has ended the old one.
//
// Limits: opening a connection waits at most connectTimeoutMs; a call waits
// at most callTimeoutMs for its answer when that is set (0: no limit, for
// procedures that the server may hold); TCP keep-alive detects a peer that
// went silent within idle + interval * count seconds. A cancelled call
// (see Cancellation) ends at once with Cancelled.
//
// All operations are safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <vector>

#include "rpc/cancellation.h"
#include "rpc/pdu.h"
#include "rpc/status.h"
#include "rpc/string_binding.h"
#include "rpc/tcp_socket.h"

namespace rpc {

struct ClientOptions {
  int connectTimeoutMs = 5000;
  int callTimeoutMs = 0;           // 0: no limit
  uint16_t maxXmitFrag = 5840;     // the largest fragment this side sends
  uint16_t maxRecvFrag = 5840;     // the largest fragment this side accepts
  size_t maxResponseStub = 65536;  // a larger answer is a protocol error
  KeepAlive keepAlive;
};

class ClientAssociation {
 public:
  ClientAssociation(StringBinding endpoint, SyntaxId interfaceId, ClientOptions options = {});
  ~ClientAssociation();
  ClientAssociation(const ClientAssociation&) = delete;
  ClientAssociation& operator=(const ClientAssociation&) = delete;

  // Sends one request and waits for its answer. On success response holds
  // the answer's stub; a fault PDU gives a Fault status with its value.
  Status call(uint16_t opnum, std::span<const uint8_t> request, std::vector<uint8_t>& response,
              Cancellation* cancel = nullptr);

  // Closes every connection, idle or busy: calls in flight end with
  // ConnectionClosed.
  void abortAll();

  const StringBinding& endpoint() const { return endpoint_; }
  // The group id of the open connections; 0 before the first bind.
  uint32_t groupId() const;
  size_t openConnections() const;

 private:
  struct Connection;

  Status acquire(std::unique_ptr<Connection>& connection, Cancellation* cancel);
  // With mutex_ held: moves an idle connection to the busy ones.
  bool takeIdle(std::unique_ptr<Connection>& connection);
  Status openConnection(std::unique_ptr<Connection>& connection, Cancellation* cancel);
  Status exchange(Connection& connection, uint16_t opnum, std::span<const uint8_t> request,
                  std::vector<uint8_t>& response);
  void release(std::unique_ptr<Connection> connection, bool reusable);

  const StringBinding endpoint_;
  const SyntaxId interfaceId_;
  const ClientOptions options_;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::set<Connection*> busy_;
  uint32_t groupId_ = 0;
  // Held while a connection is opened, so that two first connections never
  // start two groups.
  std::mutex openMutex_;
};

}  // namespace rpc
