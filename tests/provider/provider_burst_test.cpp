// The pump's fetch burst ("ProviderFetchBurst") against exchange-sim: how
// many messages come in a row before the pump sleeps, how the keep-alive
// thread follows the value and writes refused ones back, and that the queue
// limit and de-registration cut a burst short.
#include <optional>
#include <string>

#include "platform/settings/settings_store.h"
#include "provider/provider_settings.h"
#include "provider_fixture.h"

namespace zem::test {
namespace {

using nlohmann::json;

void storeDword(const char* name, std::optional<uint32_t> value) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk());
  if (value) {
    ASSERT_TRUE(key.setDword(name, *value).isOk());
  } else {
    key.deleteValue(name);
  }
}

class FetchBurstTest : public ProviderTest {
 protected:
  // Stores the burst and waits until the keep-alive thread has taken it.
  void useBurst(uint32_t burst) {
    storeDword(kFetchBurstValue, burst);
    ASSERT_TRUE(eventually([&] { return provider().fetchBurst() == static_cast<int32_t>(burst); }));
  }
  void sendRequests(int firstRef, int lastRef) {
    for (int ref = firstRef; ref <= lastRef; ++ref) sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", ref}});
  }
  void expectDelivered(int firstRef, int lastRef) {
    for (int ref = firstRef; ref <= lastRef; ++ref) {
      const json delivered = sim().next("delivered");
      ASSERT_FALSE(delivered.is_null()) << ref;
      EXPECT_EQ(delivered["ref"], ref);
    }
  }
  void expectRequests(int firstRef, int lastRef) {
    for (int ref = firstRef; ref <= lastRef; ++ref) {
      Event request = poll();
      ASSERT_EQ(request.result, ZEM_SUCCESS) << ref;
      EXPECT_EQ(Zem_getServerID(request.handle), ref);
      Zem_ResponseReceived(&request.handle);
    }
  }
};

TEST_F(FetchBurstTest, ABurstOfNBringsNMessagesBeforeTheSleep) {
  // A cycle long enough that a fetch after the sleep cannot be mistaken for
  // one of the burst. The pump takes the burst when it starts: the
  // keep-alive thread does not come round in this test.
  ProviderTimings timings = shortTimings();
  timings.pumpCycleMs = 800;
  timings.keepAliveCycleMs = 60000;
  struct Case {
    std::optional<uint32_t> stored;
    int32_t burst;
    int waiting;
  };
  for (const Case c : {Case{std::nullopt, 1, 2}, Case{10, 10, 15}}) {
    SCOPED_TRACE(c.burst);
    storeDword(kFetchBurstValue, c.stored);
    makeProvider(timings);
    startSimulator();
    registerWith(50);
    ASSERT_TRUE(eventually([&] { return provider().fetchBurst() == c.burst; }));
    sendRequests(1, c.waiting);

    // The burst comes in a row, oldest first; then the pump sleeps with the
    // rest still at the server.
    expectDelivered(1, c.burst);
    EXPECT_TRUE(sim().next("delivered", 300).is_null()) << "a fetch came before the sleep";
    EXPECT_EQ(provider().queue().count(), c.burst);
    expectDelivered(c.burst + 1, c.waiting);
    expectRequests(1, c.waiting);
    ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
    expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  }
}

TEST_F(FetchBurstTest, TheStoreShowsTheBurstInForceAndRefusalsAreWrittenBack) {
  startSimulator();
  registerWith(51);
  // The default leaves the store as it is.
  for (int n = 0; n < 3; ++n) ASSERT_FALSE(sim().next("keepalive").is_null());
  EXPECT_FALSE(readFetchBurst().present);
  EXPECT_EQ(provider().fetchBurst(), 1);

  useBurst(1000);
  EXPECT_TRUE(trace_.waitFor("providerMsgThread - ProviderFetchBurst has changed from 1 to be 1000\n"));
  useBurst(7);
  EXPECT_TRUE(trace_.waitFor("providerMsgThread - ProviderFetchBurst has changed from 1000 to be 7\n"));

  const auto storesSeven = [] {
    const StoredFetchBurst stored = readFetchBurst();
    return stored.usable && stored.value == 7;
  };
  struct Refused {
    const char* what;
    std::function<void(RegistryKey&)> write;
  };
  const Refused refused[] = {
      {"0", [](RegistryKey& key) { ASSERT_TRUE(key.setDword(kFetchBurstValue, 0).isOk()); }},
      {"1001", [](RegistryKey& key) { ASSERT_TRUE(key.setDword(kFetchBurstValue, 1001).isOk()); }},
      {"a text", [](RegistryKey& key) { ASSERT_TRUE(key.setString(kFetchBurstValue, "100").isOk()); }},
      // Once set, the burst in force shows in the store even when the
      // value is removed.
      {"removed", [](RegistryKey& key) { key.deleteValue(kFetchBurstValue); }},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.what);
    RegistryKey key;
    ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk());
    r.write(key);
    EXPECT_TRUE(eventually(storesSeven));
    EXPECT_EQ(provider().fetchBurst(), 7);
  }
  EXPECT_EQ(trace_.count("providerMsgThread - ProviderFetchBurst refused, 7 stays\n"), 3u);
}

TEST_F(FetchBurstTest, TheQueueLimitEndsABurstWithOneErrorEvent) {
  startSimulator();
  registerWith(52);
  storeDword(kQueueSizeValue, 2);
  ASSERT_TRUE(eventually([&] { return provider().queueLimit() == 2; }));
  useBurst(10);
  sendRequests(1, 6);

  // Three enter the queue, the fourth finds it full and is dropped, and the
  // burst ends there: the last two stay with the server.
  expectDelivered(1, 4);
  ASSERT_TRUE(eventually([&] { return !provider().serverConnected(); }));
  EXPECT_TRUE(trace_.waitFor("providerMsg - Queue exceeds the MAX QUEUE REQUEST(2)\n"));
  expectRequests(1, 3);
  expectErrorEvent();
  EXPECT_EQ(poll(50).result, ZEM_NO_EVENT);
  EXPECT_TRUE(sim().next("delivered", 100).is_null());
}

TEST_F(FetchBurstTest, DeRegistrationStopsABurstAtOnce) {
  // The pump has the burst from its start.
  storeDword(kFetchBurstValue, 100);
  startSimulator({"--hold-ms", "60000"});
  registerWith(53);
  ASSERT_TRUE(eventually([&] { return provider().fetchBurst() == 100; }));
  // The fetch that follows message 1 within the burst waits 1 s before it
  // looks for a message; message 2 is there for it by then. (Two delays:
  // when the pump had not yet begun the fetch that brings message 1, that
  // one takes the first.)
  sim().command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"action", "delay"}, {"ms", 1000}, {"count", 2}});
  sendRequests(1, 1);
  expectDelivered(1, 1);
  sendRequests(2, 2);
  ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
  EXPECT_FALSE(provider().hasMessagePump());

  // When the fetch had gone out before the stop, the server hands it
  // message 2 once its delay is over (otherwise message 2 stays with the
  // server); either way the stopped pump publishes nothing of it.
  const json late = sim().next("delivered", 2500);
  if (!late.is_null()) {
    EXPECT_EQ(late["ref"], 2);
  }
  EXPECT_EQ(trace_.count("MsgReferenceId 2,"), 0u);
  // The status event, behind message 1 if the pump had queued it.
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  EXPECT_EQ(provider().queue().count(), 0);
}

}  // namespace
}  // namespace zem::test
