// Binary semaphores, threads and critical sections of the OS layer.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "support/stdout_capture.h"

namespace {

using zem::test::capturedStdout;

TEST(OsBinarySemaphore, CreateAcceptsOnlyFreeOrTaken) {
  struct Case {
    int initialState;
    bool created;
    std::string printed;
  };
  const Case cases[] = {
      {0, true, ""},
      {1, true, ""},
      {2, false, "osBinarySemaphoreCreate: Invalid initial state (2)\n"},
      {-1, false, "osBinarySemaphoreCreate: Invalid initial state (-1)\n"},
  };
  for (const Case& c : cases) {
    OsSemaphoreHandle handle = nullptr;
    bool created = false;
    const std::string printed = capturedStdout([&] { created = osBinarySemaphoreCreate(&handle, c.initialState); });
    EXPECT_EQ(created, c.created) << c.initialState;
    EXPECT_EQ(printed, c.printed);
    EXPECT_EQ(handle != nullptr, c.created);
    if (handle != nullptr) {
      EXPECT_TRUE(osBinarySemaphoreDestroy(handle));
    }
  }
}

TEST(OsBinarySemaphore, CountNeverPassesOne) {
  OsSemaphoreHandle handle = nullptr;
  ASSERT_TRUE(osBinarySemaphoreCreate(&handle, 1));
  // free -> give fails; take -> taken; take again times out; give -> free; give again fails
  std::vector<bool> results;
  const std::string printed = capturedStdout([&] {
    results.push_back(osBinarySemaphoreGive(handle));
    results.push_back(osBinarySemaphoreTake(handle, 0));
    results.push_back(osBinarySemaphoreTake(handle, 0));
    results.push_back(osBinarySemaphoreGive(handle));
    results.push_back(osBinarySemaphoreGive(handle));
    results.push_back(osBinarySemaphoreTake(handle, OS_WAIT_FOREVER));
  });
  EXPECT_EQ(results, (std::vector<bool>{false, true, false, true, false, true}));
  const std::string give = "osBinarySemaphoreGive: ReleaseSemaphore failed. Error = " + std::to_string(EOVERFLOW) + "\n";
  EXPECT_EQ(printed, give + "osBinarySemaphoreTake: WAIT_TIMEOUT\n" + give);
  osBinarySemaphoreDestroy(handle);
}

TEST(OsBinarySemaphore, TimedTakeWaitsItsTimeThenFails) {
  OsSemaphoreHandle handle = nullptr;
  ASSERT_TRUE(osBinarySemaphoreCreate(&handle, 0));
  const auto start = std::chrono::steady_clock::now();
  bool taken = true;
  const std::string printed = capturedStdout([&] { taken = osBinarySemaphoreTake(handle, 50); });
  EXPECT_FALSE(taken);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(printed, "osBinarySemaphoreTake: WAIT_TIMEOUT\n");
  osBinarySemaphoreDestroy(handle);
}

TEST(OsBinarySemaphore, AnyThreadGivesWhatAnotherWaitsFor) {
  OsSemaphoreHandle handle = nullptr;
  ASSERT_TRUE(osBinarySemaphoreCreate(&handle, 0));
  std::atomic<bool> taken{false};
  std::thread taker([&] { taken = osBinarySemaphoreTake(handle, OS_WAIT_FOREVER); });
  EXPECT_TRUE(osBinarySemaphoreGive(handle));
  taker.join();
  EXPECT_TRUE(taken);
  EXPECT_FALSE(osBinarySemaphoreTake(handle, 0));  // the taker holds it
  osBinarySemaphoreDestroy(handle);
}

TEST(OsBinarySemaphore, NullHandleFails) {
  bool taken = true;
  bool destroyed = true;
  const std::string printed = capturedStdout([&] {
    taken = osBinarySemaphoreTake(nullptr, 0);
    destroyed = osBinarySemaphoreDestroy(nullptr);
  });
  EXPECT_FALSE(taken);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(printed, "osBinarySemaphoreTake: WAIT_FAILED. Error = " + std::to_string(EINVAL) + "\n");
}

struct ThreadProbe {
  OsThreadId seenId = 0;
  size_t stackSize = 0;
  OsSemaphoreHandle release = nullptr;  // when set, the thread waits for it
  bool exitEarly = false;
  bool destructorRan = false;
  bool pastExit = false;
};

struct SetOnDestroy {
  bool& flag;
  ~SetOnDestroy() { flag = true; }
};

uint32_t probeThread(void* argument) {
  ThreadProbe& probe = *static_cast<ThreadProbe*>(argument);
  osThreadSelf(&probe.seenId);
  pthread_attr_t attributes;
  pthread_getattr_np(pthread_self(), &attributes);
  pthread_attr_getstacksize(&attributes, &probe.stackSize);
  pthread_attr_destroy(&attributes);
  if (probe.release != nullptr) osBinarySemaphoreTake(probe.release, OS_WAIT_FOREVER);
  if (probe.exitEarly) {
    SetOnDestroy marker{probe.destructorRan};
    osThreadExit();
  }
  probe.pastExit = true;
  return 7;
}

TEST(OsThread, StartsAtOnceOnA64KiBStackWithTheGivenPriority) {
  struct Case {
    int priority;
    int reported;
  };
  // Lowering a priority needs no privilege; raising one may.
  const Case cases[] = {{0, 0}, {-1, -1}, {-2, -2}, {-15, -15}};
  for (const Case& c : cases) {
    ThreadProbe probe;
    ASSERT_TRUE(osBinarySemaphoreCreate(&probe.release, 0));
    OsThreadId id = 0;
    OsThreadHandle handle = nullptr;
    bool created = false;
    bool priorityRead = false;
    int priority = 99;
    const std::string printed = capturedStdout([&] {
      created = osThreadCreate(probeThread, &probe, c.priority, &id, &handle);
      priorityRead = osThreadPriorityGet(handle, &priority);
    });
    ASSERT_TRUE(created) << c.priority;
    EXPECT_TRUE(priorityRead);
    EXPECT_EQ(priority, c.reported);
    EXPECT_EQ(printed, "");
    osBinarySemaphoreGive(probe.release);
    EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(probe.seenId, id);
#if defined(__SANITIZE_THREAD__)
    EXPECT_GE(probe.stackSize, 65536u);  // the thread sanitizer adds room of its own to every stack
#else
    EXPECT_EQ(probe.stackSize, 65536u);
#endif
    EXPECT_TRUE(probe.pastExit);
    EXPECT_TRUE(osThreadClose(handle));
    osBinarySemaphoreDestroy(probe.release);
  }
}

TEST(OsThread, ARefusedPriorityIsReportedButTheThreadRuns) {
  ThreadProbe probe;
  OsThreadId id = 0;
  OsThreadHandle handle = nullptr;
  bool created = false;
  const std::string printed = capturedStdout([&] { created = osThreadCreate(probeThread, &probe, 3, &id, &handle); });
  EXPECT_TRUE(created);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
  EXPECT_EQ(printed, "osThreadPrioritySet: SetThreadPriority failed. Error = " + std::to_string(EINVAL) + ".\n");
  EXPECT_EQ(probe.seenId, id);
  EXPECT_TRUE(probe.pastExit);
  osThreadClose(handle);
}

TEST(OsThread, ExitEndsTheThreadAndUnwindsItsStack) {
  ThreadProbe probe;
  probe.exitEarly = true;
  OsThreadHandle handle = nullptr;
  ASSERT_TRUE(osThreadCreate(probeThread, &probe, 0, nullptr, &handle));
  EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
  EXPECT_TRUE(probe.destructorRan);
  EXPECT_FALSE(probe.pastExit);
  osThreadClose(handle);
}

TEST(OsThread, WaitTimesOutWhileTheThreadRuns) {
  ThreadProbe probe;
  ASSERT_TRUE(osBinarySemaphoreCreate(&probe.release, 0));
  OsThreadHandle handle = nullptr;
  ASSERT_TRUE(osThreadCreate(probeThread, &probe, 0, nullptr, &handle));
  EXPECT_FALSE(osThreadWait(handle, 20));
  osBinarySemaphoreGive(probe.release);
  EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
  EXPECT_TRUE(osThreadWait(handle, 0));  // an ended thread stays ended
  osThreadClose(handle);
  osBinarySemaphoreDestroy(probe.release);
}

TEST(OsThread, SelfAndProcessIds) {
  OsThreadId id = 0;
  EXPECT_EQ(osThreadSelf(&id), id);
  EXPECT_EQ(id, static_cast<OsThreadId>(gettid()));
  uint32_t process = 0;
  EXPECT_EQ(osProcessSelf(&process), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(process, static_cast<uint32_t>(getpid()));
}

TEST(OsThread, TickCountFollowsSleep) {
  const uint32_t before = osTickCount();
  osSleep(30);
  const uint32_t elapsed = osTickCount() - before;  // unsigned: right across a wrap too
  EXPECT_GE(elapsed, 20u) << "the count moves in steps of the kernel's tick, a few milliseconds";
  EXPECT_LT(elapsed, 5000u);
}

TEST(OsCriticalSection, TheOwnerMayEnterAgainAndOthersWait) {
  OsCriticalSection section;
  osCriticalSectionInit(&section);
  long counter = 0;
  const auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      osCriticalSectionEnter(&section);
      osCriticalSectionEnter(&section);
      ++counter;
      osCriticalSectionLeave(&section);
      osCriticalSectionLeave(&section);
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  osCriticalSectionDelete(&section);
}

}  // namespace
