// exchange-sim as other programs see it: the process, its JSON lines, and
// the exchange interface on its port.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <deque>

#include "provider/exchange/exchange_client.h"
#include "provider/exchange/exchange_text.h"
#include "support/exchange_simulator.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

using Simulator = zem::test::ExchangeSimulator;

struct Session {
  explicit Session(Simulator& sim, int32_t id = 77, ExchangeDeadlines deadlines = {}) : client({}, deadlines) {
    EXPECT_TRUE(client.bind(sim.binding()).isOk());
    const ExchangeResult result =
        client.registerProvider(&context, id, vendorProviderNames(), defaultRegistrationFlags());
    EXPECT_TRUE(result.succeeded()) << result.status.toString();
  }
  ExchangeClient client;
  ProviderContext context{};
};

// Deadlines short enough that a call the simulator never answers ends soon.
ExchangeDeadlines shortDeadlines() {
  ExchangeDeadlines deadlines;
  deadlines.registerMs = deadlines.deRegisterMs = deadlines.fetchMs = deadlines.completionMs = deadlines.keepAliveMs = 400;
  return deadlines;
}

std::string contextText(const ProviderContext& context) { return context.toHandle().uuid.toString(); }

TEST(ExchangeSim, HelpAndBadOptions) {
  const auto help = zem::test::runProcess({EXCHANGE_SIM, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--hold-ms"), std::string::npos);
  EXPECT_EQ(zem::test::runProcess({EXCHANGE_SIM, "--port", "70000"}).exitCode, 2);
  EXPECT_EQ(zem::test::runProcess({EXCHANGE_SIM, "--bogus"}).exitCode, 2);
}

TEST(ExchangeSim, ServesAllFiveProceduresAndReportsEachAsAnEvent) {
  Simulator sim({"--hold-ms", "2000"});
  ASSERT_NE(sim.port(), 0);
  Session session(sim, 4711);
  json event = sim.next("registered");
  ASSERT_FALSE(event.is_null());
  EXPECT_EQ(event["providerId"], 4711);
  EXPECT_EQ(event["context"], contextText(session.context));
  EXPECT_EQ(event["names"], json::array({"Brasken", "Brasken"}));
  EXPECT_EQ(event["flags"], json::array({1, 1}));

  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 500}, {"callId", 1}, {"networkCallId", 2},
               {"nodeId", 3}, {"heldCallId", 4}, {"callRef", 5}, {"items", {"one", "", "K\u00f6ln"}}});
  MessageRecord record{};
  MessageData data{};
  ExchangeResult result = session.client.Zem_GetMessageBridge(session.context, 0, &record, &data);
  ASSERT_TRUE(result.succeeded()) << result.status.toString();
  EXPECT_EQ(record.MsgReferenceId, 500);
  EXPECT_EQ(record.MsgProviderId, 4711);
  EXPECT_EQ(record.MsgType, 1);
  EXPECT_EQ(record.Call.ReservedCallReference, 5);
  EXPECT_EQ(slotText(data.Strings[2]), u"K\u00f6ln");
  EXPECT_EQ(sim.next("delivered")["ref"], 500);

  MessageRecord completion{};
  completion.MsgReferenceId = 500;
  MessageData items{};
  std::u16string units;
  utf8ToUtf16("r\u00e9ponse", units);
  std::copy(units.begin(), units.end(), items.Strings[0]);
  const std::u16string eighty(80, u'z');
  std::copy(eighty.begin(), eighty.end(), items.Strings[9]);
  ASSERT_TRUE(session.client.sendCompletion(session.context, completion, items).succeeded());
  event = sim.next("completion");
  EXPECT_EQ(event["ref"], 500);
  EXPECT_EQ(event["items"], json::array({"r\u00e9ponse", "", "", "", "", "", "", "", "", std::string(80, 'z')}));

  ASSERT_TRUE(session.client.keepAlive(session.context).succeeded());
  EXPECT_EQ(sim.next("keepalive")["providerId"], 4711);

  const std::string text = contextText(session.context);
  ASSERT_TRUE(session.client.deRegisterProvider(&session.context).succeeded());
  EXPECT_TRUE(session.context.isNull());
  EXPECT_EQ(sim.next("deregistered")["context"], text);
}

