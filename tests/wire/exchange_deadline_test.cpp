// Each call of the exchange client ends at its one deadline whatever the
// server does with its bytes: a table of server behaviours (an answer at a
// trickle, a call taken and never answered, an answer cut off midway, a
// bind never answered) against every call, with the simulator's own fault
// modes. Deadlines are short here; the library's are in exchange_client.h.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "provider/exchange/exchange_client.h"
#include "provider/exchange/exchange_text.h"
#include "rpc/server.h"
#include "tools/exchange_sim/sim_exchange.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDeadlineMs = 300;
// Room for a loaded machine, sanitizers and Wine; every behaviour below
// would hold a call for seconds (or for ever) past its deadline otherwise.
constexpr auto kSlack = std::chrono::milliseconds(2000);

enum class Call { Register, DeRegister, Fetch, Complete, KeepAlive };

const char* nameOf(Call call) {
  switch (call) {
    case Call::Register: return "registerProvider";
    case Call::DeRegister: return "deRegisterProvider";
    case Call::Fetch: return "Zem_GetMessageBridge";
    case Call::Complete: return "sendCompletion";
    case Call::KeepAlive: return "keepAlive";
  }
  return "?";
}

ExchangeOp opOf(Call call) {
  switch (call) {
    case Call::Register: return ExchangeOp::RegisterProvider;
    case Call::DeRegister: return ExchangeOp::DeRegisterProvider;
    case Call::Fetch: return ExchangeOp::GetMessageBridge;
    case Call::Complete: return ExchangeOp::SendCompletion;
    case Call::KeepAlive: return ExchangeOp::KeepAlive;
  }
  return ExchangeOp::KeepAlive;
}

ExchangeDeadlines shortDeadlines() {
  ExchangeDeadlines deadlines;
  deadlines.registerMs = deadlines.deRegisterMs = deadlines.fetchMs = deadlines.completionMs = deadlines.keepAliveMs =
      kDeadlineMs;
  return deadlines;
}

rpc::ClientOptions shortOptions() {
  rpc::ClientOptions options;
  options.connectTimeoutMs = kDeadlineMs;
  return options;
}

struct Outcome {
  ExchangeResult result;
  Clock::duration took{};
};

class DeadlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = std::tmpfile();
    events_ = std::make_unique<EventStream>(sink_);
    SimOptions options;
    options.holdMs = 5000;
    exchange_ = std::make_shared<SimExchange>(*events_, options);
    server_.addInterface(std::make_shared<ExchangeDispatcher>(exchange_));
    ASSERT_TRUE(server_.start().isOk());
  }
  void TearDown() override {
    exchange_->stop();
    server_.stop();
    std::fclose(sink_);
  }

  std::unique_ptr<ExchangeClient> newClient() {
    auto client = std::make_unique<ExchangeClient>(shortOptions(), shortDeadlines());
    EXPECT_TRUE(client->bind("ncacn_ip_tcp:127.0.0.1[" + std::to_string(server_.port()) + "]").isOk());
    return client;
  }

  static ExchangeResult registerWith(ExchangeClient& client, int32_t id, ProviderContext& context) {
    return client.registerProvider(&context, id, vendorProviderNames(), defaultRegistrationFlags());
  }

  // A message waiting for provider id, so that a fetch answers at once.
  void queueMessageFor(int32_t id) {
    SimMessage message;
    message.ref = id;
    message.items[0] = u"waiting";
    std::string why;
    ASSERT_TRUE(exchange_->send(id, message, why)) << why;
  }

  static Outcome run(ExchangeClient& client, Call call, int32_t id, ProviderContext& context) {
    const auto started = Clock::now();
    Outcome outcome;
    MessageRecord record{};
    MessageData data{};
    switch (call) {
      case Call::Register: outcome.result = registerWith(client, id, context); break;
      case Call::DeRegister: outcome.result = client.deRegisterProvider(&context); break;
      case Call::Fetch: outcome.result = client.Zem_GetMessageBridge(context, 0, &record, &data); break;
      case Call::Complete: outcome.result = client.sendCompletion(context, record, data); break;
      case Call::KeepAlive: outcome.result = client.keepAlive(context); break;
    }
    outcome.took = Clock::now() - started;
    return outcome;
  }

  static void expectPastDeadline(const Outcome& outcome, rpc::StatusCode code = rpc::StatusCode::Timeout) {
    EXPECT_EQ(outcome.result.status.code(), code) << outcome.result.status.toString();
    EXPECT_GE(outcome.took, std::chrono::milliseconds(kDeadlineMs - 5));
    EXPECT_LT(outcome.took, std::chrono::milliseconds(kDeadlineMs) + kSlack);
  }

  std::FILE* sink_ = nullptr;
  std::unique_ptr<EventStream> events_;
  std::shared_ptr<SimExchange> exchange_;
  rpc::Server server_;
};

