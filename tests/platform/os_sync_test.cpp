// Binary semaphores, threads and critical sections of the OS layer.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/os.h"
#include "support/stdout_capture.h"
#include "system_facts.h"
#include "thread_probe.h"

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

TEST(OsThread, StartsAtOnceOnA64KiBStackWithTheGivenPriority) {
  for (int priority : {0, -1, -2, -15}) {
    ThreadProbe probe;
    ASSERT_TRUE(osBinarySemaphoreCreate(&probe.release, 0));
    OsThreadId id = 0;
    OsThreadHandle handle = nullptr;
    bool created = false;
    bool priorityRead = false;
    int readBack = 99;
    const std::string printed = capturedStdout([&] {
      created = osThreadCreate(probeThread, &probe, priority, &id, &handle);
      priorityRead = osThreadPriorityGet(handle, &readBack);
    });
    ASSERT_TRUE(created) << priority;
    EXPECT_TRUE(priorityRead);
    EXPECT_EQ(readBack, priority) << "what was set is read back";
    EXPECT_EQ(printed, "");
    osBinarySemaphoreGive(probe.release);
    EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(probe.seenId, id);
#if defined(__SANITIZE_THREAD__)
    EXPECT_GE(probe.stackSize, 65536u);  // the thread sanitizer adds room of its own to every stack
#else
    EXPECT_EQ(probe.stackSize, zem::test::stackReservationFor(65536));
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
  EXPECT_EQ(printed, "osThreadPrioritySet: SetThreadPriority failed. Error = " +
                         std::to_string(zem::test::unknownPriorityError()) + ".\n");
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
  EXPECT_EQ(id, zem::test::systemThreadId());
  uint32_t process = 0;
  EXPECT_EQ(osProcessSelf(&process), zem::test::systemProcessId());
  EXPECT_EQ(process, zem::test::systemProcessId());
}

TEST(OsThread, TickCountFollowsSleep) {
  const uint32_t before = osTickCount();
  osSleep(30);
  const uint32_t elapsed = osTickCount() - before;  // unsigned: right across a wrap too
  // The count moves in steps of the system's tick: a few milliseconds on Linux,
  // up to 16 on Windows.
  EXPECT_GE(elapsed, 30u - 16u);
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
