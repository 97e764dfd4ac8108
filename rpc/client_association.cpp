#include "rpc/client_association.h"

#include <algorithm>

#include "rpc/fragment_io.h"

namespace rpc {

struct ClientAssociation::Connection {
  TcpSocket socket;
  FragmentReader reader{socket};
  size_t xmitFrag = 0;  // largest fragment the server accepts from us
  uint32_t nextCallId = 1;
  uint64_t groupSerial = 0;
  std::vector<uint8_t> fragment;  // the last fragment read, its storage kept for the next
};

namespace {

constexpr uint16_t kContextId = 0;

// Waits on condition (under lock) until ready() holds, no longer than the
// deadline; whether it holds.
template <typename Ready>
bool waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, const Deadline& deadline,
               Ready ready) {
  if (!deadline.limited()) {
    condition.wait(lock, ready);
    return true;
  }
  return condition.wait_until(lock, deadline.end(), ready);
}

// Keeps a call's socket attached to its cancellation token for one scope.
class Attachment {
 public:
  Attachment(Cancellation* cancel, TcpSocket* socket) : cancel_(cancel) {
    attached_ = cancel_ == nullptr || cancel_->attach(socket);
  }
  ~Attachment() {
    if (cancel_ != nullptr && attached_) cancel_->detach();
  }
  bool attached() const { return attached_; }

 private:
  Cancellation* cancel_;
  bool attached_;
};

Status cancelledStatus() { return Status::error(StatusCode::Cancelled, "the call was cancelled"); }

Status groupEnded() {
  return Status::error(StatusCode::GroupEnded, "every connection of the association group has closed");
}

}  // namespace

ClientAssociation::ClientAssociation(StringBinding endpoint, SyntaxId interfaceId, ClientOptions options)
    : endpoint_(std::move(endpoint)), interfaceId_(interfaceId), options_(options) {}

ClientAssociation::~ClientAssociation() { abortAll(); }

uint32_t ClientAssociation::groupId() const {
  std::lock_guard lock(mutex_);
  return groupId_;
}

size_t ClientAssociation::openConnections() const {
  std::lock_guard lock(mutex_);
  return idle_.size() + busy_.size();
}

void ClientAssociation::abortAll() {
  std::lock_guard lock(mutex_);
  for (Connection* connection : busy_) connection->socket.abort();
  idle_.clear();
}

uint64_t ClientAssociation::connectionsOpened() const {
  std::lock_guard lock(mutex_);
  return connectionsOpened_;
}

Status ClientAssociation::call(uint16_t opnum, std::span<const uint8_t> request, std::vector<uint8_t>& response,
                               Cancellation* cancel) {
  CallSettings settings;
  settings.cancel = cancel;
  return call(opnum, request, response, settings);
}

Status ClientAssociation::call(uint16_t opnum, std::span<const uint8_t> request, std::vector<uint8_t>& response,
                               const CallSettings& settings, uint64_t* usedGroup) {
  Cancellation* const cancel = settings.cancel;
  const int limitMs = settings.timeLimitMs > 0 ? settings.timeLimitMs : options_.callTimeoutMs;
  const Deadline deadline = limitMs > 0 ? Deadline::after(limitMs) : Deadline();
  // The second round only retries a request that could not be written on
  // a pooled connection (see the header), and only on a new connection.
  for (int round = 0;; ++round) {
    std::unique_ptr<Connection> connection;
    bool reused = false;
    Status status = acquire(connection, settings, deadline, round > 0, reused);
    if (!status.isOk()) return status;
    if (usedGroup != nullptr) *usedGroup = connection->groupSerial;

    bool attached = false;
    bool requestWritten = false;
    {
      // Detached before the connection can be closed below, so that cancel()
      // never reaches a socket that is gone.
      Attachment attachment(cancel, &connection->socket);
      attached = attachment.attached();
      if (attached) status = exchange(*connection, opnum, request, response, deadline, requestWritten);
    }
    if (!attached) {
      release(std::move(connection), true);
      return cancelledStatus();
    }
    // A cancel that came while the call was attached may have shut the
    // socket down after the answer was read: such a connection is never
    // pooled again, whatever the call's outcome.
    const bool cut = cancel != nullptr && cancel->cancelled();
    const bool reusable = !cut && (status.isOk() || status.code() == StatusCode::Fault);
    release(std::move(connection), reusable);
    if (!status.isOk() && cut) return cancelledStatus();
    if (!status.isOk() && reused && !requestWritten && round == 0 && status.code() != StatusCode::Timeout) continue;
    return status;
  }
}

