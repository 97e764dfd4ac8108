// What a server program gives the runtime for each interface it serves, and
// what the runtime gives it for each call.
//
// Context handles live in the association group of the connection that
// opened them: any connection of the group may use them, a connection of
// another group cannot see them, and when the group's last connection
// closes the runtime runs rundown() on every context still open in it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "rpc/context_handle.h"
#include "rpc/ndr.h"
#include "rpc/pdu.h"

namespace rpc {

class TcpSocket;

// The server's state behind one context handle.
class ContextObject {
 public:
  virtual ~ContextObject() = default;
  // Called once when the group ends while the context is still open.
  virtual void rundown() {}
  const ContextHandle& handle() const { return handle_; }

 private:
  friend class AssociationGroup;
  ContextHandle handle_;
};

class AssociationGroup {
 public:
  explicit AssociationGroup(uint32_t id) : id_(id) {}
  uint32_t id() const { return id_; }

  // Gives the object a fresh handle and keeps it until close() or rundown.
  ContextHandle open(std::shared_ptr<ContextObject> object);
  // The open context with this handle, or null.
  std::shared_ptr<ContextObject> find(const ContextHandle& handle) const;
  // Forgets the context; the object, or null when it was not open.
  std::shared_ptr<ContextObject> close(const ContextHandle& handle);
  // Takes every open context out, for the rundown.
  std::map<Uuid, std::shared_ptr<ContextObject>> takeAll();

 private:
  const uint32_t id_;
  mutable std::mutex mutex_;
  std::map<Uuid, std::shared_ptr<ContextObject>> contexts_;
};

// One call as the interface sees it.
class ServerCall {
 public:
  ServerCall(AssociationGroup& group, const TcpSocket& socket) : group_(group), socket_(socket) {}
  AssociationGroup& group() { return group_; }
  // Whether the client has gone, so that a procedure that holds the call
  // can stop waiting.
  bool clientGone() const;

 private:
  AssociationGroup& group_;
  const TcpSocket& socket_;
};

// How the runtime answers a call: with the response stub the interface
// wrote, with a fault PDU, by closing the connection without an answer, or
// by holding the call without a word until the client closes the
// connection or the server stops.
//
// A server that misbehaves on purpose (a test server told to) can also
// send a reply at paceBytesPerSecond instead of at once, or only its first
// answerBytes bytes, after which the call is held as above.
struct Outcome {
  enum class Kind { Reply, Fault, Drop, Hold };
  Kind kind = Kind::Reply;
  uint32_t faultStatus = 0;
  int paceBytesPerSecond = 0;  // 0: at once
  int64_t answerBytes = -1;    // -1: the whole answer

  static Outcome reply() { return {}; }
  static Outcome fault(uint32_t status) { return {Kind::Fault, status}; }
  static Outcome drop() { return {Kind::Drop, 0}; }
  static Outcome hold() { return {Kind::Hold, 0}; }
};

class ServerInterface {
 public:
  virtual ~ServerInterface() = default;
  virtual SyntaxId syntax() const = 0;
  // Operation numbers 0 to operationCount() - 1 exist; the runtime answers
  // others with nca_s_op_rng_error without calling invoke().
  virtual uint16_t operationCount() const = 0;
  // Decodes the request stub from in, runs the operation and writes the
  // response stub to out. May block (the connection waits meanwhile).
  virtual Outcome invoke(ServerCall& call, uint16_t opnum, NdrReader& in, NdrWriter& out) = 0;
  // How a bind that offers this interface is answered: a reply (the bind's
  // acknowledgement, paced or cut as a reply may be), Drop or Hold; a fault
  // counts as a reply. May block, like invoke().
  virtual Outcome answerBind() { return Outcome::reply(); }
};

}  // namespace rpc
