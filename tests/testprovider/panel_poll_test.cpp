// The poll against exchange-sim: what each kind of message does to the
// window, the members and the counters; registration and de-registration;
// and what the operator is told when something fails.
#include "testprovider/panel_fixture.h"

namespace rigbench::test {
namespace {

std::vector<QString> texts(const std::vector<ControlTable::Message>& messages) {
  std::vector<QString> out;
  for (const auto& message : messages) out.push_back(message.caption + QStringLiteral(": ") + message.text);
  return out;
}

TEST_F(PanelTest, RequestIsShownCountedAndItsServerIdTaken) {
  startSimulator();
  connectAndRegister();
  // The registration event blanks the fields and resets the ids.
  EXPECT_EQ(view_.text(kRegisterButton), QStringLiteral("UnRegister"));
  for (int id : kReceivedParameterEdits) EXPECT_EQ(view_.text(id), QStringLiteral(" "));
  for (int id : {kCallIdEdit, kHeldCallIdEdit, kNetworkCallIdEdit, kNodeIdEdit, kReceivedServerRequestIdEdit,
                 kAnswerServerRequestIdEdit}) {
    EXPECT_EQ(view_.text(id), QStringLiteral("0"));
  }

  send(31, {"a", "", "c", "d", "e", "f", "g", "h", "i", "j"}, "request",
       {{"callId", 11}, {"heldCallId", -12}, {"networkCallId", 13}, {"nodeId", 14}});
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 1; }));
  const char* expected[] = {"a", "", "c", "d", "e", "f", "g", "h", "i", "j"};
  for (int k = 0; k < kParameterCount; ++k) {
    EXPECT_EQ(view_.text(kReceivedParameterEdits[k]), QString::fromLatin1(expected[k])) << k;
  }
  EXPECT_EQ(view_.text(kCallIdEdit), QStringLiteral("11"));
  EXPECT_EQ(view_.text(kHeldCallIdEdit), QStringLiteral("-12"));
  EXPECT_EQ(view_.text(kNetworkCallIdEdit), QStringLiteral("13"));
  EXPECT_EQ(view_.text(kNodeIdEdit), QStringLiteral("14"));
  EXPECT_EQ(view_.text(kReceivedServerRequestIdEdit), QStringLiteral("31"));
  EXPECT_EQ(view_.text(kAnswerServerRequestIdEdit), QStringLiteral("31"));
  EXPECT_EQ(panel_.members().answerServerRequestId, 31u);

  // Without "Automatic Response" nothing is answered; the next request's
  // completion is the first the simulator sees.
  click(kAutomaticCheck);
  EXPECT_FALSE(view_.isEnabled(kAnswerServerRequestIdEdit));
  send(32, {"only"});
  EXPECT_EQ(awaitSim("completion")["ref"], 32);
  // A request with fewer items empties the fields it has no item for.
  EXPECT_EQ(view_.text(kReceivedParameterEdits[0]), QStringLiteral("only"));
  EXPECT_EQ(view_.text(kReceivedParameterEdits[2]), QString());
  EXPECT_TRUE(view_.messages().empty());
}

TEST_F(PanelTest, InformationalMessagesAreShownAndCountedButNeverAnswered) {
  startSimulator();
  connectAndRegister();
  click(kAutomaticCheck);
  send(5, {"first"});
  ASSERT_EQ(awaitSim("completion")["ref"], 5);

  send(6, {"note", "more"}, "info", {{"callId", 66}});
  ASSERT_TRUE(waitUntil([&] { return panel_.members().infosReceived == 1; }));
  EXPECT_EQ(view_.text(kReceivedParameterEdits[0]), QStringLiteral("note"));
  EXPECT_EQ(view_.text(kReceivedParameterEdits[1]), QStringLiteral("more"));
  EXPECT_EQ(view_.text(kCallIdEdit), QStringLiteral("66"));
  // Both server request ids keep the request's.
  EXPECT_EQ(view_.text(kReceivedServerRequestIdEdit), QStringLiteral("5"));
  EXPECT_EQ(view_.text(kAnswerServerRequestIdEdit), QStringLiteral("5"));
  EXPECT_EQ(panel_.members().requestsReceived, 1);

  send(7);
  EXPECT_EQ(awaitSim("completion")["ref"], 7);
  EXPECT_TRUE(awaitSim("completion", 300).is_null());
}

