// The exchange interface's client stubs against its server dispatch, in one
// process, with every request stub recorded as it arrived.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <future>

#include "provider/exchange/exchange_client.h"
#include "provider/exchange/exchange_text.h"
#include "rpc/server.h"
#include "tools/exchange_sim/sim_exchange.h"

namespace {

// Records each request stub, then lets the real dispatcher answer.
class RecordingInterface : public rpc::ServerInterface {
 public:
  explicit RecordingInterface(std::shared_ptr<ExchangeManager> manager) : dispatcher_(std::move(manager)) {}
  rpc::SyntaxId syntax() const override { return dispatcher_.syntax(); }
  uint16_t operationCount() const override { return dispatcher_.operationCount(); }
  rpc::Outcome invoke(rpc::ServerCall& call, uint16_t opnum, rpc::NdrReader& in, rpc::NdrWriter& out) override {
    {
      std::vector<uint8_t> stub(in.remaining());
      rpc::NdrReader copy = in;
      copy.bytes(stub.data(), stub.size());
      std::lock_guard lock(mutex_);
      requests_.push_back({opnum, std::move(stub)});
    }
    return dispatcher_.invoke(call, opnum, in, out);
  }
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  ExchangeDispatcher dispatcher_;
  std::mutex mutex_;
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> requests_;
};

class ExchangeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = std::tmpfile();
    events_ = std::make_unique<EventStream>(sink_);
    SimOptions options;
    options.holdMs = 200;
    exchange_ = std::make_shared<SimExchange>(*events_, options);
    recorder_ = std::make_shared<RecordingInterface>(exchange_);
    server_ = std::make_unique<rpc::Server>();
    server_->addInterface(recorder_);
    ASSERT_TRUE(server_->start().isOk());
    ASSERT_TRUE(client_.bind(binding()).isOk());
  }
  void TearDown() override {
    exchange_->stop();
    server_.reset();
    std::fclose(sink_);
  }
  std::string binding() const { return "ncacn_ip_tcp:127.0.0.1[" + std::to_string(server_->port()) + "]"; }

  ProviderContext registerOne(int32_t id = 4711) {
    ProviderContext context{};
    const ExchangeResult result =
        client_.registerProvider(&context, id, vendorProviderNames(), defaultRegistrationFlags());
    EXPECT_TRUE(result.succeeded()) << result.status.toString();
    EXPECT_FALSE(context.isNull());
    return context;
  }

  std::vector<uint8_t> lastRequest() { return recorder_->requests().back().second; }

  std::FILE* sink_ = nullptr;
  std::unique_ptr<EventStream> events_;
  std::shared_ptr<SimExchange> exchange_;
  std::shared_ptr<RecordingInterface> recorder_;
  std::unique_ptr<rpc::Server> server_;
  ExchangeClient client_;
};