TEST_F(DeadlineTest, EveryCallEndsAtItsDeadlineWhateverTheServerDoesWithItsAnswer) {
  struct Behaviour {
    const char* name;
    Injection injection;
  };
  Injection trickle;  // every answer here would take seconds at this pace, with news every 50 ms
  trickle.kind = Injection::Kind::Trickle;
  trickle.bytesPerSecond = 20;
  Injection mute;
  mute.kind = Injection::Kind::Mute;
  Injection cutOff;  // the header arrives in part, then nothing
  cutOff.kind = Injection::Kind::Mute;
  cutOff.afterBytes = 10;
  Injection cutAfterHeader;  // a whole header that promises more than comes
  cutAfterHeader.kind = Injection::Kind::Mute;
  cutAfterHeader.afterBytes = 20;
  const Behaviour behaviours[] = {
      {"trickle", trickle}, {"mute", mute}, {"mute mid-header", cutOff}, {"mute mid-answer", cutAfterHeader}};
  const Call calls[] = {Call::Register, Call::DeRegister, Call::Fetch, Call::Complete, Call::KeepAlive};

  int32_t nextId = 100;
  for (const Behaviour& behaviour : behaviours) {
    SCOPED_TRACE(behaviour.name);
    // The five calls meet the behaviour at once, each of its own provider.
    struct Case {
      Call call = Call::Register;
      int32_t id = 0;
      std::unique_ptr<ExchangeClient> client;
      ProviderContext context{};
      std::future<Outcome> outcome;
    };
    std::vector<Case> cases;
    for (Call call : calls) {
      Case& c = cases.emplace_back();
      c.call = call;
      c.id = nextId++;
      c.client = newClient();
      if (call != Call::Register) {
        ASSERT_TRUE(registerWith(*c.client, c.id, c.context).succeeded());
      }
      if (call == Call::Fetch) queueMessageFor(c.id);
      Injection injection = behaviour.injection;
      injection.providerId = c.id;
      exchange_->inject(opOf(call), injection, 1);
    }
    for (Case& c : cases)
      c.outcome = std::async(std::launch::async, [&c] { return run(*c.client, c.call, c.id, c.context); });
    for (Case& c : cases) {
      SCOPED_TRACE(nameOf(c.call));
      expectPastDeadline(c.outcome.get());
      // The connection that timed out is gone: the client's next call goes
      // out on another and gets its own answer, not the rest of this one.
      ProviderContext again{};
      const ExchangeResult next = registerWith(*c.client, c.id + 1000, again);
      EXPECT_TRUE(next.succeeded()) << next.status.toString();
    }
  }
}

TEST_F(DeadlineTest, ABindThatIsNeverAnsweredEndsAtTheCallsDeadline) {
  Injection mute;
  mute.kind = Injection::Kind::Mute;
  Injection trickle;
  trickle.kind = Injection::Kind::Trickle;
  trickle.bytesPerSecond = 20;
  for (const Injection& injection : {mute, trickle}) {
    // The first call of a binding opens its first connection.
    auto client = newClient();
    exchange_->injectBind(injection, 1);
    ProviderContext context{};
    expectPastDeadline(run(*client, Call::Register, 7, context));
  }

  // A keepAlive beside a held fetch opens a connection of its own.
  auto client = newClient();
  ProviderContext context{};
  ASSERT_TRUE(registerWith(*client, 8, context).succeeded());
  rpc::Cancellation cancelFetch;
  auto fetch = std::async(std::launch::async, [&] {
    MessageRecord record{};
    MessageData data{};
    return client->Zem_GetMessageBridge(context, 0, &record, &data, &cancelFetch, 60000);
  });
  const auto held = Clock::now() + std::chrono::seconds(10);
  while (exchange_->heldFetches() == 0 && Clock::now() < held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(exchange_->heldFetches(), 1);
  exchange_->injectBind(mute, 1);
  expectPastDeadline(run(*client, Call::KeepAlive, 8, context));
  cancelFetch.cancel();
  EXPECT_EQ(fetch.get().status.code(), rpc::StatusCode::Cancelled);
}

TEST_F(DeadlineTest, ASlowAnswerWithinTheDeadlineIsServed) {
  auto client = newClient();
  ProviderContext context{};
  ASSERT_TRUE(registerWith(*client, 9, context).succeeded());
  // 26 bytes at 400 bytes per second: a little over 60 ms in pieces of 20.
  Injection slow;
  slow.kind = Injection::Kind::Trickle;
  slow.bytesPerSecond = 400;
  exchange_->inject(ExchangeOp::KeepAlive, slow, 1);
  const Outcome outcome = run(*client, Call::KeepAlive, 9, context);
  EXPECT_TRUE(outcome.result.succeeded()) << outcome.result.status.toString();
  EXPECT_GE(outcome.took, std::chrono::milliseconds(50));
}

}  // namespace
