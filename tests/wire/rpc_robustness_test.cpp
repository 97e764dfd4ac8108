// Malformed, truncated, oversized and out-of-order input, from a client to
// the server and from a server to the client: an error or a closed
// connection, never a crash or a hang.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "rpc/client_association.h"
#include "rpc/fragment_io.h"
#include "rpc/server.h"
#include "wire/test_interface.h"

namespace {

using zem::test::TestInterface;

std::vector<uint8_t> bindPdu(uint32_t group = 0, uint16_t contextId = 0) {
  rpc::BindBody bind;
  bind.maxXmitFrag = bind.maxRecvFrag = 1432;
  bind.assocGroupId = group;
  bind.contexts.push_back({contextId, zem::test::testInterfaceId(), {rpc::ndrTransferSyntax()}});
  return rpc::encodeBind(rpc::PduType::Bind, 1, bind);
}

std::vector<uint8_t> requestPdu(uint32_t callId, uint8_t flags, std::vector<uint8_t> stub, uint16_t contextId = 0) {
  rpc::RequestBody body;
  body.contextId = contextId;
  body.opnum = zem::test::kEcho;
  body.stub = stub;
  return rpc::encodeRequest(callId, flags, body);
}

std::vector<uint8_t> prefix(const std::vector<uint8_t>& bytes, size_t length) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length));
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class ServerRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    rpc::ServerOptions options;
    options.maxRecvFrag = 1432;
    options.maxRequestStub = 4096;
    options.pduTimeoutMs = 300;
    server_ = std::make_unique<rpc::Server>(options);
    server_->addInterface(interface_);
    ASSERT_TRUE(server_->start().isOk());
  }

  rpc::TcpSocket connect() {
    rpc::TcpSocket socket;
    EXPECT_TRUE(socket.open("127.0.0.1", server_->port()).isOk());
    EXPECT_TRUE(socket.connect(2000).isOk());
    return socket;
  }

  // Reads every fragment the server sends until it closes the connection;
  // false if it is still open after the limit.
  static bool closedBy(rpc::TcpSocket& socket, std::vector<rpc::Header>& answers, int limitMs = 3000) {
    for (;;) {
      std::vector<uint8_t> fragment;
      rpc::Header header;
      const rpc::Status status = rpc::readFragment(socket, 65535, rpc::Deadline::after(limitMs), limitMs, fragment, header);
      if (status.code() == rpc::StatusCode::Timeout) return false;
      if (!status.isOk()) return true;
      answers.push_back(header);
    }
  }

  void expectStillServing() {
    rpc::ClientAssociation client(rpc::StringBinding{"127.0.0.1", server_->port()}, zem::test::testInterfaceId());
    std::vector<uint8_t> answer;
    const std::vector<uint8_t> request = {4, 2};
    ASSERT_TRUE(client.call(zem::test::kEcho, request, answer).isOk());
    EXPECT_EQ(answer, request);
  }

  std::shared_ptr<TestInterface> interface_ = std::make_shared<TestInterface>();
  std::unique_ptr<rpc::Server> server_;
};

