#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/settings_store.h"
#include "support/process.h"
#include "support/temp_root.h"

namespace {

using zem::Event;
using zem::RegistryKey;
using zem::RootKey;

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

}  // namespace