TEST(ExchangeSim, AnInfoMessageAndARawTypeTravelAsTold) {
  Simulator sim;
  Session session(sim);
  sim.command({{"cmd", "send"}, {"type", "info"}, {"ref", 1}});
  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 2}, {"msgType", 5}});
  MessageRecord record{};
  MessageData data{};
  ASSERT_TRUE(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).succeeded());
  EXPECT_EQ(record.MsgType, 0);
  for (const auto& slot : data.Strings) EXPECT_EQ(slotText(slot), u"") << "ten empty strings";
  ASSERT_TRUE(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).succeeded());
  EXPECT_EQ(record.MsgType, 5);
}

TEST(ExchangeSim, AFetchWithNothingQueuedHoldsThenAnswersTheIdleResult) {
  Simulator sim({"--hold-ms", "300", "--idle-result", "7"});
  Session session(sim);
  MessageRecord record{};
  MessageData data{};
  const auto started = Clock::now();
  const ExchangeResult result = session.client.Zem_GetMessageBridge(session.context, 0, &record, &data);
  EXPECT_TRUE(result.status.isOk());
  EXPECT_EQ(result.value, 7);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(250));

  // A message that arrives during the hold is delivered at once.
  Simulator longHold({"--hold-ms", "20000"});
  Session held(longHold);
  longHold.next("registered");
  // The message is sent 200 ms into the hold: that delay is the situation
  // under test, not a wait for something.
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    longHold.command({{"cmd", "send"}, {"type", "request"}, {"ref", 9}});
  });
  const auto holdStarted = Clock::now();
  const ExchangeResult delivered = held.client.Zem_GetMessageBridge(held.context, 0, &record, &data);
  const auto took = Clock::now() - holdStarted;
  sender.join();
  EXPECT_TRUE(delivered.succeeded());
  EXPECT_EQ(record.MsgReferenceId, 9);
  EXPECT_GE(took, std::chrono::milliseconds(150));
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(ExchangeSim, InjectsEveryKindOfFailure) {
  Simulator sim({"--hold-ms", "100"});
  Session session(sim);
  MessageRecord record{};
  MessageData data{};

  sim.command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1005}, {"count", 2}});
  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 3}});
  EXPECT_EQ(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).value, 1005);
  EXPECT_EQ(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).value, 1005);
  EXPECT_TRUE(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).succeeded())
      << "after count calls the procedure works again, and the message was kept";

  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"action", "fault"}});
  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"action", "fault"}, {"status", 0x1C00001B}});
  ExchangeResult result = session.client.keepAlive(session.context);
  EXPECT_EQ(result.status.faultStatus(), 0x1C000021u);
  EXPECT_EQ(session.client.keepAlive(session.context).status.faultStatus(), 0x1C00001Bu);

  sim.command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"action", "drop"}});
  result = session.client.sendCompletion(session.context, record, data);
  EXPECT_EQ(result.status.code(), rpc::StatusCode::ConnectionClosed);
  // That was the association's only connection: the registration is gone,
  // and the client knows it without asking.
  EXPECT_FALSE(sim.next("rundown").is_null());
  EXPECT_EQ(session.client.keepAlive(session.context).status.code(), rpc::StatusCode::GroupEnded);
  ASSERT_TRUE(session.client
                  .registerProvider(&session.context, 77, vendorProviderNames(), defaultRegistrationFlags())
                  .succeeded());

  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"action", "delay"}, {"ms", 300}});
  const auto started = Clock::now();
  EXPECT_TRUE(session.client.keepAlive(session.context).succeeded());
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(250));

  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"result", 1004}});
  EXPECT_EQ(session.client.keepAlive(session.context).value, 1004);

  sim.command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1003}});
  ProviderContext refused{};
  result = session.client.registerProvider(&refused, 8, vendorProviderNames(), defaultRegistrationFlags());
  EXPECT_EQ(result.value, 1003);
  EXPECT_TRUE(refused.isNull());

  sim.command({{"cmd", "fail"}, {"proc", "deRegisterProvider"}, {"result", 1004}});
  ProviderContext copy = session.context;
  EXPECT_EQ(session.client.deRegisterProvider(&copy).value, 1004);
  EXPECT_FALSE(copy.isNull()) << "a refused de-registration keeps the context";
}