TEST_F(PanelTest, CountersChangeOnScreenOnlyThroughTheirButtons) {
  startSimulator();
  connectAndRegister();
  send(1);
  send(2);
  send(3, {}, "info");
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 2 && panel_.members().infosReceived == 1; }));
  EXPECT_EQ(view_.text(kRequestsShownEdit), QStringLiteral("0"));
  EXPECT_EQ(view_.text(kInfosShownEdit), QStringLiteral("0"));

  panel_.refreshRequests();
  panel_.refreshInfos();
  EXPECT_EQ(view_.text(kRequestsShownEdit), QStringLiteral("2"));
  EXPECT_EQ(view_.text(kInfosShownEdit), QStringLiteral("1"));

  panel_.resetRequests();
  EXPECT_EQ(view_.text(kRequestsShownEdit), QStringLiteral("0"));
  send(4);
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 1; }));
  panel_.refreshRequests();
  panel_.refreshInfos();
  EXPECT_EQ(view_.text(kRequestsShownEdit), QStringLiteral("1"));
  EXPECT_EQ(view_.text(kInfosShownEdit), QStringLiteral("1"));
  panel_.resetInfos();
  EXPECT_EQ(panel_.members().infosReceived, 0);
  EXPECT_EQ(view_.text(kInfosShownEdit), QStringLiteral("0"));
}

TEST_F(PanelTest, TheWindowTakesOneMessageAWakeAndTheHeadlessModeAllThatWait) {
  startSimulator();
  connectAndRegister();
  // The event loop does not run here, so the poll timer stays quiet. The
  // pump fetches in order: once the last message was delivered, those
  // before it are in the library's queue.
  const auto queueMessages = [&](int firstRef, int lastRef) {
    for (int ref = firstRef; ref <= lastRef; ++ref) send(ref);
    for (json delivered; delivered.is_null() || delivered["ref"] != lastRef;) {
      delivered = sim_->next("delivered");
      ASSERT_FALSE(delivered.is_null());
    }
  };
  queueMessages(1, 3);
  panel_.pollWake();
  EXPECT_EQ(panel_.members().requestsReceived, 1);
  panel_.pollWake();
  EXPECT_EQ(panel_.members().requestsReceived, 2);

  panel_.setTakeAllPerWake(true);
  queueMessages(4, 10);
  panel_.pollWake();
  EXPECT_GE(panel_.members().requestsReceived, 9) << "the one left from before and 4 to 9 at least";
  EXPECT_EQ(view_.text(kReceivedServerRequestIdEdit).toInt(), panel_.members().requestsReceived);
}

TEST_F(PanelTest, DeRegistrationKeepsThePollRunning) {
  startSimulator();
  connectAndRegister(12);
  ASSERT_TRUE(panel_.registerOrDeregister());
  ASSERT_TRUE(waitUntil([&] { return !panel_.members().registered; }));
  EXPECT_EQ(view_.text(kRegisterButton), QStringLiteral("Register"));
  EXPECT_FALSE(awaitSim("deregistered").is_null());
  EXPECT_TRUE(panel_.isPolling());

  // Registering again works from the same window.
  ASSERT_TRUE(panel_.registerOrDeregister());
  ASSERT_TRUE(waitUntil([&] { return panel_.members().registered; }));
  EXPECT_EQ(awaitSim("registered")["providerId"], 12);
  EXPECT_TRUE(view_.messages().empty());
}

TEST_F(PanelTest, RegistrationIdsOutsideTheRangeAreRefusedBeforeAnythingIsSent) {
  startSimulator();
  view_.setText(kServerAddressEdit, QStringLiteral("127.0.0.1"));
  ASSERT_TRUE(panel_.connectToServer());
  EXPECT_TRUE(view_.isEnabled(kRegisterButton));
  EXPECT_EQ(view_.text(kRegisterButton), QStringLiteral("Register"));
  for (const char* refused : {"0", "", "2000000000", "9999999999", "-3"}) {
    view_.setText(kRegistrationIdEdit, QString::fromLatin1(refused));
    EXPECT_FALSE(panel_.registerOrDeregister()) << refused;
    EXPECT_EQ(texts(view_.takeMessages()), std::vector<QString>{QStringLiteral("rigbench: Incorrect Registration ID")})
        << refused;
  }
  EXPECT_FALSE(panel_.isPolling());
  EXPECT_TRUE(awaitSim("registered", 300).is_null());

  view_.setText(kRegistrationIdEdit, QStringLiteral("1999999999"));
  ASSERT_TRUE(panel_.registerOrDeregister());
  EXPECT_EQ(awaitSim("registered")["providerId"], 1999999999);
}

