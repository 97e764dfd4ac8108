// The provider against a server that keeps its connections and says
// nothing: each export fails with its code at its call's deadline, a mute
// keep-alive or fetch becomes one error event and the provider registers
// again once the server answers, ZemlinkDeInit and the unload do not wait
// for another thread's held call, and refused registrations leave nothing
// behind.
#include <chrono>
#include <future>

#include "provider_fixture.h"
#include "support/proc_self.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace zem::test {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kDeadlineMs = 300;
// Room for a loaded machine, sanitizers and Wine. Without the deadlines,
// each case here would wait for ever (or, for an export held by another
// thread, for that call's whole deadline of 10 s).
constexpr auto kSlack = std::chrono::milliseconds(2500);

ProviderTimings shortDeadlines() {
  ProviderTimings timings = shortTimings();
  ExchangeDeadlines& deadlines = timings.deadlines;
  deadlines.registerMs = deadlines.deRegisterMs = deadlines.fetchMs = deadlines.completionMs = deadlines.keepAliveMs =
      kDeadlineMs;
  return timings;
}

json mute(const char* proc, int providerId) {
  return {{"cmd", "fail"}, {"proc", proc}, {"action", "mute"}, {"providerId", providerId}};
}

class ProviderDeadlineTest : public ProviderTest {
 protected:
  // A completion container for the request with server id ref.
  static ZemContainerHandle completionFor(int32_t ref) {
    const ZemContainerHandle handle = Zem_createDataContainer();
    EXPECT_NE(handle, 0u);
    Zem_setMessageType(handle, ZEM_MSG_COMPLETION);
    Zem_setServerID(handle, ref);
    Zem_setFirstItem(handle, "done");
    return handle;
  }
};

TEST_F(ProviderDeadlineTest, AnExportHeldByAMuteServerFailsWithItsCodeAtTheDeadline) {
  makeProvider(shortDeadlines());
  // Shorter than the fetch's deadline: an empty fetch is answered in time.
  startSimulator({"--hold-ms", "50"});
  registerWith(1);

  const auto timed = [](auto call) {
    const auto started = Clock::now();
    const int32_t result = call();
    const auto took = Clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(kDeadlineMs - 5));
    EXPECT_LT(took, std::chrono::milliseconds(kDeadlineMs) + kSlack);
    return result;
  };

  sim().command(mute("registerProvider", 2));
  EXPECT_EQ(timed([] { return Zem_RegisterProvider(2); }), ZEM_ERROR_CONNECT);
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);  // the registration of 1 ended first

  ASSERT_EQ(Zem_RegisterProvider(3), ZEM_SUCCESS);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  sim().command(mute("sendCompletion", 3));
  ZemContainerHandle completion = completionFor(11);
  EXPECT_EQ(timed([&] { return Zem_SendServiceComplete(&completion); }), ZEM_ERROR_SERVER);
  EXPECT_EQ(Zem_destroyDataContainer(completion), ZEM_SUCCESS);

  sim().command(mute("deRegisterProvider", 3));
  EXPECT_EQ(timed([] { return Zem_DeRegisterProvider(); }), ZEM_ERROR_SERVER);
  EXPECT_EQ(provider().providerId(), -1);
}

TEST_F(ProviderDeadlineTest, AMuteKeepAliveOrFetchIsOneErrorEventAndTheProviderRegistersAgain) {
  makeProvider(shortDeadlines());
  startSimulator({"--hold-ms", "50"});
  registerWith(21);
  for (const char* proc : {"keepAlive", "Zem_GetMessageBridge"}) {
    SCOPED_TRACE(proc);
    sim().command(mute(proc, 21));
    ASSERT_FALSE(sim().next("injected").is_null());
    expectErrorEvent();
    EXPECT_FALSE(provider().serverConnected());
    // One event, however many of the provider's calls the server lets pass
    // their deadline meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kDeadlineMs));
    EXPECT_EQ(poll(0).result, ZEM_NO_EVENT);

    // The server answers again: the application registers again.
    ASSERT_EQ(Zem_RegisterProvider(21), ZEM_SUCCESS);
    expectStatusEvent(ZEM_STATUS_DEREGISTERED);
    expectStatusEvent(ZEM_STATUS_REGISTERED);
    ASSERT_FALSE(sim().next("registered").is_null());
    sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 77}});
    const Event request = poll();
    ASSERT_EQ(request.result, ZEM_SUCCESS);
    EXPECT_EQ(request.type(), ZEM_MSG_REQUEST);
    EXPECT_EQ(Zem_getServerID(request.handle), 77);
    Event released = request;
    EXPECT_EQ(Zem_ResponseReceived(&released.handle), ZEM_SUCCESS);
  }
}