TEST(ExchangeSim, AnswersAtATrickleInPartOrNeverWhenTold) {
  Simulator sim({"--hold-ms", "100"});
  {
    // 26 bytes at 200 bytes per second, in pieces of ten: whole, and late.
    Session session(sim, 5, shortDeadlines());
    ASSERT_EQ(sim.next("registered").value("providerId", 0), 5);
    sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"action", "trickle"}, {"rate", 200}, {"providerId", 5}});
    const auto started = Clock::now();
    EXPECT_TRUE(session.client.keepAlive(session.context).succeeded());
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(90));
    EXPECT_EQ(sim.next("injected"),
              json({{"event", "injected"}, {"proc", "keepAlive"}, {"providerId", 5}, {"action", "trickle"}, {"rate", 200}}));
  }
  {
    // Taken and never answered: the call ends at its deadline, and with its
    // connection (the only one) the registration.
    Session session(sim, 6, shortDeadlines());
    ASSERT_EQ(sim.next("registered").value("providerId", 0), 6);
    sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"action", "mute"}});
    EXPECT_EQ(session.client.keepAlive(session.context).status.code(), rpc::StatusCode::Timeout);
    EXPECT_EQ(sim.next("injected"), json({{"event", "injected"}, {"proc", "keepAlive"}, {"providerId", 6}, {"action", "mute"}}));
    EXPECT_FALSE(sim.next("rundown").is_null());
  }
  {
    // Worked, then five bytes of the answer: the completion is recorded.
    Session session(sim, 7, shortDeadlines());
    ASSERT_EQ(sim.next("registered").value("providerId", 0), 7);
    sim.command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"action", "mute"}, {"after", 5}});
    MessageRecord record{};
    record.MsgReferenceId = 44;
    EXPECT_EQ(session.client.sendCompletion(session.context, record, MessageData{}).status.code(),
              rpc::StatusCode::Timeout);
    EXPECT_EQ(sim.next("injected"), json({{"event", "injected"},
                                          {"proc", "sendCompletion"},
                                          {"providerId", 7},
                                          {"action", "mute"},
                                          {"after", 5},
                                          {"ref", 44}}));
    EXPECT_EQ(sim.next("completion").value("ref", 0), 44);
  }
  {
    // A bind never answered holds the first call of a binding.
    sim.command({{"cmd", "fail"}, {"proc", "bind"}, {"action", "mute"}});
    ExchangeClient client({}, shortDeadlines());
    ASSERT_TRUE(client.bind(sim.binding()).isOk());
    ProviderContext context{};
    EXPECT_EQ(client.registerProvider(&context, 8, vendorProviderNames(), defaultRegistrationFlags()).status.code(),
              rpc::StatusCode::Timeout);
    EXPECT_EQ(sim.next("injected"), json({{"event", "injected"}, {"proc", "bind"}, {"action", "mute"}}));
    EXPECT_TRUE(sim.next("registered", 200).is_null());
  }
  {
    // A refusal that still brings a context.
    sim.command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1004}, {"served", true}});
    ExchangeClient client;
    ASSERT_TRUE(client.bind(sim.binding()).isOk());
    ProviderContext context{};
    EXPECT_EQ(client.registerProvider(&context, 9, vendorProviderNames(), defaultRegistrationFlags()).value, 1004);
    EXPECT_FALSE(context.isNull());
    EXPECT_EQ(sim.next("registered").value("providerId", 0), 9);
  }
}

