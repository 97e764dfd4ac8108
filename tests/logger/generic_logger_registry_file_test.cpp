// The logger following a key of the file-backed settings store (Linux): a
// store file broken by hand.
#include <filesystem>
#include <fstream>

#include "logger_registry_fixture.h"

namespace {

using zem::RootKey;

// A store file broken by hand: nothing is rewritten, the logger keeps its
// settings, the watcher says why and waits for the repair.
TEST_F(LoggerRegistryTest, ABrokenStoreFileIsLeftAloneUntilItIsRepaired) {
  start();
  ASSERT_TRUE(key().setDword("LogLevel", 3).isOk());
  ASSERT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 3; }));

  const std::string file = zem::registryFilePath(RootKey::LocalMachine);
  std::string good = read(file);
  const size_t section = good.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Logger]");
  ASSERT_NE(section, std::string::npos) << good;
  std::string broken = good;
  broken.insert(good.find('\n', section) + 1, "\"LogLevel\"=dword:this is not a number\n");
  {
    std::ofstream out(file + ".tmp");
    out << broken;
  }
  const uint32_t passes = settings->watcherPasses();
  std::filesystem::rename(file + ".tmp", file);
  ASSERT_TRUE(eventually([&] { return settings->watcherPasses() > passes; })) << "the watcher saw the broken file";
  EXPECT_EQ(read(file), broken) << "nothing rewritten";
  EXPECT_EQ(logger->getCurrentLogLevel(), 3u);
  EXPECT_TRUE(settings->isWatcherRunning());

  // Repaired by hand with another level: applied.
  std::string repaired = good;
  const size_t level = repaired.find("\"LogLevel\"=dword:00000003");
  ASSERT_NE(level, std::string::npos);
  repaired.replace(level, 25, "\"LogLevel\"=dword:00000004");
  {
    std::ofstream out(file + ".tmp");
    out << repaired;
  }
  std::filesystem::rename(file + ".tmp", file);
  EXPECT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 4; }));
}

}  // namespace