Status ClientAssociation::acquire(std::unique_ptr<Connection>& connection, const CallSettings& settings,
                                  const Deadline& deadline, bool freshOnly, bool& reused) {
  {
    std::lock_guard lock(mutex_);
    if (settings.groupSerial != 0 && settings.groupSerial != groupSerial_) return groupEnded();
    if (!freshOnly && takeIdle(connection)) {
      reused = true;
      return Status();
    }
  }
  return openConnection(connection, settings, deadline, freshOnly, reused);
}

bool ClientAssociation::takeIdle(std::unique_ptr<Connection>& connection) {
  while (!idle_.empty()) {
    std::unique_ptr<Connection> candidate = std::move(idle_.back());
    idle_.pop_back();
    if (!candidate->socket.isIdleAndOpen() || candidate->reader.hasBuffered()) continue;  // closed here
    connection = std::move(candidate);
    busy_.push_back(connection.get());
    return true;
  }
  return false;
}

Status ClientAssociation::openConnection(std::unique_ptr<Connection>& connection, const CallSettings& settings,
                                         const Deadline& deadline, bool freshOnly, bool& reused) {
  Cancellation* const cancel = settings.cancel;
  {
    std::unique_lock lock(mutex_);
    if (!waitUntil(openingDone_, lock, deadline, [&] { return !opening_; }))
      return Status::error(StatusCode::ConnectTimeout, "the call's deadline passed");
    opening_ = true;
  }
  // Whatever way this ends, the next connection may open.
  struct OpeningDone {
    ClientAssociation& association;
    ~OpeningDone() {
      {
        std::lock_guard lock(association.mutex_);
        association.opening_ = false;
      }
      association.openingDone_.notify_all();
    }
  } openingDone{*this};
  auto fresh = std::make_unique<Connection>();
  Status status = fresh->socket.open(endpoint_.connectHost(), endpoint_.port);
  if (!status.isOk()) return status;

  uint32_t group = 0;
  {
    std::lock_guard lock(mutex_);
    if (settings.groupSerial != 0 && settings.groupSerial != groupSerial_) return groupEnded();
    // A connection returned while this one waited to open can serve instead.
    if (!freshOnly && takeIdle(connection)) {
      reused = true;
      return Status();
    }
    if (idle_.empty() && busy_.empty()) {
      // The group has ended: a call bound to it cannot travel, any other
      // starts the next group.
      if (settings.groupSerial != 0) return groupEnded();
      groupId_ = 0;
      ++groupSerial_;
    }
    group = groupId_;
    fresh->groupSerial = groupSerial_;
    ++connectionsOpened_;
    busy_.push_back(fresh.get());
  }
  const auto fail = [&](Status failure) {
    std::lock_guard lock(mutex_);
    forgetBusy(fresh.get());
    return failure;
  };

  Attachment attachment(cancel, &fresh->socket);
  if (!attachment.attached()) return fail(cancelledStatus());
  status = fresh->socket.connect(deadline.cappedAt(options_.connectTimeoutMs).waitMs());
  if (!status.isOk()) return fail(status);
  fresh->socket.setNoDelay();
  fresh->socket.setKeepAlive(options_.keepAlive);
  // The bind and its answer within the call's deadline, and never longer
  // than a connection may take to open.
  const Deadline bindDeadline = deadline.cappedAt(options_.connectTimeoutMs);

  BindBody bind;
  bind.maxXmitFrag = options_.maxXmitFrag;
  bind.maxRecvFrag = options_.maxRecvFrag;
  bind.assocGroupId = group;
  bind.contexts.push_back({kContextId, interfaceId_, {ndrTransferSyntax()}});
  status = fresh->socket.sendAll(encodeBind(PduType::Bind, fresh->nextCallId++, bind), bindDeadline);
  if (!status.isOk()) return fail(status);

  std::vector<uint8_t> fragment;
  Header header;
  status = fresh->reader.read(options_.maxRecvFrag, bindDeadline, -1, fragment, header);
  if (!status.isOk()) return fail(cancel && cancel->cancelled() ? cancelledStatus() : status);

  std::string why;
  if (header.type == PduType::BindNak) {
    BindNakBody nak;
    if (!decodeBindNak(fragment, nak, why)) return fail(Status::error(StatusCode::ProtocolError, why));
    return fail(Status::error(StatusCode::BindRejected, "bind_nak, reason " + std::to_string(nak.reason)));
  }
  BindAckBody ack;
  if (header.type != PduType::BindAck || !decodeBindAck(fragment, ack, why))
    return fail(Status::error(StatusCode::ProtocolError, why.empty() ? "no bind_ack" : why));
  if (ack.results.size() != 1) return fail(Status::error(StatusCode::ProtocolError, "bind_ack without one result"));
  if (ack.results[0].result != bind_result::kAccepted)
    return fail(Status::error(StatusCode::BindRejected,
                              "interface refused, reason " + std::to_string(ack.results[0].reason)));
  if (!(ack.results[0].transferSyntax == ndrTransferSyntax()))
    return fail(Status::error(StatusCode::ProtocolError, "server chose a transfer syntax that was not offered"));
  if (ack.maxRecvFrag < kMinFragmentSize)
    return fail(Status::error(StatusCode::ProtocolError, "server's receive fragment size is too small"));
  if (group != 0 && ack.assocGroupId != group)
    return fail(Status::error(StatusCode::BindRejected, "server did not keep the association group"));

  fresh->xmitFrag = std::min<size_t>(options_.maxXmitFrag, ack.maxRecvFrag);
  std::lock_guard lock(mutex_);
  groupId_ = ack.assocGroupId;
  connection = std::move(fresh);
  return Status();
}

