// The runtime's client against its server over loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "rpc/client_association.h"
#include "rpc/server.h"
#include "wire/test_interface.h"

namespace {

using zem::test::TestInterface;
using Clock = std::chrono::steady_clock;

class RuntimeTest : public ::testing::Test {
 protected:
  void startServer(rpc::ServerOptions options = {}) {
    interface_ = std::make_shared<TestInterface>();
    server_ = std::make_unique<rpc::Server>(options);
    server_->addInterface(interface_);
    ASSERT_TRUE(server_->start().isOk());
  }
  void SetUp() override { startServer(); }
  // Stops the server, closing every connection, and starts a new one on the
  // same port at once.
  void restartServer() {
    rpc::ServerOptions options;
    options.port = server_->port();
    server_.reset();
    startServer(options);
  }

  std::unique_ptr<rpc::ClientAssociation> associate(rpc::ClientOptions options = {},
                                                    rpc::SyntaxId id = zem::test::testInterfaceId()) {
    return std::make_unique<rpc::ClientAssociation>(rpc::StringBinding{"127.0.0.1", server_->port()}, id, options);
  }

  static std::vector<uint8_t> handleBytes(const std::vector<uint8_t>& answer) { return answer; }

  std::shared_ptr<TestInterface> interface_;
  std::unique_ptr<rpc::Server> server_;
};

TEST_F(RuntimeTest, EchoesAStubThroughOneConnection) {
  auto client = associate();
  const std::vector<uint8_t> request = {1, 2, 3, 4, 5, 6, 7};
  std::vector<uint8_t> answer;
  ASSERT_TRUE(client->call(zem::test::kEcho, request, answer).isOk());
  EXPECT_EQ(answer, request);
  ASSERT_TRUE(client->call(zem::test::kEcho, request, answer).isOk());
  EXPECT_EQ(client->openConnections(), 1u) << "the connection is reused";
  EXPECT_NE(client->groupId(), 0u);
}

TEST_F(RuntimeTest, FragmentsAndReassemblesLargeStubsBothWays) {
  server_.reset();
  rpc::ServerOptions serverOptions;
  serverOptions.maxRecvFrag = serverOptions.maxXmitFrag = 100;
  startServer(serverOptions);
  rpc::ClientOptions options;
  options.maxXmitFrag = options.maxRecvFrag = 64;  // 40 stub bytes a fragment one way, 72 the other
  auto client = associate(options);
  std::vector<uint8_t> request(1818);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> answer;
  const rpc::Status status = client->call(zem::test::kEcho, request, answer);
  ASSERT_TRUE(status.isOk()) << status.toString();
  EXPECT_EQ(answer, request);
}

TEST_F(RuntimeTest, AnEmptyStubTravels) {
  auto client = associate();
  std::vector<uint8_t> answer = {9};
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());
  EXPECT_TRUE(answer.empty());
}

TEST_F(RuntimeTest, UnknownOperationAndServerFaultsReachTheCallerAsFaults) {
  auto client = associate();
  std::vector<uint8_t> answer;
  rpc::Status status = client->call(77, {}, answer);
  EXPECT_EQ(status.code(), rpc::StatusCode::Fault);
  EXPECT_EQ(status.faultStatus(), rpc::fault::kOpRangeError);
  status = client->call(zem::test::kFault, {}, answer);
  EXPECT_EQ(status.faultStatus(), 0x1234u);
  // A fault leaves the connection usable.
  EXPECT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());
  EXPECT_EQ(client->openConnections(), 1u);
}

TEST_F(RuntimeTest, AnUnknownInterfaceOrVersionIsRejectedAtBind) {
  const rpc::SyntaxId unknown{*rpc::Uuid::parse("00000000-1111-2222-3333-444444444444"), 1, 0};
  rpc::SyntaxId newerMinor = zem::test::testInterfaceId();
  newerMinor.minor = 2;
  rpc::SyntaxId otherMajor = zem::test::testInterfaceId();
  otherMajor.major = 1;
  for (const rpc::SyntaxId& id : {unknown, newerMinor, otherMajor}) {
    auto client = associate({}, id);
    std::vector<uint8_t> answer;
    EXPECT_EQ(client->call(zem::test::kEcho, {}, answer).code(), rpc::StatusCode::BindRejected);
  }
}

TEST_F(RuntimeTest, AnUnreachableServerFailsTheCallNotTheBinding) {
  const uint16_t port = server_->port();
  server_.reset();
  rpc::ClientAssociation client(rpc::StringBinding{"127.0.0.1", port}, zem::test::testInterfaceId());
  std::vector<uint8_t> answer;
  EXPECT_EQ(client.call(zem::test::kEcho, {}, answer).code(), rpc::StatusCode::ConnectFailed);
}