TEST_F(ServerRobustness, ClosesTheConnectionOnInputThatBreaksTheProtocol) {
  std::vector<uint8_t> oversized = bindPdu();
  oversized[8] = 0xFF;  // frag_length 65535 (beyond the agreed 1432), nothing more sent
  oversized[9] = 0xFF;
  std::vector<uint8_t> bigEndian = bindPdu();
  bigEndian[4] = 0x00;
  rpc::BindBody alter;
  alter.contexts.push_back({0, zem::test::testInterfaceId(), {rpc::ndrTransferSyntax()}});
  const std::vector<uint8_t> piece(1000, 0x55);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"garbage", std::vector<uint8_t>(64, 0xFF)},
      {"fragment larger than agreed", oversized},
      {"big-endian data", bigEndian},
      {"request before bind", requestPdu(2, 3, {1, 2})},
      {"alter_context before bind", rpc::encodeBind(rpc::PduType::AlterContext, 1, alter)},
      {"second bind", concat({bindPdu(), bindPdu()})},
      {"request without FIRST_FRAG", concat({bindPdu(), requestPdu(2, rpc::pfc::kLastFrag, {1})})},
      {"fragments of two calls interleaved",
       concat({bindPdu(), requestPdu(2, rpc::pfc::kFirstFrag, {1}), requestPdu(3, rpc::pfc::kLastFrag, {1})})},
      {"stub beyond the limit",
       concat({bindPdu(), requestPdu(2, rpc::pfc::kFirstFrag, piece), requestPdu(2, 0, piece),
               requestPdu(2, 0, piece), requestPdu(2, 0, piece), requestPdu(2, 0, piece)})},
      {"response sent to the server", concat({bindPdu(), rpc::encodeResponse(2, 3, {})})},
      {"half a header, then silence", prefix(bindPdu(), 8)},
      {"half a PDU, then silence", prefix(bindPdu(), 40)},
  };
  for (const auto& bad : cases) {
    rpc::TcpSocket socket = connect();
    ASSERT_TRUE(socket.sendAll(bad.bytes).isOk()) << bad.name;
    std::vector<rpc::Header> answers;
    EXPECT_TRUE(closedBy(socket, answers)) << bad.name;
    for (const rpc::Header& header : answers)
      EXPECT_TRUE(header.type == rpc::PduType::BindAck) << bad.name << ": only the bind is answered";
  }
  expectStillServing();
}

TEST_F(ServerRobustness, AConnectionClosedMidPduLeavesTheServerServing) {
  for (size_t cut : {1u, 15u, 16u, 40u}) {
    rpc::TcpSocket socket = connect();
    const std::vector<uint8_t> bytes = bindPdu();
    ASSERT_TRUE(socket.sendAll(std::span(bytes.data(), cut)).isOk());
  }  // each socket closes here
  expectStillServing();
}

TEST_F(ServerRobustness, AnswersWhatItCannotServeWithTheStandardRejections) {
  rpc::TcpSocket socket = connect();
  ASSERT_TRUE(socket.sendAll(bindPdu(0x7777777)).isOk());
  std::vector<uint8_t> fragment;
  rpc::Header header;
  ASSERT_TRUE(rpc::readFragment(socket, 65535, rpc::Deadline::after(2000), 2000, fragment, header).isOk());
  EXPECT_EQ(header.type, rpc::PduType::BindNak) << "unknown association group";

  rpc::TcpSocket second = connect();
  ASSERT_TRUE(second.sendAll(concat({bindPdu(), requestPdu(2, 3, {1}, /*contextId=*/9)})).isOk());
  ASSERT_TRUE(rpc::readFragment(second, 65535, rpc::Deadline::after(2000), 2000, fragment, header).isOk());
  EXPECT_EQ(header.type, rpc::PduType::BindAck);
  ASSERT_TRUE(rpc::readFragment(second, 65535, rpc::Deadline::after(2000), 2000, fragment, header).isOk());
  ASSERT_EQ(header.type, rpc::PduType::Fault);
  rpc::FaultBody fault;
  std::string why;
  ASSERT_TRUE(rpc::decodeFault(fragment, fault, why));
  EXPECT_EQ(fault.status, rpc::fault::kUnknownInterface) << "request on a context that was never accepted";
}

// A server that answers the bind properly and then follows a script.
class ScriptedServer {
 public:
  using Script = std::function<void(rpc::TcpSocket&, uint32_t callId)>;

