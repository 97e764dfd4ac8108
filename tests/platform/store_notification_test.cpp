#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/settings/registry_notifier.h"
#include "platform/settings/settings_store.h"
#include "support/process.h"
#include "support/proc_self.h"
#include "support/temp_root.h"

namespace {

using zem::Event;
using zem::RegistryKey;
using zem::RegistryNotifier;
using zem::RootKey;

constexpr const char* kWatcher = "store-watcher";  // the store's watcher thread

class StoreNotification : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Watched\\Sub", writer_));
    ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Other", other_));
    ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Watched", watched_));
  }

  zem::test::TempRoot root_;
  RegistryKey writer_, other_, watched_;
  std::shared_ptr<Event> event_ = std::make_shared<Event>(Event::Reset::Manual);
};

TEST_F(StoreNotification, SignalsOnceForAChangeBelowTheKey) {
  ASSERT_TRUE(watched_.notifyChange(true, event_));
  ASSERT_TRUE(other_.setDword("Elsewhere", 1));
  EXPECT_FALSE(event_->wait(300));

  ASSERT_TRUE(writer_.setDword("Below", 1));
  EXPECT_TRUE(event_->wait(5000));

  // One shot: a further change stays silent until the next request.
  event_->reset();
  ASSERT_TRUE(writer_.setDword("Below", 2));
  EXPECT_FALSE(event_->wait(300));
  ASSERT_TRUE(watched_.notifyChange(true, event_));
  ASSERT_TRUE(writer_.setDword("Below", 3));
  EXPECT_TRUE(event_->wait(5000));
}

TEST_F(StoreNotification, WithoutSubkeysOnlyTheKeyItselfCounts) {
  ASSERT_TRUE(watched_.notifyChange(false, event_));
  ASSERT_TRUE(writer_.setDword("Below", 1));
  EXPECT_FALSE(event_->wait(300));
  ASSERT_TRUE(watched_.setString("Own", "x"));
  EXPECT_TRUE(event_->wait(5000));
}

TEST_F(StoreNotification, WritingTheSameValueAgainIsNoChange) {
  ASSERT_TRUE(writer_.setDword("Same", 7));
  ASSERT_TRUE(watched_.notifyChange(true, event_));
  ASSERT_TRUE(writer_.setDword("Same", 7));
  EXPECT_FALSE(event_->wait(300));
}

TEST_F(StoreNotification, DeletingTheKeyAndClosingTheHandleSignal) {
  ASSERT_TRUE(watched_.notifyChange(true, event_));
  ASSERT_TRUE(RegistryKey::deleteTree(RootKey::LocalMachine, "SOFTWARE\\Watched"));
  EXPECT_TRUE(event_->wait(5000));

  auto closed = std::make_shared<Event>();
  ASSERT_TRUE(other_.notifyChange(true, closed));
  other_.close();
  EXPECT_TRUE(closed->wait(0));
}

TEST_F(StoreNotification, WaiterInAnotherProcessWakesOnlyForItsKey) {
  for (bool underKey : {false, true}) {
    zem::test::ChildProcess waiter({STORE_HELPER, "wait", "HKLM\\SOFTWARE\\Watched", underKey ? "10000" : "500"});
    std::string line;
    ASSERT_TRUE(waiter.readLine(line, 10000));
    ASSERT_EQ(line, "armed");
    const auto start = std::chrono::steady_clock::now();
    if (underKey) {
      ASSERT_TRUE(writer_.setDword("FromParent", 1));
    } else {
      ASSERT_TRUE(other_.setDword("FromParent", 1));
    }
    ASSERT_TRUE(waiter.readLine(line, 15000));
    const auto latency = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(line, underKey ? "signalled" : "timeout");
    EXPECT_EQ(waiter.wait(), 0);
    if (underKey) {
      std::printf("notification latency across processes: %.2f ms\n",
                  std::chrono::duration<double, std::milli>(latency).count());
    }
  }
}

TEST_F(StoreNotification, ShutdownReleasesPendingRequestsAndALaterRequestStartsAgain) {
  RegistryNotifier::instance().shutdown();  // no watcher left by earlier tests
  const int descriptors = zem::test::openDescriptors();

  ASSERT_TRUE(watched_.notifyChange(true, event_));
  EXPECT_EQ(zem::test::threadsNamed(kWatcher), 1);
  EXPECT_EQ(zem::test::openDescriptors(), descriptors + 2);
  RegistryNotifier::instance().shutdown();
  EXPECT_TRUE(event_->wait(0)) << "a pending request was dropped without its event";
  EXPECT_TRUE(zem::test::threadsNamedDropTo(kWatcher, 0));
  EXPECT_EQ(zem::test::openDescriptors(), descriptors);
  RegistryNotifier::instance().shutdown();  // a second shutdown finds nothing to do

  event_->reset();
  ASSERT_TRUE(watched_.notifyChange(true, event_));
  ASSERT_TRUE(writer_.setDword("AfterRestart", 1));
  EXPECT_TRUE(event_->wait(5000));
  watched_.close();  // a key closing after its request fired finds nothing to cancel
}

// Requests made and cancelled while other threads shut the notifier down:
// every event must end up set, whichever watcher its request went to.
TEST_F(StoreNotification, ShutdownRacingWithRequestsLosesNone) {
  constexpr int kThreads = 4;
  constexpr int kRequestsPerThread = 200;
  std::vector<std::vector<std::shared_ptr<Event>>> events(kThreads);
  std::vector<std::thread> threads;
  std::atomic<int> running{kThreads};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      RegistryKey key;
      for (int i = 0; i < kRequestsPerThread; ++i) {
        if (!key.isOpen() && !RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Watched", key)) break;
        auto event = std::make_shared<Event>(Event::Reset::Manual);
        if (!key.notifyChange(true, event)) break;  // counted below
        events[t].push_back(event);
        if (i % 3 == 0) key.close();
      }
      --running;
    });
  }
  int shutdowns = 0;
  for (; running > 0; ++shutdowns) RegistryNotifier::instance().shutdown();
  for (auto& thread : threads) thread.join();
  RegistryNotifier::instance().shutdown();

  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(events[t].size(), static_cast<size_t>(kRequestsPerThread));
    for (int i = 0; i < kRequestsPerThread; ++i) EXPECT_TRUE(events[t][i]->isSet()) << t << "/" << i;
  }
  std::printf("%d shutdowns during %d requests\n", shutdowns, kThreads * kRequestsPerThread);
}

TEST_F(StoreNotification, AfterTheFinalShutdownRequestsAreRefused) {
  const auto result = zem::test::runProcess({STORE_HELPER, "final-shutdown", "HKLM\\SOFTWARE\\Watched"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "released\nstore notifications have been shut down\n");
}

}  // namespace
