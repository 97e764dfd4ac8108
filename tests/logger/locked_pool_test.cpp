// The logger's fixed pool of log records.
#include "logger/locked_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "logger/log_buffer.h"

namespace {

using LogPool = LockedPool<LogBuffer, 1500>;

// Gives the test the records by node index.
struct PoolWithIndex : LogPool {
  LogBuffer* record(size_t index) { return &nodes[index].item; }
};

void expectStatistics(const LogPool& pool, bool used, uint32_t free, uint32_t inUse, uint32_t hiWatermark,
                      uint32_t gets, uint32_t frees) {
  const LogPool::Statistics s = pool.statistics();
  EXPECT_EQ(s.used, used);
  EXPECT_EQ(s.numInPool, 1500u);
  EXPECT_EQ(s.currentlyFree, free);
  EXPECT_EQ(s.currentlyInUse, inUse);
  EXPECT_EQ(s.inUseHiWatermark, hiWatermark);
  EXPECT_EQ(s.getCount, gets);
  EXPECT_EQ(s.freeCount, frees);
  EXPECT_EQ(pool.currentlyFree(), free);
  EXPECT_EQ(pool.currentlyInUse(), inUse);
}

TEST(LockedPool, HandsOutNodesInIndexOrderThenLastFreedFirst) {
  auto pool = std::make_unique<PoolWithIndex>();
  expectStatistics(*pool, false, 1500, 0, 0, 0, 0);
  LogBuffer* a = pool->get();
  LogBuffer* b = pool->get();
  EXPECT_EQ(a, pool->record(0));
  EXPECT_EQ(b, pool->record(1));
  EXPECT_TRUE(pool->free(a));
  EXPECT_TRUE(pool->free(b));
  EXPECT_EQ(pool->get(), b);
  EXPECT_EQ(pool->get(), a);
  EXPECT_EQ(pool->get(), pool->record(2));
  expectStatistics(*pool, true, 1497, 3, 3, 5, 2);
}

TEST(LockedPool, ExhaustionGivesNullAndChangesNoCounter) {
  auto pool = std::make_unique<LogPool>();
  std::set<LogBuffer*> records;
  for (int i = 0; i < 1500; ++i) {
    LogBuffer* record = pool->get();
    ASSERT_NE(record, nullptr) << i;
    records.insert(record);
  }
  EXPECT_EQ(records.size(), 1500u) << "all distinct";
  expectStatistics(*pool, true, 0, 1500, 1500, 1500, 0);
  EXPECT_EQ(pool->get(), nullptr);
  expectStatistics(*pool, true, 0, 1500, 1500, 1500, 0);

  for (LogBuffer* record : records) EXPECT_TRUE(pool->free(record));
  expectStatistics(*pool, true, 1500, 0, 1500, 1500, 1500);
}

TEST(LockedPool, OneGetAndOneFree) {
  auto pool = std::make_unique<LogPool>();
  EXPECT_FALSE(pool->used());
  pool->free(pool->get());
  EXPECT_TRUE(pool->used());
  expectStatistics(*pool, true, 1500, 0, 1, 1, 1);
}

TEST(LockedPool, ARecordComesBackResetForItsNextUser) {
  auto pool = std::make_unique<LogPool>();
  LogBuffer* record = pool->get();
  std::memset(static_cast<void*>(record), 'x', sizeof *record);
  record->next = record;
  ASSERT_TRUE(pool->free(record));
  EXPECT_EQ(record->next, nullptr) << "freeing unlinks it";

  record->next = record;
  LogBuffer* again = pool->get();
  ASSERT_EQ(again, record);
  EXPECT_EQ(again->next, nullptr);
  EXPECT_EQ(again->timeStamp[40], '\0');
  EXPECT_EQ(again->levelName[16], '\0');
  EXPECT_EQ(again->text[5000], '\0');
  EXPECT_EQ(again->callerThreadId, 0u);
  EXPECT_EQ(again->tickCount, 0u);
  EXPECT_EQ(again->timeOfEntry.seconds, 0);
}

TEST(LockedPool, RefusesRecordsThatAreNotOut) {
  auto pool = std::make_unique<LogPool>();
  auto other = std::make_unique<LogPool>();
  LogBuffer* record = pool->get();
  LogBuffer stray{};
  EXPECT_FALSE(pool->free(nullptr));
  EXPECT_FALSE(pool->free(&stray));
  EXPECT_FALSE(pool->free(other->get())) << "a record of another pool";
  EXPECT_FALSE(pool->free(reinterpret_cast<LogBuffer*>(reinterpret_cast<char*>(record) + 1)));
  EXPECT_TRUE(pool->free(record));
  EXPECT_FALSE(pool->free(record)) << "a second free would hand it out twice";
  expectStatistics(*pool, true, 1500, 0, 1, 1, 1);
  EXPECT_NE(pool->get(), pool->get());
}

TEST(LockedPool, ConcurrentUsersKeepTheCountsTrue) {
  auto pool = std::make_unique<LogPool>();
  constexpr int kThreads = 4;
  constexpr int kRounds = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool] {
      std::vector<LogBuffer*> held;
      for (int i = 0; i < kRounds; ++i) {
        LogBuffer* record = pool->get();
        ASSERT_NE(record, nullptr);
        record->tickCount = static_cast<uint32_t>(i);  // the record is this thread's alone
        held.push_back(record);
        if (held.size() == 8) {
          for (LogBuffer* r : held) pool->free(r);
          held.clear();
        }
      }
      for (LogBuffer* r : held) pool->free(r);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const LogPool::Statistics s = pool->statistics();
  EXPECT_EQ(s.currentlyFree, 1500u);
  EXPECT_EQ(s.getCount, static_cast<uint32_t>(kThreads * kRounds));
  EXPECT_EQ(s.freeCount, s.getCount);
  EXPECT_GE(s.inUseHiWatermark, 8u);
  EXPECT_LE(s.inUseHiWatermark, static_cast<uint32_t>(kThreads * 8));
}

}  // namespace