TEST_F(PanelTest, ConnectRefusalsAndFailedRequestsAreReported) {
  startSimulator();
  // An address the library cannot make a binding from.
  view_.setText(kServerAddressEdit, QStringLiteral("bad[address"));
  EXPECT_FALSE(panel_.connectToServer());
  EXPECT_FALSE(view_.isEnabled(kRegisterButton));

  view_.setText(kServerAddressEdit, QStringLiteral("127.0.0.1"));
  ASSERT_TRUE(panel_.connectToServer());
  view_.setText(kRegistrationIdEdit, QStringLiteral("8"));
  sim_->command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1004}});
  EXPECT_FALSE(panel_.registerOrDeregister());
  EXPECT_FALSE(panel_.isPolling());

  ASSERT_TRUE(panel_.registerOrDeregister());
  ASSERT_TRUE(waitUntil([&] { return panel_.members().registered; }));
  sim_->command({{"cmd", "fail"}, {"proc", "deRegisterProvider"}, {"result", 1004}});
  EXPECT_FALSE(panel_.registerOrDeregister());
  EXPECT_EQ(texts(view_.takeMessages()),
            (std::vector<QString>{QStringLiteral("rigbench: Unable to connect"), QStringLiteral("rigbench: register FAIL"),
                                  QStringLiteral("rigbench: de-register FAIL")}));
}

TEST_F(PanelTest, APollThatTheLibraryRefusesStopsWithBadEvent) {
  startSimulator();
  connectAndRegister();
  ZemlinkDeInit();  // the library is no longer initialised: Zem_GetEvent answers 13
  ASSERT_TRUE(waitUntil([&] { return !view_.messages().empty(); }));
  EXPECT_EQ(texts(view_.messages()), std::vector<QString>{QStringLiteral("PROBLEM: BAD EVENT")});
  EXPECT_FALSE(panel_.isPolling());
}

// An error event comes from a failed keep-alive, which the library sends
// every 15 seconds: these tests wait up to that long for each.
constexpr int kErrorEventWaitMs = 20000;

void failNextKeepAlive(zem::test::ExchangeSimulator& sim) {
  sim.command({{"cmd", "fail"}, {"proc", "keepAlive"}, {"result", 1004}});
}

TEST_F(PanelTest, ErrorEventWithAutoReconnectRegistersAgainThenReportsAnUnreachableServer) {
  startSimulator();
  connectAndRegister(21);
  click(kAutoReconnectCheck);
  int errors = 0;
  std::vector<int> statuses;
  QObject::connect(&panel_, &ProviderPanel::errorEvent, [&] { ++errors; });
  QObject::connect(&panel_, &ProviderPanel::statusEvent, [&](int status) { statuses.push_back(status); });

  failNextKeepAlive(*sim_);
  ASSERT_TRUE(waitUntil([&] { return errors == 1 && statuses.size() == 2; }, kErrorEventWaitMs));
  EXPECT_EQ(statuses, (std::vector<int>{ZEM_STATUS_DEREGISTERED, ZEM_STATUS_REGISTERED}));
  EXPECT_FALSE(awaitSim("deregistered").is_null());
  EXPECT_EQ(awaitSim("registered")["providerId"], 21);
  EXPECT_TRUE(panel_.isPolling());
  EXPECT_TRUE(view_.messages().empty());
  send(3);
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 1; }));

  // Now the server goes away: the next keep-alive fails, binding again
  // needs no server, registering does.
  sim_->process().kill();
  ASSERT_TRUE(waitUntil([&] { return errors == 2; }, kErrorEventWaitMs));
  EXPECT_EQ(texts(view_.messages()), std::vector<QString>{QStringLiteral("rigbench: register FAIL")});
  EXPECT_FALSE(panel_.isPolling());
}

TEST_F(PanelTest, ErrorEventWithoutAutoReconnectShutsDownAndAnUnusableAddressIsReportedInOrder) {
  startSimulator();
  connectAndRegister(22);
  int errors = 0;
  QObject::connect(&panel_, &ProviderPanel::errorEvent, [&] { ++errors; });
  failNextKeepAlive(*sim_);
  ASSERT_TRUE(waitUntil([&] { return errors == 1; }, kErrorEventWaitMs));
  EXPECT_EQ(texts(view_.takeMessages()), std::vector<QString>{QStringLiteral("rigbench: Server Shutdown!")});
  EXPECT_FALSE(panel_.isPolling());

  // The operator connects and registers again by hand, turns "Auto
  // Reconnect" on and spoils the address: the next error event can neither
  // bind nor register.
  int registrations = 0;
  QObject::connect(&panel_, &ProviderPanel::statusEvent, [&](int status) { registrations += status == 23; });
  ASSERT_TRUE(panel_.connectToServer());
  ASSERT_TRUE(panel_.registerOrDeregister());
  ASSERT_TRUE(waitUntil([&] { return registrations == 1; }));
  click(kAutoReconnectCheck);
  view_.setText(kServerAddressEdit, QStringLiteral("bad[address"));
  failNextKeepAlive(*sim_);
  ASSERT_TRUE(waitUntil([&] { return errors == 2; }, kErrorEventWaitMs));
  EXPECT_EQ(texts(view_.takeMessages()),
            (std::vector<QString>{QStringLiteral("rigbench: Unable to connect"), QStringLiteral("rigbench: register FAIL")}));
  EXPECT_FALSE(view_.isEnabled(kRegisterButton));
}

}  // namespace
}  // namespace rigbench::test