std::vector<uint8_t> le32(int32_t value) {
  std::vector<uint8_t> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

std::vector<uint8_t> contextBytes(const ProviderContext& context) {
  std::vector<uint8_t> bytes(20);
  std::memcpy(bytes.data(), &context, 20);
  return bytes;
}

TEST_F(ExchangeClientTest, RegistrationSendsIdNamesAndFlagsAndNothingElse) {
  registerOne(4711);
  std::vector<uint8_t> expected = le32(4711);
  for (int field = 0; field < 2; ++field) {
    std::vector<uint8_t> name(102, 0);
    const char* vendor = "Brasken";
    for (int i = 0; vendor[i] != 0; ++i) name[static_cast<size_t>(2 * i)] = static_cast<uint8_t>(vendor[i]);
    append(expected, name);
  }
  append(expected, {1, 0, 1, 0});
  EXPECT_EQ(lastRequest(), expected);
  EXPECT_EQ(expected.size(), 212u);
}

TEST_F(ExchangeClientTest, EachRequestStubHasTheExpectedBytes) {
  const ProviderContext context = registerOne();

  MessageRecord record{};
  MessageData data{};
  ASSERT_TRUE(client_.Zem_GetMessageBridge(context, 0, &record, &data).status.isOk());
  std::vector<uint8_t> expected = contextBytes(context);
  append(expected, {0, 0});
  EXPECT_EQ(lastRequest(), expected) << "Zem_GetMessageBridge: context and 0";

  ASSERT_TRUE(client_.keepAlive(context).succeeded());
  EXPECT_EQ(lastRequest(), contextBytes(context)) << "keepAlive";

  // A completion of two items carries only the reference in its record.
  MessageRecord completion{};
  completion.MsgReferenceId = 0x0A0B0C0D;
  MessageData items{};
  narrowToWireString("abc", items.Strings[0]);
  narrowToWireString("", items.Strings[1]);
  ASSERT_TRUE(client_.sendCompletion(context, completion, items).succeeded());
  expected = contextBytes(context);
  append(expected, le32(0x0A0B0C0D));
  append(expected, std::vector<uint8_t>(76, 0));
  append(expected, {0, 0, 0, 0, 4, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0});
  for (int i = 1; i < 10; ++i) {
    append(expected, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0});
    if (i < 9) append(expected, {0, 0});  // the gap before the next header
  }
  EXPECT_EQ(lastRequest(), expected) << "sendCompletion";
  EXPECT_EQ(expected.size(), 20u + 80 + 16 + 8 * 12 + 10);

  ProviderContext copy = context;
  ASSERT_TRUE(client_.deRegisterProvider(&copy).succeeded());
  EXPECT_EQ(lastRequest(), contextBytes(context)) << "deRegisterProvider";
  EXPECT_TRUE(copy.isNull()) << "the server closes the context";
}

TEST_F(ExchangeClientTest, CompletionStubSizes) {
  const ProviderContext context = registerOne();
  const MessageRecord record{};
  MessageData data{};
  ASSERT_TRUE(client_.sendCompletion(context, record, data).succeeded());
  EXPECT_EQ(lastRequest().size(), 218u);
  for (int i = 0; i < 10; i += 2) narrowToWireString("abc", data.Strings[i]);
  ASSERT_TRUE(client_.sendCompletion(context, record, data).succeeded());
  EXPECT_EQ(lastRequest().size(), 238u);
  for (auto& slot : data.Strings) narrowToWireString(std::string(80, 'q'), slot);
  ASSERT_TRUE(client_.sendCompletion(context, record, data).succeeded());
  EXPECT_EQ(lastRequest().size(), 1818u);
}

TEST_F(ExchangeClientTest, NullAndUnknownContextsAreRefusedWithoutSending) {
  const ProviderContext null{};
  ProviderContext unknown{};
  unknown.Uuid[0] = 0x42;
  MessageRecord record{};
  MessageData data{};
  for (const ProviderContext& context : {null, unknown}) {
    EXPECT_EQ(client_.Zem_GetMessageBridge(context, 0, &record, &data).status.code(),
              rpc::StatusCode::InvalidArgument);
    EXPECT_EQ(client_.sendCompletion(context, record, data).status.code(), rpc::StatusCode::InvalidArgument);
    EXPECT_EQ(client_.keepAlive(context).status.code(), rpc::StatusCode::InvalidArgument);
    ProviderContext copy = context;
    EXPECT_EQ(client_.deRegisterProvider(&copy).status.code(), rpc::StatusCode::InvalidArgument);
  }
  EXPECT_EQ(client_.deRegisterProvider(nullptr).status.code(), rpc::StatusCode::InvalidArgument);
  EXPECT_TRUE(recorder_->requests().empty());
}

