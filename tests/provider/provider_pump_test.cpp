// The message pump against exchange-sim: requests and informational
// messages into containers, completions back to the server, the queue limit,
// re-registration, and the stop at de-registration.
#include <optional>

#include "container/fail_points.h"

#include "platform/settings/settings_store.h"
#include "provider/provider_settings.h"
#include "provider_fixture.h"

namespace zem::test {
namespace {

using nlohmann::json;

std::vector<std::string> itemsOf(ZemContainerHandle handle) {
  std::vector<std::string> items;
  for (const char* item = Zem_getFirstItem(handle); item != nullptr; item = Zem_getNextItem(handle)) {
    items.emplace_back(item);
  }
  return items;
}

TEST_F(ProviderTest, ARequestIsServedEndToEnd) {
  startSimulator();
  registerWith(4711);
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 500}, {"callId", 11}, {"networkCallId", 12},
                 {"nodeId", 13}, {"heldCallId", 14}, {"callRef", 15}, {"msgType", 5},
                 {"items", {"first", "", "third item"}}});

  Event request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  EXPECT_EQ(request.type(), ZEM_MSG_REQUEST) << "any nonzero wire type is a request";
  EXPECT_EQ(request.status(), ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(request.handle), 500);
  EXPECT_EQ(Zem_getReferenceID(request.handle), 500);
  EXPECT_EQ(Zem_getCallID(request.handle), 11);
  EXPECT_EQ(Zem_getNetworkCallID(request.handle), 12);
  EXPECT_EQ(Zem_getNodeID(request.handle), 13);
  EXPECT_EQ(Zem_getHeldCallID(request.handle), 14);
  EXPECT_EQ(Zem_getCallHandle(request.handle), 15);
  // All ten slots become items, the empty ones too.
  const std::vector<std::string> expected = {"first", "", "third item", "", "", "", "", "", "", ""};
  EXPECT_EQ(itemsOf(request.handle), expected);
  // The pump's trace shows the raw wire type.
  EXPECT_TRUE(trace_.waitFor("\tMsgReferenceId 500, MsgProviderId 4711, CallId 11, NetworkCallId 12, NodeId 13, "
                             "HeldCallId 14, ReservedCallReference 15, MsgType 5 - MsgCounter 0\n"));
  EXPECT_EQ(trace_.count("\t (Message 1, NULL) \n"), 1u);
  EXPECT_EQ(trace_.count("\t (Message 2, third item) \n"), 1u);

  // The completion: the server ID travels in the record, the items in
  // order, an item of 80 characters whole.
  const std::string longest(80, 'x');
  ZemContainerHandle completion = Zem_createDataContainer();
  ASSERT_EQ(Zem_setMessageType(completion, ZEM_MSG_COMPLETION), ZEM_SUCCESS);
  ASSERT_EQ(Zem_setServerID(completion, Zem_getServerID(request.handle)), ZEM_SUCCESS);
  ASSERT_EQ(Zem_setFirstItem(completion, "answer"), ZEM_SUCCESS);
  ASSERT_EQ(Zem_setNextItem(completion, ""), ZEM_SUCCESS);
  ASSERT_EQ(Zem_setNextItem(completion, longest.c_str()), ZEM_SUCCESS);
  ASSERT_EQ(Zem_SendServiceComplete(&completion), ZEM_SUCCESS);
  const json done = sim().next("completion");
  ASSERT_FALSE(done.is_null());
  EXPECT_EQ(done["ref"], 500);
  EXPECT_EQ(done["items"], json::array({"answer", "", longest, "", "", "", "", "", "", ""}));
  EXPECT_TRUE(trace_.waitFor("\t (Message 2, " + longest + ") \n"));

  // The completion stays alive until released; a second release is refused.
  EXPECT_EQ(Zem_getServerID(completion), 500);
  EXPECT_EQ(Zem_ResponseReceived(&completion), ZEM_SUCCESS);
  EXPECT_EQ(completion, 0u);
  EXPECT_EQ(Zem_ResponseReceived(&completion), ZEM_ERROR_BAD_CONTAINER);
  EXPECT_EQ(Zem_ResponseReceived(&request.handle), ZEM_SUCCESS);

  // A completion without items sends ten empty strings.
  completion = Zem_createDataContainer();
  Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
  Zem_setServerID(completion, 501);
  ASSERT_EQ(Zem_SendServiceComplete(&completion), ZEM_SUCCESS);
  const json empty = sim().next("completion");
  EXPECT_EQ(empty["ref"], 501);
  EXPECT_EQ(empty["items"], json::array({"", "", "", "", "", "", "", "", "", ""}));

  // Refused or raising completions give 30 and leave the container alive.
  sim().command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"result", 7}});
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_ERROR_SERVER);
  EXPECT_TRUE(trace_.waitFor("sendCompletion Exception HalcynServer Return\n"));
  sim().command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"action", "fault"}});
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_ERROR_SERVER);
  EXPECT_TRUE(trace_.waitFor("sendCompletion Exception HalcynBridge Return\n"));
  // Without a registration there is no context: the call raises.
  ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_ERROR_SERVER);
  EXPECT_EQ(trace_.count("sendCompletion Exception HalcynBridge Return\n"), 2u);
  EXPECT_EQ(Zem_InfoReceived(&completion), ZEM_SUCCESS);
}

