#include "rpc/server.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "rpc/fragment_io.h"

namespace rpc {

struct Server::Connection {
  TcpSocket socket;
  std::thread thread;
  std::atomic<bool> finished{false};
};

namespace {

// Room for an answer's stub, so that writing it allocates once.
constexpr size_t kAnswerCapacity = 2048;

// The state of one connection between PDUs.
struct Session {
  std::shared_ptr<AssociationGroup> group;
  size_t xmitFrag = 0;  // the client's receive size, within ours
  // Accepted presentation contexts: id to interface.
  std::map<uint16_t, ServerInterface*> contexts;
};

}  // namespace

Server::Server(ServerOptions options) : options_(std::move(options)) {
  // Group ids need only be distinct; a random start makes a stale id from an
  // earlier server run unlikely to match a group of this one.
  nextGroupId_ = std::random_device()();
}

Server::~Server() { stop(); }

void Server::addInterface(std::shared_ptr<ServerInterface> interface) { interfaces_.push_back(std::move(interface)); }

Status Server::start() {
  Status status = listener_.listen(options_.host, options_.port);
  if (!status.isOk()) return status;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return Status();
}

void Server::stop() {
  if (stopping_.exchange(true)) {
    if (acceptThread_.joinable()) acceptThread_.join();
    return;
  }
  listener_.shutdown();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_) connection->socket.abort();
    all.swap(connections_);
  }
  for (auto& connection : all)
    if (connection->thread.joinable()) connection->thread.join();
}

size_t Server::connectionCount() const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const auto& connection : connections_)
    if (!connection->finished) ++count;
  return count;
}

void Server::reapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) connection->thread.join();
}

void Server::acceptLoop() {
  while (!stopping_) {
    TcpSocket socket = listener_.accept();
    if (!socket.isOpen()) break;
    reapFinished();
    std::lock_guard lock(mutex_);
    if (stopping_ || connections_.size() >= options_.maxConnections) continue;  // closes it
    socket.setNoDelay();
    socket.setKeepAlive(options_.keepAlive);
    auto connection = std::make_unique<Connection>();
    connection->socket = std::move(socket);
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw] {
      serve(*raw);
      raw->socket.abort();
      raw->finished = true;
    });
  }
}

void Server::serveConnection(TcpSocket socket) {
  Connection connection;
  connection.socket = std::move(socket);
  serve(connection);
}

std::shared_ptr<AssociationGroup> Server::joinGroup(uint32_t requested) {
  std::lock_guard lock(mutex_);
  if (requested != 0) {
    const auto found = groups_.find(requested);
    if (found == groups_.end()) return nullptr;
    ++found->second.connections;
    return found->second.group;
  }
  uint32_t id;
  do {
    id = nextGroupId_++;
  } while (id == 0 || groups_.count(id) != 0);
  Group& group = groups_[id];
  group.group = std::make_shared<AssociationGroup>(id);
  group.connections = 1;
  return group.group;
}

void Server::leaveGroup(const std::shared_ptr<AssociationGroup>& group) {
  {
    std::lock_guard lock(mutex_);
    const auto found = groups_.find(group->id());
    if (found == groups_.end() || --found->second.connections > 0) return;
    groups_.erase(found);
  }
  for (auto& [uuid, context] : group->takeAll()) context->rundown();
}