TEST_F(ExchangeClientTest, BindingDoesNoIoAndARegistrationSurvivesARebind) {
  ExchangeClient offline;
  EXPECT_TRUE(offline.bind("ncacn_ip_tcp:127.0.0.1[1]").isOk()) << "nothing listens there, and no one asks";
  EXPECT_EQ(offline.bind("ncacn_ip_tcp:127.0.0.1").code(), rpc::StatusCode::InvalidBinding);
  EXPECT_FALSE(offline.hasBinding());

  const ProviderContext context = registerOne();
  ASSERT_TRUE(client_.bind("ncacn_ip_tcp:127.0.0.1[1]").isOk());
  EXPECT_TRUE(client_.keepAlive(context).succeeded());
  client_.releaseBinding();
  EXPECT_TRUE(client_.keepAlive(context).succeeded());
  ProviderContext fresh{};
  EXPECT_EQ(client_.registerProvider(&fresh, 5, vendorProviderNames(), defaultRegistrationFlags()).status.code(),
            rpc::StatusCode::InvalidArgument)
      << "no binding";
}

TEST_F(ExchangeClientTest, AHeldFetchDoesNotDelayKeepAliveAndCanBeCancelled) {
  exchange_->stop();  // rebuilt below with a long hold
  server_.reset();
  SimOptions options;
  options.holdMs = 60000;
  exchange_ = std::make_shared<SimExchange>(*events_, options);
  recorder_ = std::make_shared<RecordingInterface>(exchange_);
  server_ = std::make_unique<rpc::Server>();
  server_->addInterface(recorder_);
  ASSERT_TRUE(server_->start().isOk());
  ASSERT_TRUE(client_.bind(binding()).isOk());
  const ProviderContext context = registerOne();

  rpc::Cancellation cancel;
  auto fetch = std::async(std::launch::async, [&] {
    MessageRecord record{};
    MessageData data{};
    return client_.Zem_GetMessageBridge(context, 0, &record, &data, &cancel);
  });
  // keepAlive goes through while the fetch is held (on a second connection).
  while (recorder_->requests().size() < 2) std::this_thread::yield();
  EXPECT_TRUE(client_.keepAlive(context).succeeded());
  const auto started = std::chrono::steady_clock::now();
  cancel.cancel();
  EXPECT_EQ(fetch.get().status.code(), rpc::StatusCode::Cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_TRUE(client_.keepAlive(context).succeeded()) << "the context lives on";
}

TEST_F(ExchangeClientTest, FetchDeliversAQueuedMessage) {
  const ProviderContext context = registerOne(31);
  SimMessage message;
  message.ref = 900;
  message.msgType = 5;
  message.callId = 1;
  message.networkCallId = 2;
  message.nodeId = 3;
  message.heldCallId = 4;
  message.callRef = -5;
  message.items[0] = u"first";
  message.items[9] = u"last";
  std::string why;
  ASSERT_TRUE(exchange_->send(std::nullopt, message, why)) << why;
  MessageRecord record{};
  MessageData data{};
  const ExchangeResult result = client_.Zem_GetMessageBridge(context, 0, &record, &data);
  ASSERT_TRUE(result.succeeded()) << result.status.toString();
  EXPECT_EQ(record.MsgReferenceId, 900);
  EXPECT_EQ(record.MsgProviderId, 31);
  EXPECT_EQ(record.MsgType, 5);
  EXPECT_EQ(record.Call.CallId, 1);
  EXPECT_EQ(record.Call.NetworkCallId, 2);
  EXPECT_EQ(record.Call.NodeId, 3);
  EXPECT_EQ(record.Call.HeldCallId, 4);
  EXPECT_EQ(record.Call.ReservedCallReference, -5);
  EXPECT_EQ(slotText(data.Strings[0]), u"first");
  EXPECT_EQ(slotText(data.Strings[5]), u"");
  EXPECT_EQ(slotText(data.Strings[9]), u"last");

  // Nothing more queued: the hold ends with the idle result.
  EXPECT_EQ(client_.Zem_GetMessageBridge(context, 0, &record, &data).value, 1);
}

}  // namespace