TEST(ExchangeSim, RunsDownARegistrationWhoseConnectionsAllClosed) {
  Simulator sim;
  std::string text;
  {
    Session session(sim, 12);
    text = contextText(session.context);
    ASSERT_TRUE(session.client.keepAlive(session.context).succeeded());
  }  // the client goes away without de-registering
  const json event = sim.next("rundown");
  ASSERT_FALSE(event.is_null());
  EXPECT_EQ(event["providerId"], 12);
  EXPECT_EQ(event["context"], text);
}

TEST(ExchangeSim, MessagesGoToTheAddressedRegistration) {
  Simulator sim({"--hold-ms", "100"});
  Session first(sim, 1);
  Session second(sim, 2);
  sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", 10}, {"providerId", 2}});
  MessageRecord record{};
  MessageData data{};
  EXPECT_FALSE(first.client.Zem_GetMessageBridge(first.context, 0, &record, &data).succeeded());
  ASSERT_TRUE(second.client.Zem_GetMessageBridge(second.context, 0, &record, &data).succeeded());
  EXPECT_EQ(record.MsgReferenceId, 10);
}

TEST(ExchangeSim, AFailureAimedAtOneProviderSparesTheOthersAndIsReported) {
  Simulator sim({"--hold-ms", "100"});
  Session first(sim, 1);
  Session second(sim, 2);
  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"result", 1004}, {"providerId", 2}});
  sim.command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"action", "fault"}, {"providerId", 1}});
  EXPECT_TRUE(first.client.keepAlive(first.context).succeeded());
  EXPECT_EQ(second.client.keepAlive(second.context).value, 1004);
  EXPECT_EQ(sim.next("injected"), json({{"event", "injected"}, {"proc", "keepAlive"}, {"providerId", 2}, {"result", 1004}}));

  MessageRecord record{};
  record.MsgReferenceId = 33;
  const MessageData data{};
  EXPECT_TRUE(second.client.sendCompletion(second.context, record, data).succeeded());
  EXPECT_EQ(first.client.sendCompletion(first.context, record, data).status.code(), rpc::StatusCode::Fault);
  EXPECT_EQ(sim.next("injected"), json({{"event", "injected"},
                                        {"proc", "sendCompletion"},
                                        {"providerId", 1},
                                        {"action", "fault"},
                                        {"status", 0x1C000021},
                                        {"ref", 33}}));
  EXPECT_TRUE(sim.next("injected", 200).is_null()) << "each injected failure is reported once";
}

TEST(ExchangeSim, ReportsWhatItRefuses) {
  Simulator sim;
  const char* bad[] = {
      "not json",
      R"({"cmd":"dance"})",
      R"({"cmd":"send","type":"request","ref":1})",  // nobody registered
      R"({"cmd":"send","type":"maybe"})",
      R"({"cmd":"send","type":"info","items":["a","b","c","d","e","f","g","h","i","j","k"]})",
      R"({"cmd":"fail","proc":"nothing","result":1})",
      R"({"cmd":"fail","proc":"keepAlive","action":"explode"})",
      R"({"cmd":"fail","proc":"keepAlive"})",
      R"({"cmd":"fail","proc":"keepAlive","action":"trickle"})",       // no rate
      R"({"cmd":"fail","proc":"keepAlive","action":"trickle","rate":0})",
      R"({"cmd":"fail","proc":"bind","result":1})",                    // a bind has no result
      R"({"cmd":"fail","proc":"bind","action":"mute","providerId":3})",  // nor a provider
      R"({"cmd":"fail","proc":"keepAlive","action":"fault","served":true})",
  };
  for (const char* line : bad) {
    sim.process().writeLine(line);
    const json event = sim.next("error");
    ASSERT_FALSE(event.is_null()) << line;
    EXPECT_FALSE(event["reason"].get<std::string>().empty());
  }
  Session session(sim);
  sim.command({{"cmd", "send"}, {"type", "info"}, {"items", {std::string(81, 'x')}}});
  EXPECT_FALSE(sim.next("error").is_null()) << "an item of 81 characters";
}