TEST_F(RuntimeTest, AHeldCallDoesNotDelayAnotherThreadsCall) {
  auto client = associate();
  auto held = std::async(std::launch::async, [&] {
    std::vector<uint8_t> answer;
    return client->call(zem::test::kHold, {}, answer);
  });
  ASSERT_TRUE(interface_->holding.wait(5000));
  std::vector<uint8_t> answer;
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());
  EXPECT_EQ(client->openConnections(), 2u);
  interface_->release();
  EXPECT_TRUE(held.get().isOk());
}

TEST_F(RuntimeTest, ContextHandlesAreSharedAcrossTheGroupsConnections) {
  auto client = associate();
  std::vector<uint8_t> handle;
  ASSERT_TRUE(client->call(zem::test::kOpenContext, {}, handle).isOk());
  ASSERT_EQ(handle.size(), rpc::ContextHandle::kWireSize);

  // Hold one connection so that the next call opens a second one.
  auto held = std::async(std::launch::async, [&] {
    std::vector<uint8_t> answer;
    return client->call(zem::test::kHold, {}, answer);
  });
  ASSERT_TRUE(interface_->holding.wait(5000));
  std::vector<uint8_t> answer;
  ASSERT_TRUE(client->call(zem::test::kUseContext, handle, answer).isOk());
  EXPECT_EQ(client->openConnections(), 2u);
  interface_->release();
  ASSERT_TRUE(held.get().isOk());

  // Another association is another group: the handle means nothing there.
  auto stranger = associate();
  const rpc::Status status = stranger->call(zem::test::kUseContext, handle, answer);
  EXPECT_EQ(status.faultStatus(), rpc::fault::kContextMismatch);
  EXPECT_NE(stranger->groupId(), client->groupId());
}

TEST_F(RuntimeTest, RundownRunsWhenTheGroupsLastConnectionCloses) {
  auto client = associate();
  std::vector<uint8_t> handle, closedHandle, answer;
  ASSERT_TRUE(client->call(zem::test::kOpenContext, {}, handle).isOk());
  ASSERT_TRUE(client->call(zem::test::kOpenContext, {}, closedHandle).isOk());
  ASSERT_TRUE(client->call(zem::test::kCloseContext, closedHandle, answer).isOk());

  auto held = std::async(std::launch::async, [&] {
    std::vector<uint8_t> heldAnswer;
    return client->call(zem::test::kHold, {}, heldAnswer);
  });
  ASSERT_TRUE(interface_->holding.wait(5000));
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());  // two connections now
  client->abortAll();
  EXPECT_FALSE(held.get().isOk());
  ASSERT_TRUE(interface_->rundownSeen.wait(5000));
  EXPECT_EQ(interface_->rundowns, 1) << "only the context still open is run down, once";

  // The next call starts a new group; the old handle is gone.
  const uint32_t oldGroup = client->groupId();
  const rpc::Status status = client->call(zem::test::kUseContext, handle, answer);
  EXPECT_EQ(status.faultStatus(), rpc::fault::kContextMismatch);
  EXPECT_NE(client->groupId(), oldGroup);
}

TEST_F(RuntimeTest, NoRundownWhileAnotherConnectionOfTheGroupStays) {
  auto client = associate();
  std::vector<uint8_t> handle, answer;
  ASSERT_TRUE(client->call(zem::test::kOpenContext, {}, handle).isOk());
  rpc::Cancellation cancel;
  auto held = std::async(std::launch::async, [&] {
    std::vector<uint8_t> heldAnswer;
    return client->call(zem::test::kHold, {}, heldAnswer, &cancel);
  });
  ASSERT_TRUE(interface_->holding.wait(5000));
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());  // a second connection, left idle
  cancel.cancel();
  EXPECT_EQ(held.get().code(), rpc::StatusCode::Cancelled);
  ASSERT_TRUE(interface_->ended.wait(5000));
  EXPECT_EQ(interface_->rundowns, 0);
  EXPECT_TRUE(client->call(zem::test::kUseContext, handle, answer).isOk());
}