Status ClientAssociation::exchange(Connection& connection, uint16_t opnum, std::span<const uint8_t> request,
                                   std::vector<uint8_t>& response, const Deadline& deadline, bool& requestWritten) {
  const uint32_t callId = connection.nextCallId++;
  requestWritten = false;
  Status status = sendRequest(connection.socket, callId, kContextId, opnum, request, connection.xmitFrag, deadline);
  if (!status.isOk()) return status;
  requestWritten = true;

  StubAssembler assembler(options_.maxResponseStub);
  std::vector<uint8_t>& fragment = connection.fragment;
  for (;;) {
    Header header;
    status = connection.reader.read(options_.maxRecvFrag, deadline, -1, fragment, header);
    if (!status.isOk()) return status;
    if (header.callId != callId && header.type != PduType::Shutdown)
      return Status::error(StatusCode::ProtocolError, "answer for call " + std::to_string(header.callId) +
                                                          " while waiting for call " + std::to_string(callId));
    std::string why;
    switch (header.type) {
      case PduType::Response: {
        ResponseBody body;
        if (!decodeResponse(fragment, body, why)) return Status::error(StatusCode::ProtocolError, why);
        // An answer in one fragment (nearly every one) is taken as it is.
        if (!assembler.inProgress() && (header.flags & pfc::kFirstFrag) && (header.flags & pfc::kLastFrag) &&
            body.stub.size() <= options_.maxResponseStub) {
          response.assign(body.stub.begin(), body.stub.end());
          return Status();
        }
        const StubAssembler::Step step = assembler.add(header, body.stub, why);
        if (step == StubAssembler::Step::Error) return Status::error(StatusCode::ProtocolError, why);
        if (step == StubAssembler::Step::Complete) {
          response = assembler.take();
          return Status();
        }
        break;
      }
      case PduType::Fault: {
        FaultBody body;
        if (!decodeFault(fragment, body, why)) return Status::error(StatusCode::ProtocolError, why);
        if (assembler.inProgress()) return Status::error(StatusCode::ProtocolError, "fault inside a response");
        return Status::fault(body.status);
      }
      case PduType::Shutdown:
        return Status::error(StatusCode::ConnectionClosed, "the server asked to close the connection");
      default:
        return Status::error(StatusCode::ProtocolError,
                             "unexpected PDU type " + std::to_string(static_cast<int>(header.type)));
    }
  }
}

void ClientAssociation::forgetBusy(Connection* connection) {
  const auto found = std::find(busy_.begin(), busy_.end(), connection);
  if (found == busy_.end()) return;
  *found = busy_.back();
  busy_.pop_back();
}

void ClientAssociation::release(std::unique_ptr<Connection> connection, bool reusable) {
  std::lock_guard lock(mutex_);
  forgetBusy(connection.get());
  if (reusable) idle_.push_back(std::move(connection));
}

}  // namespace rpc