// Another application thread is inside an export whose server call the
// server holds without a word; the library's calls have their full
// deadlines (10 s). ZemlinkDeInit, and the unload, end that call and do not
// wait for it.
TEST_F(ProviderDeadlineTest, DeInitAndUnloadDoNotWaitForAnotherThreadsHeldCall) {
  struct Held {
    const char* proc;
    int32_t expected;  // what the held export returns
  };
  const Held helds[] = {
      {"registerProvider", ZEM_ERROR_CONNECT}, {"deRegisterProvider", ZEM_ERROR_SERVER}, {"sendCompletion", ZEM_ERROR_SERVER}};
  for (const bool unload : {false, true}) {
    for (const Held& held : helds) {
      SCOPED_TRACE(std::string(held.proc) + (unload ? ", unload" : ", ZemlinkDeInit"));
      makeProvider();  // the library's timings
      startSimulator({"--hold-ms", "50"});
      registerWith(31);
      const std::string proc = held.proc;
      sim().command(mute(held.proc, proc == "registerProvider" ? 32 : 31));
      ZemContainerHandle completion = completionFor(5);
      auto inside = std::async(std::launch::async, [&] {
        if (proc == "registerProvider") return Zem_RegisterProvider(32);
        if (proc == "deRegisterProvider") return Zem_DeRegisterProvider();
        return Zem_SendServiceComplete(&completion);
      });
      ASSERT_FALSE(sim().next("injected").is_null()) << "the call is held by the server";

      const auto started = Clock::now();
      if (unload) {
        unloadProvider();
      } else {
        EXPECT_EQ(ZemlinkDeInit(), ZEM_SUCCESS);
      }
      EXPECT_LT(Clock::now() - started, kSlack);
      ASSERT_EQ(inside.wait_for(kSlack), std::future_status::ready);
      EXPECT_EQ(inside.get(), held.expected);
      EXPECT_LT(Clock::now() - started, kSlack);
      EXPECT_EQ(Zem_destroyDataContainer(completion), ZEM_SUCCESS);
      if (unload) {
        EXPECT_EQ(Zem_RegisterProvider(33), ZEM_ERROR_NOT_READY) << "no provider any more";
      }
    }
  }
}

// A server that refuses registrations but hands out a context each time.
TEST_F(ProviderDeadlineTest, RefusedRegistrationsWithContextsLeaveNothingBehind) {
  setTracing(0);
  makeProvider(shortTimings());
  ExchangeSimulator& simulator = startSimulator({"--hold-ms", "50"});
  constexpr int kRefusals = 1500, kRebinds = 500;
  simulator.command({{"cmd", "fail"},
                     {"proc", "registerProvider"},
                     {"result", 1004},
                     {"served", true},
                     {"count", kRefusals + kRebinds + 100}});
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  const auto discardEvents = [&] {
    std::string line;
    while (simulator.process().readLine(line, 0)) {
    }
  };
  const auto refuse = [&](int times, bool rebind) {
    for (int i = 0; i < times; ++i) {
      if (rebind) {
        ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
      }
      ASSERT_EQ(Zem_RegisterProvider(5), ZEM_ERROR_CONNECT);
      discardEvents();  // the simulator waits while its output pipe is full
    }
  };
  const auto heapInUse = [] {
#ifdef __GLIBC__
    return static_cast<long>(mallinfo2().uordblks);
#else
    return 0L;
#endif
  };

  refuse(100, true);  // whatever the first calls set up for good
  const int descriptors = openDescriptors();
  const long heap = heapInUse();
  refuse(kRefusals, false);
  refuse(kRebinds, true);
  discardEvents();

  EXPECT_EQ(provider().serverContextsKnown(), 0u);
  EXPECT_LE(openDescriptors(), descriptors) << "one connection kept per refusal runs out of descriptors";
  // A context kept per refusal is some 80 bytes, a connection kept some
  // 70 KB: 2000 of either show far above this.
  EXPECT_LT(heapInUse() - heap, 64 * 1024);
}

}  // namespace
}  // namespace zem::test
