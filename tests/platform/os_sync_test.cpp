// Binary semaphores, threads and critical sections of the OS layer.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/os.h"
#include "support/stdout_capture.h"

namespace {

using zem::test::StdoutCapture;

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
    StdoutCapture out;
    EXPECT_EQ(osBinarySemaphoreCreate(&handle, c.initialState), c.created) << c.initialState;
    EXPECT_EQ(out.text(), c.printed);
    EXPECT_EQ(handle != nullptr, c.created);
    if (handle != nullptr) {
      EXPECT_TRUE(osBinarySemaphoreDestroy(handle));
    }
  }
}

TEST(OsBinarySemaphore, CountNeverPassesOne) {
  OsSemaphoreHandle handle = nullptr;
  ASSERT_TRUE(osBinarySemaphoreCreate(&handle, 1));
  StdoutCapture out;
  // free -> give fails; take -> taken; take again times out; give -> free; give again fails
  EXPECT_FALSE(osBinarySemaphoreGive(handle));
  EXPECT_TRUE(osBinarySemaphoreTake(handle, 0));
  EXPECT_FALSE(osBinarySemaphoreTake(handle, 0));
  EXPECT_TRUE(osBinarySemaphoreGive(handle));
  EXPECT_FALSE(osBinarySemaphoreGive(handle));
  EXPECT_TRUE(osBinarySemaphoreTake(handle, OS_WAIT_FOREVER));
  const std::string give = "osBinarySemaphoreGive: ReleaseSemaphore failed. Error = " + std::to_string(EOVERFLOW) + "\n";
  EXPECT_EQ(out.text(), give + "osBinarySemaphoreTake: WAIT_TIMEOUT\n" + give);
  osBinarySemaphoreDestroy(handle);
}

TEST(OsBinarySemaphore, TimedTakeWaitsItsTimeThenFails) {
  OsSemaphoreHandle handle = nullptr;
  ASSERT_TRUE(osBinarySemaphoreCreate(&handle, 0));
  StdoutCapture out;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(osBinarySemaphoreTake(handle, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(out.text(), "osBinarySemaphoreTake: WAIT_TIMEOUT\n");
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
  StdoutCapture out;
  EXPECT_FALSE(osBinarySemaphoreTake(nullptr, 0));
  EXPECT_FALSE(osBinarySemaphoreDestroy(nullptr));
  EXPECT_EQ(out.text(), "osBinarySemaphoreTake: WAIT_FAILED. Error = " + std::to_string(EINVAL) + "\n");
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
    StdoutCapture out;
    ASSERT_TRUE(osThreadCreate(probeThread, &probe, c.priority, &id, &handle)) << c.priority;
    int priority = 99;
    EXPECT_TRUE(osThreadPriorityGet(handle, &priority));
    EXPECT_EQ(priority, c.reported);
    osBinarySemaphoreGive(probe.release);
    EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
    EXPECT_EQ(out.text(), "");
    EXPECT_NE(id, 0u);
    EXPECT_EQ(probe.seenId, id);
    EXPECT_EQ(probe.stackSize, 65536u);
    EXPECT_TRUE(probe.pastExit);
    EXPECT_TRUE(osThreadClose(handle));
    osBinarySemaphoreDestroy(probe.release);
  }
}

TEST(OsThread, ARefusedPriorityIsReportedButTheThreadRuns) {
  ThreadProbe probe;
  OsThreadId id = 0;
  OsThreadHandle handle = nullptr;
  StdoutCapture out;
  EXPECT_TRUE(osThreadCreate(probeThread, &probe, 3, &id, &handle));
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
  EXPECT_EQ(out.text(), "osThreadPrioritySet: SetThreadPriority failed. Error = " + std::to_string(EINVAL) + ".\n");
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
  EXPECT_GE(elapsed, 30u);
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
