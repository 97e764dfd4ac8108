// The client side of one association with a server: one interface, one
// association group, and a pool of connections in that group.
//
// Each call takes an idle connection of the pool, or opens and binds a new
// one, and owns it until the answer is in; so a call that the server holds
// for a long time never delays another thread's call. Connections return to
// the pool after a completed call (a fault included) and are closed after a
// transport or protocol failure.
//
// Groups: while at least one connection of the group is open, new
// connections join the group (and so share its context handles); when none
// is open any more, the server has ended the group and run its context
// handles down, and the next connection starts a new group. Each group
// started here has a serial number. A call that names a group serial (the
// group of a context handle it carries) travels only in that group; once
// that group has ended it fails with GroupEnded and sends nothing, since
// the server no longer knows the handle.
//
// Dead connections and retries: a pooled connection can die while it
// waits, when the server restarts, closes it or resets it. Before an idle
// connection is handed to a call, one non-blocking peek looks at it; a
// connection the peer has closed or reset, or on which unrequested bytes
// wait, is closed unused, and the call takes another or opens a new one.
// Beyond that, exactly one failure is retried, once, on a newly opened
// connection: the request could not be written completely on a connection
// taken from the pool. The server runs a call only once the call's last
// fragment has arrived, and bytes that this side's kernel never accepted
// cannot have reached it, so that call has not run anywhere. Nothing else
// is retried: once the whole request has been handed to the kernel (the
// connection closing or breaking while the answer is awaited, a time limit,
// a protocol error), the server may have run the call, and running it twice
// could, for example, complete a message twice. A new connection that
// cannot be opened or bound fails the call as it is; nothing was sent.
//
// Limits: a call has one deadline for all of it: its own time limit
// (CallSettings), else callTimeoutMs, else none (for procedures that the
// server may hold as long as it likes). Waiting for another call's
// connection to open, connecting, writing the bind and reading its answer,
// writing the request and reading every fragment of the answer all end at
// that deadline, however the server paces its bytes; connecting and the
// bind also end connectTimeoutMs after each began. A call past its deadline
// fails with Timeout (ConnectTimeout while connecting) and closes its
// connection, which may hold half an answer. TCP keep-alive detects a peer
// that went silent within idle + interval * count seconds. A cancelled call
// (see Cancellation) ends at once with Cancelled.
//
// All operations are safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
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
  int callTimeoutMs = 0;           // a call's deadline when it gives none; 0: none
  uint16_t maxXmitFrag = 5840;     // the largest fragment this side sends
  uint16_t maxRecvFrag = 5840;     // the largest fragment this side accepts
  size_t maxResponseStub = 65536;  // a larger answer is a protocol error
  KeepAlive keepAlive;
};

// What one call may use.
struct CallSettings {
  Cancellation* cancel = nullptr;
  // The call's deadline in milliseconds from its start, for all of it,
  // opening a connection included; 0: ClientOptions::callTimeoutMs.
  int timeLimitMs = 0;
  // 0: any group; otherwise the serial of the group the call must travel in.
  uint64_t groupSerial = 0;
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
  // The same with settings; usedGroup (when given) receives the serial of
  // the group of the connection that carried the call.
  Status call(uint16_t opnum, std::span<const uint8_t> request, std::vector<uint8_t>& response,
              const CallSettings& settings, uint64_t* usedGroup = nullptr);

  // Closes every connection, idle or busy: calls in flight end with
  // ConnectionClosed.
  void abortAll();

  const StringBinding& endpoint() const { return endpoint_; }
  // The group id of the open connections; 0 before the first bind.
  uint32_t groupId() const;
  size_t openConnections() const;
  // Connections opened so far (bound or not), for tests and diagnostics.
  uint64_t connectionsOpened() const;

 private:
  struct Connection;

  // Takes a usable idle connection (unless freshOnly) or opens one; reused
  // tells which.
  Status acquire(std::unique_ptr<Connection>& connection, const CallSettings& settings, const Deadline& deadline,
                 bool freshOnly, bool& reused);
  // With mutex_ held: moves a usable idle connection to the busy ones,
  // closing the dead ones it meets on the way.
  bool takeIdle(std::unique_ptr<Connection>& connection);
  Status openConnection(std::unique_ptr<Connection>& connection, const CallSettings& settings,
                        const Deadline& deadline, bool freshOnly, bool& reused);
  // requestWritten tells whether the whole request went to the kernel.
  Status exchange(Connection& connection, uint16_t opnum, std::span<const uint8_t> request,
                  std::vector<uint8_t>& response, const Deadline& deadline, bool& requestWritten);
  void release(std::unique_ptr<Connection> connection, bool reusable);
  // With mutex_ held: the connection is no longer among the busy ones.
  void forgetBusy(Connection* connection);

  const StringBinding endpoint_;
  const SyntaxId interfaceId_;
  const ClientOptions options_;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::vector<Connection*> busy_;
  uint32_t groupId_ = 0;
  uint64_t groupSerial_ = 0;  // of the current group; 0 before the first
  uint64_t connectionsOpened_ = 0;
  // Set while a connection is opened (one at a time, so that two first
  // connections never start two groups); guarded by mutex_.
  bool opening_ = false;
  std::condition_variable openingDone_;
};

}  // namespace rpc
