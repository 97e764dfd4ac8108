// A DCE/RPC connection-oriented server over TCP.
//
// Every accepted connection is served by a thread of its own, one call at a
// time. A bind (or alter_context) is answered for the interfaces added
// before start(), with NDR 2.0 as the only transfer syntax; a bind that
// names an association group joins it, a bind with group 0 starts a new
// one. Requests for a presentation context that was not accepted get the
// fault nca_s_unk_if, unknown operation numbers nca_s_op_rng_error, a
// stub the interface cannot decode the bad-stub-data fault. Anything that
// breaks the protocol (a malformed or oversized fragment, fragments out of
// order, a request before the bind, a PDU left unfinished for pduTimeoutMs)
// closes the connection. When the last connection of a group closes, the
// group's open context handles are run down. An interface may have a call
// or a bind answered slowly, in part or not at all (see Outcome), so that a
// test server can misbehave the ways a client must survive.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rpc/server_interface.h"
#include "rpc/status.h"
#include "rpc/tcp_socket.h"

namespace rpc {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;               // 0: a free port
  uint16_t maxRecvFrag = 5840;     // the largest fragment accepted
  uint16_t maxXmitFrag = 5840;     // the largest fragment sent
  size_t maxRequestStub = 65536;   // a larger request closes the connection
  int pduTimeoutMs = 30000;        // a started PDU must be complete within this
  size_t maxConnections = 1024;    // further connections are closed at once
  KeepAlive keepAlive;
};

class Server {
 public:
  explicit Server(ServerOptions options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Before start() only.
  void addInterface(std::shared_ptr<ServerInterface> interface);
  Status start();
  // The port listened on, once started.
  uint16_t port() const { return listener_.port(); }
  // Stops accepting, closes every connection and waits for their threads;
  // rundowns run for every group still open. Procedures still running must
  // end by themselves (a ServerCall sees clientGone()).
  void stop();

  size_t connectionCount() const;

  // Serves one connection on the calling thread until it closes; for tests
  // and fuzzing that feed the server without a listener.
  void serveConnection(TcpSocket socket);

 private:
  struct Connection;
  struct Group {
    std::shared_ptr<AssociationGroup> group;
    size_t connections = 0;
  };

  void acceptLoop();
  void serve(Connection& connection);
  std::shared_ptr<AssociationGroup> joinGroup(uint32_t requested);
  void leaveGroup(const std::shared_ptr<AssociationGroup>& group);
  void reapFinished();
  // Sends an answer the way outcome says (see Outcome); false when the
  // connection is to close.
  bool deliver(TcpSocket& socket, const std::vector<uint8_t>& answer, const Outcome& outcome);
  // Waits ms milliseconds (-1: until the client goes); false when the
  // client closed the connection or the server stops first.
  bool holdWhileClientStays(const TcpSocket& socket, int ms);

  const ServerOptions options_;
  std::vector<std::shared_ptr<ServerInterface>> interfaces_;
  TcpListener listener_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::map<uint32_t, Group> groups_;
  uint32_t nextGroupId_;
};

}  // namespace rpc