TEST_F(ProviderTest, InformationalMessagesAndTheirRelease) {
  startSimulator();
  registerWith(8);
  sim().command({{"cmd", "send"}, {"type", "info"}, {"ref", 9}, {"items", {"note"}}});
  Event info = poll();
  ASSERT_EQ(info.result, ZEM_SUCCESS);
  EXPECT_EQ(info.type(), ZEM_MSG_INFO);
  EXPECT_EQ(itemsOf(info.handle).front(), "note");
  EXPECT_TRUE(trace_.waitFor("MsgType 0 - MsgCounter 0\n"));
  // The trace line of the hand-over shows the queue after the take.
  EXPECT_TRUE(trace_.waitFor("\tServerID(MsgReferenceId) 9, MsgProviderId 8, CallId 0, NetworkCallId 0, NodeId 0, "
                             "HeldCallId 0, ReservedCallReference 0, MsgType 2 - MsgCounter 0\n\n"));
  EXPECT_EQ(Zem_InfoReceived(&info.handle), ZEM_SUCCESS);
  EXPECT_EQ(info.handle, 0u);
}

TEST_F(ProviderTest, AMessageWhoseItemStoreCannotBeMadeIsLost) {
  startSimulator();
  registerWith(8);
  // The container of the first message is made; its item store is not.
  zem::armFailPoint(zem::FailPoint::Allocation, 1);
  sim().command({{"cmd", "send"}, {"type", "info"}, {"ref", 1}, {"items", {"lost"}}});
  ASSERT_TRUE(trace_.waitFor("\t (Message 0, lost) \n"));
  sim().command({{"cmd", "send"}, {"type", "info"}, {"ref", 2}, {"items", {"kept"}}});
  Event info = poll();
  ASSERT_EQ(info.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(info.handle), 2);
  EXPECT_EQ(itemsOf(info.handle).front(), "kept");
  EXPECT_EQ(Zem_InfoReceived(&info.handle), ZEM_SUCCESS);
  EXPECT_EQ(containers_.table().liveCount(), 0u) << "the lost message's container is gone";
}

// Writes "ProviderQueueSize", or removes it.
void setQueueSize(std::optional<uint32_t> value) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk());
  if (value) {
    ASSERT_TRUE(key.setDword(kQueueSizeValue, *value).isOk());
  } else {
    key.deleteValue(kQueueSizeValue);
  }
}