void Server::serve(Connection& connection) {
  TcpSocket& socket = connection.socket;
  Session session;
  FragmentReader reader(socket);
  StubAssembler assembler(options_.maxRequestStub);
  uint16_t requestContext = 0, requestOpnum = 0;
  std::vector<uint8_t> fragment;

  for (;;) {
    Header header;
    Status status = reader.read(options_.maxRecvFrag, Deadline(), options_.pduTimeoutMs, fragment, header);
    if (!status.isOk()) break;
    std::string why;

    if (header.type == PduType::Bind || header.type == PduType::AlterContext) {
      const bool isBind = header.type == PduType::Bind;
      BindBody bind;
      // A second bind on one connection, or an alter_context before the bind, breaks the protocol.
      if (!decodeBind(fragment, bind, why) || isBind == static_cast<bool>(session.group)) break;
      if (isBind) {
        if (bind.maxRecvFrag < kMinFragmentSize || bind.maxXmitFrag < kMinFragmentSize) {
          socket.sendAll(encodeBindNak(header.callId, {nak_reason::kLocalLimitExceeded}));
          break;
        }
        session.group = joinGroup(bind.assocGroupId);
        if (!session.group) {
          socket.sendAll(encodeBindNak(header.callId, {nak_reason::kNotSpecified}));
          break;
        }
        session.xmitFrag = std::min(bind.maxRecvFrag, options_.maxXmitFrag);
      }
      ServerInterface* offered = nullptr;
      BindAckBody ack;
      ack.maxXmitFrag = static_cast<uint16_t>(session.xmitFrag);
      ack.maxRecvFrag = options_.maxRecvFrag;
      ack.assocGroupId = session.group->id();
      if (isBind) ack.secondaryAddress = std::to_string(port());
      for (const ContextElement& element : bind.contexts) {
        ContextResult result;
        ServerInterface* match = nullptr;
        for (const auto& interface : interfaces_) {
          const SyntaxId offered = interface->syntax();
          if (offered.uuid == element.abstractSyntax.uuid && offered.major == element.abstractSyntax.major &&
              element.abstractSyntax.minor <= offered.minor)
            match = interface.get();
        }
        bool ndr = false;
        for (const SyntaxId& transfer : element.transferSyntaxes) ndr = ndr || transfer == ndrTransferSyntax();
        if (match == nullptr) {
          result.result = bind_result::kProviderRejection;
          result.reason = bind_reason::kAbstractSyntaxNotSupported;
        } else if (!ndr) {
          result.result = bind_result::kProviderRejection;
          result.reason = bind_reason::kTransferSyntaxesNotSupported;
        } else {
          result.transferSyntax = ndrTransferSyntax();
          session.contexts[element.contextId] = match;
          if (offered == nullptr) offered = match;
        }
        ack.results.push_back(result);
      }
      const PduType answer = isBind ? PduType::BindAck : PduType::AlterContextResp;
      Outcome how = offered != nullptr ? offered->answerBind() : Outcome::reply();
      if (how.kind == Outcome::Kind::Fault) how.kind = Outcome::Kind::Reply;
      if (!deliver(socket, encodeBindAck(answer, header.callId, ack), how)) break;
      continue;
    }

    if (header.type == PduType::CoCancel) continue;  // calls run to completion
    if (header.type == PduType::Orphaned) {
      if (assembler.inProgress() && assembler.callId() == header.callId) assembler.take();
      continue;
    }
    if (header.type != PduType::Request || !session.group) break;

    RequestBody request;
    if (!decodeRequest(fragment, request, why)) break;
    if (!assembler.inProgress()) {
      requestContext = request.contextId;
      requestOpnum = request.opnum;
    } else if (request.contextId != requestContext || request.opnum != requestOpnum) {
      break;
    }
    // A request in one fragment (nearly every one) is served from the
    // fragment itself; others are put together first.
    std::span<const uint8_t> stub = request.stub;
    std::vector<uint8_t> assembled;
    const bool whole = !assembler.inProgress() && (header.flags & pfc::kFirstFrag) &&
                       (header.flags & pfc::kLastFrag) && stub.size() <= options_.maxRequestStub;
    if (!whole) {
      const StubAssembler::Step step = assembler.add(header, request.stub, why);
      if (step == StubAssembler::Step::Error) break;
      if (step == StubAssembler::Step::More) continue;
      assembled = assembler.take();
      stub = assembled;
    }

    FaultBody fault;
    fault.contextId = requestContext;
    const auto interface = session.contexts.find(requestContext);
    if (interface == session.contexts.end()) {
      fault.status = fault::kUnknownInterface;
      if (!socket.sendAll(encodeFault(header.callId, fault)).isOk()) break;
      continue;
    }
    if (requestOpnum >= interface->second->operationCount()) {
      fault.status = fault::kOpRangeError;
      if (!socket.sendAll(encodeFault(header.callId, fault)).isOk()) break;
      continue;
    }
    ServerCall call(*session.group, socket);
    NdrReader in(stub);
    NdrWriter out(kAnswerCapacity);
    const Outcome outcome = interface->second->invoke(call, requestOpnum, in, out);
    if (outcome.kind == Outcome::Kind::Fault) {
      fault.status = outcome.faultStatus;
      if (!socket.sendAll(encodeFault(header.callId, fault)).isOk()) break;
      continue;
    }
    if (!deliver(socket, encodeResponseFragments(header.callId, requestContext, out.data(), session.xmitFrag), outcome))
      break;
  }
  socket.abort();
  if (session.group) leaveGroup(session.group);
}

bool Server::deliver(TcpSocket& socket, const std::vector<uint8_t>& answer, const Outcome& outcome) {
  if (outcome.kind == Outcome::Kind::Drop) return false;
  if (outcome.kind == Outcome::Kind::Hold) {
    holdWhileClientStays(socket, -1);
    return false;
  }
  if (outcome.paceBytesPerSecond <= 0 && outcome.answerBytes < 0) return socket.sendAll(answer).isOk();

  // A reply told to misbehave: its bytes at the given pace, in pieces of a
  // twentieth of a second's worth; then, when cut short, silence.
  const size_t length = outcome.answerBytes < 0 ? answer.size()
                                                : std::min(answer.size(), static_cast<size_t>(outcome.answerBytes));
  const std::span<const uint8_t> bytes(answer.data(), length);
  if (outcome.paceBytesPerSecond <= 0) {
    if (!socket.sendAll(bytes).isOk()) return false;
  } else {
    const size_t piece = std::max(1, outcome.paceBytesPerSecond / 20);
    const int pauseMs = static_cast<int>(piece * 1000 / static_cast<size_t>(outcome.paceBytesPerSecond));
    for (size_t sent = 0; sent < length; sent += piece) {
      if (!socket.sendAll(bytes.subspan(sent, std::min(piece, length - sent))).isOk()) return false;
      if (sent + piece < length && !holdWhileClientStays(socket, pauseMs)) return false;
    }
  }
  if (length == answer.size()) return true;
  holdWhileClientStays(socket, -1);
  return false;
}

bool Server::holdWhileClientStays(const TcpSocket& socket, int ms) {
  // The client's going is noticed by looking, so the wait is cut into slices.
  constexpr int kSliceMs = 20;
  const Deadline end = Deadline::after(ms);
  while (!end.passed()) {
    if (stopping_ || socket.peerClosed()) return false;
    const int left = end.waitMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 ? kSliceMs : std::min(left, kSliceMs)));
  }
  return !stopping_ && !socket.peerClosed();
}

}  // namespace rpc
