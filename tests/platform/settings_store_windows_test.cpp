// The settings store on Windows: the system registry, with change
// notification through RegNotifyChangeKeyValue.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/settings/settings_store.h"

namespace {

using zem::RegistryKey;
using zem::RootKey;

// A key of its own per test process, removed afterwards.
class SettingsStoreWindows : public ::testing::Test {
 protected:
  SettingsStoreWindows() : path_("SOFTWARE\\ZemlinkTests\\" + std::to_string(GetCurrentProcessId())) {}
  ~SettingsStoreWindows() override { RegistryKey::deleteTree(RootKey::CurrentUser, path_); }
  std::string path_;
};

TEST_F(SettingsStoreWindows, ValuesRoundTripWithTheirTypes) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::CurrentUser, path_ + "\\Tarvo", key));
  ASSERT_TRUE(key.setDword("LogLevel", 3));
  ASSERT_TRUE(key.setString("LogPath", "D:\\Corvane\\Logs"));

  RegistryKey again;
  ASSERT_TRUE(RegistryKey::open(RootKey::CurrentUser, path_ + "\\Tarvo", again));
  uint32_t level = 0;
  std::string text;
  EXPECT_TRUE(again.queryDword("LogLevel", level));
  EXPECT_EQ(level, 3u);
  EXPECT_TRUE(again.queryString("LogPath", text));
  EXPECT_EQ(text, "D:\\Corvane\\Logs");
  EXPECT_EQ(again.queryDword("LogPath", level).code, zem::RegError::WrongType);
  EXPECT_EQ(again.queryDword("Missing", level).code, zem::RegError::NotFound);

  std::vector<zem::RegValue> values;
  ASSERT_TRUE(again.values(values));
  EXPECT_EQ(values.size(), 2u);
  ASSERT_TRUE(again.deleteValue("LogLevel"));
  EXPECT_EQ(again.queryDword("LogLevel", level).code, zem::RegError::NotFound);

  RegistryKey missing;
  EXPECT_EQ(RegistryKey::open(RootKey::CurrentUser, path_ + "\\Nowhere", missing).code, zem::RegError::NotFound);
}

TEST_F(SettingsStoreWindows, AChangeBelowTheKeySignalsOnceAndAChangeElsewhereDoesNot) {
  RegistryKey watched;
  RegistryKey elsewhere;
  ASSERT_TRUE(RegistryKey::create(RootKey::CurrentUser, path_ + "\\Watched", watched));
  ASSERT_TRUE(RegistryKey::create(RootKey::CurrentUser, path_ + "\\Elsewhere", elsewhere));
  auto event = std::make_shared<zem::Event>();
  ASSERT_TRUE(watched.notifyChange(true, event));

  ASSERT_TRUE(elsewhere.setDword("Other", 1));
  EXPECT_FALSE(event->wait(300)) << "a change outside the key";

  // From another thread and through another handle, below the key.
  std::thread([this] {
    RegistryKey child;
    ASSERT_TRUE(RegistryKey::create(RootKey::CurrentUser, path_ + "\\Watched\\Child", child));
    ASSERT_TRUE(child.setDword("Value", 7));
  }).join();
  EXPECT_TRUE(event->wait(5000));
  EXPECT_FALSE(event->wait(300)) << "one request signals once";
}

TEST_F(SettingsStoreWindows, ClosingTheKeySetsAPendingRequest) {
  RegistryKey watched;
  ASSERT_TRUE(RegistryKey::create(RootKey::CurrentUser, path_ + "\\Closed", watched));
  auto event = std::make_shared<zem::Event>();
  ASSERT_TRUE(watched.notifyChange(false, event));
  watched.close();
  EXPECT_TRUE(event->wait(0));
}

}  // namespace