TEST_F(ProviderTest, TheQueueLimitFollowsTheSettingsStoreAndOverflowGivesOneErrorEvent) {
  struct Case {
    uint32_t stored;
    int accepted;  // messages that enter an empty queue before the error event
  };
  const Case cases[] = {{2, 3}, {0, 1}, {0x80000000u, 0}, {0xFFFFFFFFu, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    makeProvider();
    trace_.clear();
    startSimulator();
    setQueueSize(std::nullopt);
    registerWith(21);

    // The first keep-alive cycle writes the missing value back with the
    // current limit; the next one finds the new value.
    ASSERT_TRUE(eventually([] { return readQueueLimit() == kDefaultQueueLimit; }));
    setQueueSize(c.stored);
    ASSERT_TRUE(trace_.waitFor("providerMsgThread - ProviderQueueSize has chanegd from 200 to be " +
                               std::to_string(static_cast<int32_t>(c.stored)) + "\n"));
    EXPECT_EQ(provider().queueLimit(), static_cast<int32_t>(c.stored));

    for (int ref = 1; ref <= c.accepted + 2; ++ref) {
      sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", ref}});
    }
    // The accepted messages, then the fetched one that found the queue full
    // is dropped and the error event takes its place; nothing more is
    // fetched.
    for (int ref = 1; ref <= c.accepted + 1; ++ref) {
      EXPECT_FALSE(sim().next("delivered").is_null()) << ref;
    }
    ASSERT_TRUE(eventually([&] { return !provider().serverConnected(); }));
    EXPECT_TRUE(trace_.waitFor("providerMsg - Queue exceeds the MAX QUEUE REQUEST(" +
                               std::to_string(static_cast<int32_t>(c.stored)) + ")\n"));
    EXPECT_TRUE(trace_.waitFor("providerMsgThread - m_ServerConnected is false, not going to get any messages.\n"));
    EXPECT_TRUE(trace_.waitFor(
        "providerKeepAliveThread - m_ServerConnected is false, not going send any more keep alive msg's.\n"));
    for (int ref = 1; ref <= c.accepted; ++ref) {
      Event request = poll();
      ASSERT_EQ(request.result, ZEM_SUCCESS);
      EXPECT_EQ(Zem_getServerID(request.handle), ref);
      Zem_ResponseReceived(&request.handle);
    }
    expectErrorEvent();
    EXPECT_EQ(poll(50).result, ZEM_NO_EVENT);
    EXPECT_TRUE(sim().next("delivered", 100).is_null()) << "the last message stays with the server";
    EXPECT_EQ(trace_.count("ProviderQueueSize has chanegd"), 1u) << "the change is written once";
  }
}

TEST_F(ProviderTest, TheDefaultLimitLetsTheQueueHold201Entries) {
  startSimulator({"--generate", "203", "--rate", "0", "--quiet"});
  registerWith(30);
  ASSERT_TRUE(eventually([&] { return !provider().serverConnected(); }, 20000));
  EXPECT_EQ(provider().queue().count(), 202) << "201 requests and the error event";
  for (int n = 0; n < 201; ++n) {
    Event request = poll();
    ASSERT_EQ(request.result, ZEM_SUCCESS);
    ASSERT_EQ(request.type(), ZEM_MSG_REQUEST);
    Zem_ResponseReceived(&request.handle);
  }
  expectErrorEvent();
}

TEST_F(ProviderTest, ALostConnectionReRegistersUnderTheSameIdentifier) {
  // Short holds, so that a failure injected for the next fetch meets one
  // soon, whatever fetch is under way when it is injected.
  startSimulator({"--hold-ms", "20"});
  registerWith(31);
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1005}});
  EXPECT_TRUE(trace_.waitFor("providerMsgThread - Lost connection to Tarvo, try to re-connect using ID 31\n"));
  EXPECT_EQ(sim().next("deregistered")["providerId"], 31);
  EXPECT_EQ(sim().next("registered")["providerId"], 31);
  EXPECT_TRUE(trace_.waitFor("********Re-Registering of provider SUCCESSFUL*********\n"));
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  EXPECT_EQ(trace_.count("Provider thread successfully terminated"), 0u) << "the pump kept running";

  // The same pump goes on fetching.
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 3}});
  Event request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(request.handle), 3);
  Zem_ResponseReceived(&request.handle);

  // A re-registration that fails leaves the provider registered but
  // disconnected, and the application gets an error event so that it
  // registers again. Its de-registration step failing: the old context
  // still stands, and the next registration ends it and registers.
  sim().command({{"cmd", "fail"}, {"proc", "deRegisterProvider"}, {"result", 1004}});
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1005}});
  EXPECT_TRUE(trace_.waitFor("********Re-Registering of provider FAILED*********\n"));
  expectErrorEvent();
  EXPECT_EQ(provider().providerId(), 31);
  EXPECT_FALSE(provider().serverConnected());
  ASSERT_EQ(Zem_RegisterProvider(31), ZEM_SUCCESS);
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  // Its registration step failing: the de-registration's status event, then
  // the error event; the old context has ended, so the next registration
  // has nothing to end and registers.
  trace_.clear();
  sim().command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1003}});
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1005}});
  EXPECT_TRUE(trace_.waitFor("********Re-Registering of provider FAILED*********\n"));
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  expectErrorEvent();
  ASSERT_EQ(Zem_RegisterProvider(31), ZEM_SUCCESS);
  expectStatusEvent(ZEM_STATUS_REGISTERED);

  // Other failed fetches pause and go on.
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1004}});
  EXPECT_TRUE(trace_.waitFor("WINAPI clZemlink::providerMsgThread() - Zem_GetMessageBridge() return 1004\n"));
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"action", "fault"}});
  EXPECT_TRUE(trace_.waitFor("WINAPI clZemlink::providerMsgThread() - caught exception"));
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 4}});
  request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(request.handle), 4);
  Zem_ResponseReceived(&request.handle);
}

TEST_F(ProviderTest, DeRegistrationStopsThePumpWithoutWaitingForItsFetch) {
  // The server holds each fetch for a minute.
  startSimulator({"--hold-ms", "60000"});
  registerWith(40);
  // The next fetch waits 300 ms before it looks for a message; message 1
  // ends the fetch under way, so that the pump enters that slow one, and
  // message 2 is there for it to bring back.
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"action", "delay"}, {"ms", 300}});
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}});
  ASSERT_EQ(sim().next("delivered")["ref"], 1);
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 2}});
  ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
  EXPECT_FALSE(provider().hasMessagePump());

  // Message 1 was queued before the status event and is destroyed by the
  // poll that meets it; message 2, from the fetch under way, never enters
  // the queue.
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  EXPECT_EQ(poll(400).result, ZEM_NO_EVENT);
  EXPECT_EQ(provider().queue().count(), 0);

  // A fetch held for a minute does not hold up the de-registration either.
  ASSERT_EQ(Zem_RegisterProvider(41), ZEM_SUCCESS);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << "did not wait for the fetch";
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 3}});
  // (Message 2 may still show as delivered by the fetch that was cut off.)
  for (json delivered = sim().next("delivered", 300); !delivered.is_null(); delivered = sim().next("delivered", 300)) {
    EXPECT_NE(delivered["ref"], 3) << "nothing is fetched after the stop";
  }
}

}  // namespace
}  // namespace zem::test
