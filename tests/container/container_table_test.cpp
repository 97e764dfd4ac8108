// The table of live containers: handle issue, stale and foreign handles,
// reuse, the capacity limit, and pinning against a concurrent destroy.
#include "container/container_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>
#include <utility>

namespace {

using zem::clZem_Message_Data;
using zem::ContainerTable;

ZemContainerHandle insertWithCallId(ContainerTable& table, int32_t callId) {
  auto container = std::make_unique<clZem_Message_Data>();
  container->setCallID(callId);
  return table.insert(std::move(container));
}

TEST(ContainerTable, LiveHandlesReachTheirContainersAndNothingElseDoes) {
  ContainerTable table;
  const ZemContainerHandle first = insertWithCallId(table, 1);
  const ZemContainerHandle second = insertWithCallId(table, 2);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_NE(first, second);
  EXPECT_EQ(table.liveCount(), 2u);
  EXPECT_EQ(table.acquire(first)->getCallID(), 1);
  EXPECT_EQ(table.acquire(second)->getCallID(), 2);

  // Numbers the table never issued: none, slots beyond the table, other
  // generations of a live slot, the extremes.
  for (ZemContainerHandle foreign : {0u, second + 1, second + 4096, first ^ (1u << 20), first | 0xFFF00000u,
                                     0xFFFFFFFFu, 0x000FFFFFu}) {
    EXPECT_FALSE(table.acquire(foreign)) << foreign;
    EXPECT_FALSE(table.destroy(foreign)) << foreign;
  }

  EXPECT_TRUE(table.destroy(first));
  EXPECT_FALSE(table.acquire(first));
  EXPECT_FALSE(table.destroy(first));
  EXPECT_EQ(table.liveCount(), 1u);
  EXPECT_EQ(table.acquire(second)->getCallID(), 2);
}

// A destroyed container's handle is not issued again for a long time, even
// when containers are created and destroyed one at a time.
TEST(ContainerTable, StaleHandlesStayStale) {
  ContainerTable table;
  const ZemContainerHandle firstEver = insertWithCallId(table, 0);
  ASSERT_TRUE(table.destroy(firstEver));

  std::unordered_set<ZemContainerHandle> issued{firstEver};
  constexpr int kCycles = 3 * ContainerTable::kReuseDelay + 1000;
  for (int i = 1; i <= kCycles; ++i) {
    const ZemContainerHandle handle = insertWithCallId(table, i);
    ASSERT_TRUE(issued.insert(handle).second) << "handle " << handle << " issued twice, cycle " << i;
    ASSERT_FALSE(table.acquire(firstEver));
    ASSERT_TRUE(table.destroy(handle));
  }
  EXPECT_EQ(table.liveCount(), 0u);
}

TEST(ContainerTable, AFullTableRefusesAndRecovers) {
  ContainerTable table(3);
  ZemContainerHandle handles[3];
  for (ZemContainerHandle& handle : handles) handle = insertWithCallId(table, 7);
  EXPECT_THROW(insertWithCallId(table, 8), std::bad_alloc);
  EXPECT_EQ(table.liveCount(), 3u);

  ASSERT_TRUE(table.destroy(handles[1]));
  const ZemContainerHandle again = insertWithCallId(table, 9);
  EXPECT_NE(again, handles[1]);  // same slot, next generation
  EXPECT_FALSE(table.acquire(handles[1]));
  EXPECT_EQ(table.acquire(again)->getCallID(), 9);
}

TEST(ContainerTable, ContainersStillLiveAreDestroyedWithTheTable) {
  // Leak checkers (asan, valgrind) see the difference.
  auto table = std::make_unique<ContainerTable>();
  for (int i = 0; i < 5000; ++i) insertWithCallId(*table, i);
  EXPECT_EQ(table->liveCount(), 5000u);
  table.reset();
}

TEST(ContainerTable, DestroyWaitsForThePinnedContainer) {
  ContainerTable table;
  const ZemContainerHandle handle = insertWithCallId(table, 42);
  ContainerTable::Ref pinned = table.acquire(handle);
  ASSERT_TRUE(pinned);

  std::future<bool> destroyed = std::async(std::launch::async, [&] { return table.destroy(handle); });
  // Destroy cannot finish while the pin is held; meanwhile the handle no
  // longer admits new readers once the destroyer has retired it.
  EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  EXPECT_EQ(pinned->getCallID(), 42);
  pinned = ContainerTable::Ref();
  EXPECT_TRUE(destroyed.get());
  EXPECT_FALSE(table.acquire(handle));
  EXPECT_EQ(table.liveCount(), 0u);
}

// A destroyer that meets a pinned container waits for the last pin to go,
// and that release must wake it however closely the two meet. The rounds
// vary the moment of the release, so that it falls on every step of the
// destroyer's way into its wait; a wake-up lost on any of them leaves the
// destroyer asleep for good, which the test reports instead of hanging.
TEST(ContainerTable, TheLastPinAlwaysWakesARacingDestroy) {
  constexpr int kRounds = 2000;
  constexpr auto kPatience = std::chrono::seconds(20);
  // What the destroyer thread uses, left to leak when it never wakes.
  struct Shared {
    ContainerTable table;
    std::mutex mutex;
    std::condition_variable changed;
    ZemContainerHandle doomed = 0;  // the handle to destroy, 0 when none
    int destroyed = 0;
    bool stop = false;
  };
  auto* shared = new Shared;
  std::thread destroyer([shared] {
    std::unique_lock lock(shared->mutex);
    for (;;) {
      shared->changed.wait(lock, [shared] { return shared->doomed != 0 || shared->stop; });
      if (shared->stop) return;
      const ZemContainerHandle handle = std::exchange(shared->doomed, 0);
      lock.unlock();
      const bool done = shared->table.destroy(handle);
      lock.lock();
      if (done) ++shared->destroyed;
      shared->changed.notify_all();
    }
  });

  bool stuck = false;
  int round = 0;
  for (; round < kRounds && !stuck; ++round) {
    const ZemContainerHandle handle = insertWithCallId(shared->table, round);
    {
      ContainerTable::Ref pin = shared->table.acquire(handle);
      ASSERT_TRUE(pin);
      {
        std::lock_guard lock(shared->mutex);
        shared->doomed = handle;
      }
      shared->changed.notify_all();
      // Once the destroyer has retired the handle it is on its way to
      // waiting: the pin goes 0 to 50 microseconds later.
      while (shared->table.acquire(handle)) {
      }
      const auto release = std::chrono::steady_clock::now() + std::chrono::nanoseconds(250 * (round % 200));
      while (std::chrono::steady_clock::now() < release) {
      }
    }
    std::unique_lock lock(shared->mutex);
    stuck = !shared->changed.wait_for(lock, kPatience, [&] { return shared->destroyed == round + 1; });
  }
  {
    std::lock_guard lock(shared->mutex);
    shared->stop = true;
  }
  shared->changed.notify_all();
  if (stuck) {
    destroyer.detach();
    FAIL() << "the destroy of round " << round - 1 << " was never woken after the last pin went";
  }
  destroyer.join();
  EXPECT_EQ(shared->table.liveCount(), 0u);
  delete shared;
}

}  // namespace
