// Thread priorities as nice values: Linux has no per-thread priority of the
// system's kind for ordinary threads, so the OS layer moves each thread's
// nice value relative to the process's.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/os.h"
#include "support/process.h"
#include "support/stdout_capture.h"
#include "thread_probe.h"

namespace {

using zem::test::capturedStdout;

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

TEST(OsThreadNice, PrioritiesMoveTheNiceValueFromTheProcesses) {
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

TEST(OsThreadNice, EachPriorityMovesTheThreadsNiceValue) {
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
    int priority = 99;
    const std::string printed = capturedStdout([&] {
      ASSERT_TRUE(osThreadCreate(probeThread, &probe, c.priority, &id, &handle)) << c.priority;
      EXPECT_TRUE(osThreadPriorityGet(handle, &priority));
    });
    ASSERT_NE(handle, nullptr) << c.priority;
    EXPECT_EQ(priority, c.priority) << "what was set is read back";
    EXPECT_EQ(niceOf(id), std::min(19, processNice + c.niceAboveProcess)) << c.priority;
    EXPECT_EQ(printed, "");
    osBinarySemaphoreGive(probe.release);
    EXPECT_TRUE(osThreadWait(handle, OS_WAIT_FOREVER));
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

TEST(OsThreadNice, ANormalThreadOfALoweredCreatorIsBroughtToTheProcessLevel) {
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
TEST(OsThreadNice, PrioritiesHoldInAnUnprivilegedProcessUnderNice) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  std::vector<std::string> argv = {"/usr/bin/env", "ZEMLINK_TEST_NICE=12", "nice", "-n", "12"};
  if (geteuid() == 0) {
    for (const char* word : {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}) argv.push_back(word);
  }
  argv.push_back(self);
  argv.push_back("--gtest_filter=OsThreadNice.EachPriority*:OsThreadNice.ANormalThreadOfALoweredCreator*");
  const zem::test::ProcessResult child = zem::test::runProcess(argv);
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  EXPECT_NE(child.out.find("[  PASSED  ] 2 tests."), std::string::npos) << child.out;
}

}  // namespace