TEST(ExchangeSim, GeneratesTrafficOnceAProviderRegistered) {
  Simulator sim({"--generate", "5", "--rate", "0", "--info-share", "0.4", "--item", "gen {ref}", "--first-ref", "100",
                 "--hold-ms", "100"});
  Session session(sim);
  int infos = 0;
  for (int i = 0; i < 5; ++i) {
    MessageRecord record{};
    MessageData data{};
    ASSERT_TRUE(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).succeeded()) << i;
    EXPECT_EQ(record.MsgReferenceId, 100 + i);
    EXPECT_EQ(wireStringToNarrow(data.Strings[0]), "gen " + std::to_string(100 + i));
    if (record.MsgType == 0) ++infos;
  }
  EXPECT_EQ(infos, 2);
  EXPECT_EQ(sim.next("generated")["count"], 5);
}

TEST(ExchangeSim, ReportsTheRateItKeptWhileGenerating) {
  Simulator sim({"--generate", "20", "--rate", "400", "--quiet"});
  Session session(sim);
  const json generated = sim.next("generated");
  ASSERT_FALSE(generated.is_null());
  EXPECT_EQ(generated["count"], 20);
  const json& late = generated["lateUs"];
  EXPECT_GE(late["p50"].get<int64_t>(), 0) << "nothing goes out before it is due";
  EXPECT_GE(late["p99"], late["p50"]);
  EXPECT_GE(late["max"], late["p99"]);
  // 19 intervals of 2.5 ms at least, less what the first message was late.
  const double seconds = generated["seconds"].get<double>();
  EXPECT_GE(seconds, 19 / 400.0 - late["max"].get<double>() / 1e6);
  EXPECT_NEAR(generated["ratePerSecond"].get<double>(), 19 / seconds, 1e-6 * 19 / seconds);
}

TEST(ExchangeSim, StatsCountAnsweredAndWaitingMessages) {
  Simulator sim({"--hold-ms", "100", "--quiet"});
  Session session(sim);
  for (int ref : {1, 2, 3}) sim.command({{"cmd", "send"}, {"type", "request"}, {"ref", ref}});
  for (int ref : {1, 2}) {
    MessageRecord record{};
    MessageData data{};
    ASSERT_TRUE(session.client.Zem_GetMessageBridge(session.context, 0, &record, &data).succeeded());
    ASSERT_EQ(record.MsgReferenceId, ref);
  }
  MessageRecord completion{};
  completion.MsgReferenceId = 1;
  ASSERT_TRUE(session.client.sendCompletion(session.context, completion, MessageData{}).succeeded());

  sim.process().writeLine(R"({"cmd":"stats"})");
  const json stats = sim.next("stats");
  ASSERT_FALSE(stats.is_null());
  EXPECT_EQ(stats["completions"], 1);
  EXPECT_EQ(stats["open"], 2) << "one delivered and one still queued, both unanswered";
  // The answered ones count there too, beside the waiting ones' ages.
  EXPECT_GE(stats["withOpenUs"]["max"], stats["latencyUs"]["max"]);
  EXPECT_GE(stats["spanUs"], stats["latencyUs"]["max"]) << "from the first queueing to the last completion";
}

TEST(ExchangeSim, QuitsAtTheEndOfItsInput) {
  zem::test::ChildProcess process({EXCHANGE_SIM, "--port", "0"});
  std::string line;
  ASSERT_TRUE(process.readLine(line, 10000));
  process.closeInput();
  EXPECT_EQ(process.wait(), 0);
}

}  // namespace