  explicit ScriptedServer(Script script) {
    EXPECT_TRUE(listener_.listen("127.0.0.1", 0).isOk());
    thread_ = std::thread([this, script] {
      rpc::TcpSocket socket = listener_.accept();
      if (!socket.isOpen()) return;
      std::vector<uint8_t> fragment;
      rpc::Header header;
      if (!rpc::readFragment(socket, 65535, rpc::Deadline::after(5000), 5000, fragment, header).isOk()) return;
      rpc::BindAckBody ack;
      ack.maxXmitFrag = ack.maxRecvFrag = 5840;
      ack.assocGroupId = 1;
      ack.secondaryAddress = "0";
      ack.results.push_back({0, 0, rpc::ndrTransferSyntax()});
      socket.sendAll(rpc::encodeBindAck(rpc::PduType::BindAck, header.callId, ack));
      if (!rpc::readFragment(socket, 65535, rpc::Deadline::after(5000), 5000, fragment, header).isOk()) return;
      script(socket, header.callId);
      // Keep the connection until the client has read what it was sent.
      std::vector<uint8_t> rest(1);
      socket.receiveExact(rest, rpc::Deadline::after(5000));
    });
  }
  ~ScriptedServer() {
    listener_.shutdown();
    thread_.join();
  }
  uint16_t port() const { return listener_.port(); }

 private:
  rpc::TcpListener listener_;
  std::thread thread_;
};

std::vector<uint8_t> responsePdu(uint32_t callId, uint8_t flags, const std::vector<uint8_t>& stub) {
  rpc::ResponseBody body;
  body.stub = stub;
  return rpc::encodeResponse(callId, flags, body);
}

TEST(ClientRobustness, ABadAnswerIsAnErrorStatus) {
  const std::vector<uint8_t> piece(4000, 1);
  const struct {
    const char* name;
    std::function<std::vector<uint8_t>(uint32_t)> answer;
    rpc::StatusCode expected;
  } cases[] = {
      {"answer for another call", [](uint32_t id) { return responsePdu(id + 1, 3, {1}); },
       rpc::StatusCode::ProtocolError},
      {"fragment beyond the agreed size",
       [](uint32_t id) { return responsePdu(id, 3, std::vector<uint8_t>(6000, 2)); }, rpc::StatusCode::ProtocolError},
      {"answer beyond the stub limit",
       [&](uint32_t id) {
         std::vector<uint8_t> all = responsePdu(id, rpc::pfc::kFirstFrag, piece);
         for (int i = 0; i < 20; ++i) {
           const auto more = responsePdu(id, 0, piece);
           all.insert(all.end(), more.begin(), more.end());
         }
         return all;
       },
       rpc::StatusCode::ProtocolError},
      {"continuation without a first fragment", [](uint32_t id) { return responsePdu(id, rpc::pfc::kLastFrag, {1}); },
       rpc::StatusCode::ProtocolError},
      {"garbage", [](uint32_t) { return std::vector<uint8_t>(32, 0xEE); }, rpc::StatusCode::ProtocolError},
      {"a request instead of a response", [](uint32_t id) { return requestPdu(id, 3, {}); },
       rpc::StatusCode::ProtocolError},
      {"closed mid-PDU",
       [](uint32_t id) {
         auto pdu = responsePdu(id, 3, std::vector<uint8_t>(100, 3));
         pdu.resize(60);
         return pdu;
       },
       rpc::StatusCode::ConnectionClosed},
      {"shutdown", [](uint32_t) { return rpc::encodeShutdown(0); }, rpc::StatusCode::ConnectionClosed},
  };
  for (const auto& bad : cases) {
    const bool closeAfter = std::string(bad.name) == "closed mid-PDU";
    ScriptedServer server([&](rpc::TcpSocket& socket, uint32_t callId) {
      socket.sendAll(bad.answer(callId));
      if (closeAfter) socket.abort();
    });
    rpc::ClientOptions options;
    options.maxResponseStub = 65536;
    options.callTimeoutMs = 5000;
    rpc::ClientAssociation client(rpc::StringBinding{"127.0.0.1", server.port()}, zem::test::testInterfaceId(),
                                  options);
    std::vector<uint8_t> answer;
    const rpc::Status status = client.call(0, std::vector<uint8_t>{1}, answer);
    EXPECT_EQ(status.code(), bad.expected) << bad.name << ": " << status.toString();
    EXPECT_EQ(client.openConnections(), 0u) << bad.name << ": a broken connection is not reused";
  }
}

}  // namespace