TEST_F(RuntimeTest, CancelEndsAHeldCallAtOnceAndStaysUntilReset) {
  auto client = associate();
  rpc::Cancellation cancel;
  const auto started = Clock::now();
  auto held = std::async(std::launch::async, [&] {
    std::vector<uint8_t> answer;
    return client->call(zem::test::kHold, {}, answer, &cancel);
  });
  ASSERT_TRUE(interface_->holding.wait(5000));
  cancel.cancel();
  EXPECT_EQ(held.get().code(), rpc::StatusCode::Cancelled);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));

  std::vector<uint8_t> answer;
  EXPECT_EQ(client->call(zem::test::kEcho, {}, answer, &cancel).code(), rpc::StatusCode::Cancelled);
  cancel.reset();
  EXPECT_TRUE(client->call(zem::test::kEcho, {}, answer, &cancel).isOk());
}

TEST_F(RuntimeTest, ACallTimeLimitEndsAWaitForASilentServer) {
  rpc::ClientOptions options;
  options.callTimeoutMs = 200;
  auto client = associate(options);
  std::vector<uint8_t> answer;
  const rpc::Status status = client->call(zem::test::kHold, {}, answer);
  EXPECT_EQ(status.code(), rpc::StatusCode::Timeout);
  interface_->release();
}

TEST_F(RuntimeTest, ManyThreadsCallAtOnce) {
  auto client = associate();
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::vector<uint8_t> request(static_cast<size_t>(t * 10 + i), static_cast<uint8_t>(t));
        std::vector<uint8_t> answer;
        if (client->call(zem::test::kEcho, request, answer).isOk() && answer == request) ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good, 400);
  EXPECT_LE(client->openConnections(), 8u);
}

TEST_F(RuntimeTest, APooledConnectionThePeerClosedIsNotUsed) {
  auto client = associate();
  std::vector<uint8_t> answer;
  uint64_t firstGroup = 0;
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer, rpc::CallSettings{}, &firstGroup).isOk());
  ASSERT_EQ(client->openConnections(), 1u);
  restartServer();

  // The idle connection was closed by the old server: the call goes out on a
  // new one, which starts a new group, as none of the old group is left.
  const std::vector<uint8_t> request = {4, 2};
  uint64_t secondGroup = 0;
  const rpc::Status status = client->call(zem::test::kEcho, request, answer, rpc::CallSettings{}, &secondGroup);
  ASSERT_TRUE(status.isOk()) << status.toString();
  EXPECT_EQ(answer, request);
  EXPECT_EQ(client->connectionsOpened(), 2u) << "one connect more";
  EXPECT_EQ(client->openConnections(), 1u);
  EXPECT_NE(secondGroup, firstGroup);
}

TEST_F(RuntimeTest, ACallBoundToAGroupThatEndedFailsWithoutSending) {
  auto client = associate();
  std::vector<uint8_t> handle, answer;
  uint64_t group = 0;
  ASSERT_TRUE(client->call(zem::test::kOpenContext, {}, handle, rpc::CallSettings{}, &group).isOk());
  rpc::CallSettings bound;
  bound.groupSerial = group;
  ASSERT_TRUE(client->call(zem::test::kUseContext, handle, answer, bound).isOk()) << "the group is alive";

  restartServer();
  EXPECT_EQ(client->call(zem::test::kUseContext, handle, answer, bound).code(), rpc::StatusCode::GroupEnded);
  EXPECT_EQ(client->connectionsOpened(), 1u) << "nothing was sent, no connection opened";
  EXPECT_EQ(server_->connectionCount(), 0u);
  // Calls bound to no group go on in a new one.
  EXPECT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());
}

TEST_F(RuntimeTest, ACallWhoseRequestMayHaveReachedTheServerIsNotRepeated) {
  auto client = associate();
  std::vector<uint8_t> answer;
  ASSERT_TRUE(client->call(zem::test::kEcho, {}, answer).isOk());  // the pool now holds a connection
  // The server reads the request, runs it and closes the connection without
  // an answer: from this side that looks like any broken connection after
  // the request went out, and the call must not run again.
  EXPECT_EQ(client->call(zem::test::kRunAndDrop, {}, answer).code(), rpc::StatusCode::ConnectionClosed);
  EXPECT_EQ(interface_->runsDropped, 1);
  EXPECT_EQ(client->connectionsOpened(), 1u);
}

TEST_F(RuntimeTest, ACallsOwnTimeLimitCoversASilentServer) {
  auto client = associate();
  rpc::CallSettings limited;
  limited.timeLimitMs = 200;
  std::vector<uint8_t> answer;
  EXPECT_EQ(client->call(zem::test::kHold, {}, answer, limited).code(), rpc::StatusCode::Timeout);
  interface_->release();
  EXPECT_TRUE(client->call(zem::test::kEcho, {}, answer, limited).isOk()) << "a limit that is not reached changes nothing";
}

}  // namespace
