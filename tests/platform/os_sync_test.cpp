// Binary semaphores, threads and critical sections of the OS layer.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "support/process.h"
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

// The nice value of a running thread.
int niceOf(OsThreadId id) { return getpriority(PRIO_PROCESS, static_cast<id_t>(id)); }

// The process's own nice value; the child run below says which it must be.
int processNiceChecked() {
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  if (const char* expected = std::getenv("ZEMLINK_TEST_NICE")) {
    EXPECT_EQ(nice, std::atoi(expected));
  }
  return nice;
}

// Whether this process may move a thread back up to a more favoured nice
// value (root with CAP_SYS_NICE may; an ordinary user may not).
bool mayRaiseNice() {
  bool allowed = false;
  std::thread probe([&] {
    const id_t self = static_cast<id_t>(gettid());
    const int own = getpriority(PRIO_PROCESS, self);
    if (own < 19 && setpriority(PRIO_PROCESS, self, own + 1) != 0) return;
    allowed = setpriority(PRIO_PROCESS, self, own < 19 ? own : own - 1) == 0;
  });
  probe.join();
  return allowed;
}

TEST(OsThread, PrioritiesMoveTheNiceValueFromTheProcesses) {
  struct Case {
    int processNice, priority, nice;
  };
  const Case cases[] = {
      {0, 0, 0},    {0, -1, 5},   {0, -2, 10},  {0, -15, 19}, {0, 1, -5},  {0, 2, -10}, {0, 15, -20},
      {5, 0, 5},    {5, -1, 10},  {5, -2, 15},  {5, 2, -5},   {12, -2, 19}, {12, -15, 19}, {19, 0, 19},
      {19, -2, 19}, {-10, 15, -20}, {-10, -2, 0}, {7, 3, 7},  // 3 is no priority: the process's level
  };
  for (const Case& c : cases) {
    EXPECT_EQ(osNiceForPriority(c.priority, c.processNice), c.nice) << c.processNice << " " << c.priority;
  }
  // Read back: each nice value gives its priority; where several share one,
  // the one nearest normal.
  for (int priority : {-15, -2, -1, 0, 1, 2, 15}) EXPECT_EQ(osPriorityForNice(osNiceForPriority(priority, 0), 0), priority);
  EXPECT_EQ(osPriorityForNice(19, 19), 0);
  EXPECT_EQ(osPriorityForNice(19, 12), -2);
  EXPECT_EQ(osPriorityForNice(3, 0), -1) << "the nearest";
}

TEST(OsThread, StartsAtOnceOnA64KiBStackWithTheGivenPriority) {
  struct Case {
    int priority;
    int niceAboveProcess;  // before the limit of 19
  };
  // Lowering a priority needs no privilege; raising one may.
  const Case cases[] = {{0, 0}, {-1, 5}, {-2, 10}, {-15, 19}};
  const int processNice = processNiceChecked();
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
    EXPECT_EQ(priority, c.priority) << "what was set is read back";
    EXPECT_EQ(niceOf(id), std::min(19, processNice + c.niceAboveProcess)) << c.priority;
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

// A thread at the lowest priority starts one at normal priority.
struct NormalFromLowest {
  ThreadProbe inner;
  OsThreadId innerId = 0;
  int innerNice = 99;
  int innerPriority = 99;
  std::string printed;
};

uint32_t startNormalThread(void* argument) {
  NormalFromLowest& run = *static_cast<NormalFromLowest*>(argument);
  osBinarySemaphoreCreate(&run.inner.release, 0);
  OsThreadHandle handle = nullptr;
  run.printed = capturedStdout([&] {
    osThreadCreate(probeThread, &run.inner, OS_THREAD_PRIORITY_NORMAL, &run.innerId, &handle);
    osThreadPriorityGet(handle, &run.innerPriority);
  });
  run.innerNice = niceOf(run.innerId);
  osBinarySemaphoreGive(run.inner.release);
  osThreadWait(handle, OS_WAIT_FOREVER);
  osThreadClose(handle);
  osBinarySemaphoreDestroy(run.inner.release);
  return 0;
}

TEST(OsThread, ANormalThreadOfALoweredCreatorIsBroughtToTheProcessLevel) {
  const int processNice = processNiceChecked();
  NormalFromLowest run;
  OsThreadHandle lowest = nullptr;
  ASSERT_TRUE(osThreadCreate(startNormalThread, &run, OS_THREAD_PRIORITY_LOWEST, nullptr, &lowest));
  ASSERT_TRUE(osThreadWait(lowest, OS_WAIT_FOREVER));
  osThreadClose(lowest);
  // At nice 19 the creator's level is the process's: nothing to raise.
  if (mayRaiseNice() || processNice == 19) {
    EXPECT_EQ(run.innerNice, processNice);
    EXPECT_EQ(run.innerPriority, 0);
    EXPECT_EQ(run.printed, "");
  } else {
    // Without the privilege the thread stays at its creator's level, says
    // so, and reads back where it really runs.
    EXPECT_EQ(run.innerNice, std::min(19, processNice + 10));
    EXPECT_EQ(run.innerPriority, -2);
    EXPECT_EQ(run.printed, "osThreadPrioritySet: SetThreadPriority failed. Error = " + std::to_string(EACCES) + ".\n");
  }
}

// The two tests above once more in a process started under `nice 12` by an
// unprivileged user: the levels follow the process's, the lowest priority
// stays within what such a process may ask, and what was set reads back.
TEST(OsThread, PrioritiesHoldInAnUnprivilegedProcessUnderNice) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  std::vector<std::string> argv = {"/usr/bin/env", "ZEMLINK_TEST_NICE=12", "nice", "-n", "12"};
  if (geteuid() == 0) {
    for (const char* word : {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}) argv.push_back(word);
  }
  argv.push_back(self);
  argv.push_back("--gtest_filter=OsThread.StartsAtOnce*:OsThread.ANormalThreadOfALoweredCreator*");
  const zem::test::ProcessResult child = zem::test::runProcess(argv);
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  EXPECT_NE(child.out.find("[  PASSED  ] 2 tests."), std::string::npos) << child.out;
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
