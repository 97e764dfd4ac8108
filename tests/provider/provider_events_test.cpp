// Keep-alive failures as error events, waits in Zem_GetEvent ended by a
// rebind or an unbind, and the provider under several application threads.
#include <atomic>
#include <future>

#include "provider_fixture.h"

namespace zem::test {
namespace {

using nlohmann::json;

TEST_F(ProviderTest, EachKeepAliveFailureBecomesOneErrorEvent) {
  struct Case {
    json failure;
    std::vector<std::string> lines;  // what the trace must show
  };
  const Case cases[] = {
      {{{"result", 1004}},
       {"providerMsgThread - an error occured when sending the keepAlive Msg.. \n",
        "providerMsgThread - RPC rewturn was TARVO_ERROR_PARAMETER.. \n",
        "providerMsgThread Exception from HalcynServer\n"}},
      {{{"result", 1003}},
       {"providerMsgThread - an error occured when sending the keepAlive Msg.. \n",
        "providerMsgThread - RPC rewturn was TARVO_ERROR_SERVER_CONNECT.. \n",
        "providerMsgThread Exception from HalcynServer\n"}},
      {{{"result", 2}},
       {"providerMsgThread - an error occured when sending the keepAlive Msg.. \n",
        "providerMsgThread Exception from HalcynServer\n"}},
      {{{"action", "fault"}},
       {"providerMsgThread Exception occurred on a call to the bridge..\n",
        "providerMsgThread Exception from HalcynBridge\n"}},
      {{{"action", "drop"}},
       {"providerMsgThread Exception occurred on a call to the bridge..\n",
        "providerMsgThread Exception from HalcynBridge\n"}},
  };
  startSimulator();
  registerWith(60);
  ASSERT_FALSE(sim().next("keepalive").is_null()) << "keep-alive runs while connected";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failure.dump());
    trace_.clear();
    json command = c.failure;
    command["cmd"] = "fail";
    command["proc"] = "keepAlive";
    sim().command(command);
    for (const std::string& line : c.lines) EXPECT_TRUE(trace_.waitFor(line)) << line;
    EXPECT_FALSE(provider().serverConnected());
    EXPECT_EQ(provider().providerId(), 60) << "still registered, but disconnected";
    expectErrorEvent();
    // Disconnected, neither thread calls the server any more.
    EXPECT_TRUE(trace_.waitFor(
        "providerKeepAliveThread - m_ServerConnected is false, not going send any more keep alive msg's.\n", 2));
    EXPECT_EQ(poll(50).result, ZEM_NO_EVENT) << "one error event per failure";
    EXPECT_EQ(trace_.count("when sending the keepAlive") + trace_.count("on a call to the bridge"), 1u);

    // Registering again restarts fetching.
    ASSERT_EQ(Zem_RegisterProvider(60), ZEM_SUCCESS);
    expectStatusEvent(ZEM_STATUS_DEREGISTERED);
    expectStatusEvent(ZEM_STATUS_REGISTERED);
    sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 61}});
    Event request = poll();
    ASSERT_EQ(request.result, ZEM_SUCCESS);
    EXPECT_EQ(Zem_getServerID(request.handle), 61);
    Zem_ResponseReceived(&request.handle);
  }
}

// Starts a Zem_GetEvent in wait mode on another thread and returns once it
// waits in the queue.
std::future<Event> waitingGetEvent(const clZemlink& provider) {
  std::future<Event> waiting = std::async(std::launch::async, [] {
    Event event;
    event.handle = 77;
    event.result = Zem_GetEvent(ZEM_EVENT_WAIT, &event.handle);
    return event;
  });
  while (provider.queue().waiters() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return waiting;
}

TEST_F(ProviderTest, RebindingAndUnbindingEndAWaitingGetEvent) {
  startSimulator();
  registerWith(70);

  // A message ends the wait with its handle.
  std::future<Event> waiting = waitingGetEvent(provider());
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 71}});
  Event event = waiting.get();
  ASSERT_EQ(event.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(event.handle), 71);
  Zem_ResponseReceived(&event.handle);

  // While it waits, the other exports go on: a completion from here.
  waiting = waitingGetEvent(provider());
  ZemContainerHandle completion = Zem_createDataContainer();
  Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
  Zem_setServerID(completion, 71);
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_SUCCESS);
  EXPECT_EQ(sim().next("completion")["ref"], 71);
  Zem_destroyDataContainer(completion);

  // A rebind while registered ends it with 10 and no handle.
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  event = waiting.get();
  EXPECT_EQ(event.result, ZEM_SUCCESS);
  EXPECT_EQ(event.handle, 0u);

  // An unbind ends it with 11.
  waiting = waitingGetEvent(provider());
  ASSERT_EQ(ZemlinkDeInit(), ZEM_SUCCESS);
  event = waiting.get();
  EXPECT_EQ(event.result, ZEM_NO_EVENT);
  EXPECT_EQ(event.handle, 0u);
}

TEST_F(ProviderTest, ApplicationThreadsServeTrafficBesideTheProviderThreads) {
  constexpr int kMessages = 300;
  startSimulator({"--generate", std::to_string(kMessages), "--rate", "0", "--info-share", "0.2", "--item",
                  "req-{ref}", "--item", "second"});
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  ASSERT_EQ(Zem_RegisterProvider(80), ZEM_SUCCESS);

  // Two threads wait, two poll; each answers requests and releases what it
  // took.
  std::atomic<int> requests{0}, infos{0}, statuses{0}, failures{0};
  std::atomic<bool> done{false};
  auto serve = [&](int32_t mode) {
    while (!done) {
      Event event;
      event.result = Zem_GetEvent(mode, &event.handle);
      if (event.result != ZEM_SUCCESS || event.handle == 0) {
        if (mode == ZEM_EVENT_POLL) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      switch (event.type()) {
        case ZEM_MSG_REQUEST: {
          ZemContainerHandle completion = Zem_createDataContainer();
          Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
          Zem_setServerID(completion, Zem_getServerID(event.handle));
          Zem_setFirstItem(completion, Zem_getFirstItem(event.handle));
          for (int i = 1; i < 10; ++i) Zem_setNextItem(completion, "answer");
          if (Zem_SendServiceComplete(&completion) != ZEM_SUCCESS) ++failures;
          Zem_ResponseReceived(&completion);
          ++requests;
          break;
        }
        case ZEM_MSG_INFO:
          ++infos;
          break;
        case ZEM_MSG_PROVIDER_STATUS:
          ++statuses;
          break;
        default:
          ++failures;
      }
      if (Zem_InfoReceived(&event.handle) != ZEM_SUCCESS) ++failures;
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(serve, ZEM_EVENT_WAIT);
  threads.emplace_back(serve, ZEM_EVENT_WAIT);
  threads.emplace_back(serve, ZEM_EVENT_POLL);
  threads.emplace_back(serve, ZEM_EVENT_POLL);

  ASSERT_TRUE(eventually([&] { return requests + infos == kMessages; }, 60000))
      << requests << " requests and " << infos << " informational messages";
  int completions = 0;
  while (completions < requests && !sim().next("completion", 5000).is_null()) ++completions;
  EXPECT_EQ(completions, requests.load());
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(statuses, 1);

  // The waiting threads are released by the unbind; then everyone stops.
  done = true;
  ASSERT_EQ(ZemlinkDeInit(), ZEM_SUCCESS);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(containers_.table().liveCount(), 0u) << "every container was released";
}

}  // namespace
}  // namespace zem::test
