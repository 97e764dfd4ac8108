// The logger following a key of the settings store: defaults written for a
// missing key, refused values written back, changes applied while the
// watcher runs.
#include "logger/generic_logger_registry.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "logger_registry_fixture.h"
#include "support/proc_self.h"

namespace {

using zem::RegistryKey;
using zem::RootKey;
using zem::test::capturedStdout;

TEST_F(LoggerRegistryTest, AMissingKeyIsCreatedWithTheDefaults) {
  auto settings = makeSettings();
  bool shaped = false;
  const std::string printed = capturedStdout([&] { shaped = settings->setLoggingRegistryKeySettings(); });
  EXPECT_TRUE(shaped);
  EXPECT_EQ(printed, "readLoggingRegistryKeys: Could not open key SOFTWARE\\Test\\Logger\n");
  expectStored(2, 10, 5, "");
}

TEST_F(LoggerRegistryTest, AKeyWithoutValuesGetsEachWrittenWithItsText) {
  key();
  auto settings = makeSettings();
  bool read = false;
  const std::string printed = capturedStdout([&] { read = settings->readLoggingRegistryKeys(); });
  EXPECT_TRUE(read);
  EXPECT_EQ(printed,
            "readLoggingRegistryKeys: Could not read SOFTWARE\\Test\\Logger\\LogLevel\n"
            "readLoggingRegistryKeys: Could not read SOFTWARE\\Test\\Logger\\LogSize\n"
            "reading registory error : Could not read key  key SOFTWARE\\Test\\Logger\\MaxNumLogFiles\n"
            "reading registory error : Could not read key  key SOFTWARE\\Test\\Logger\\LogPath\n");
  expectStored(2, 10, 5, "");
}

// Before activation: a text where a number belongs fails the read and is
// replaced; the values the administrator set correctly stay.
TEST_F(LoggerRegistryTest, ATextLevelIsRewrittenBeforeActivationAndTheOtherValuesStay) {
  RegistryKey stored = key();
  ASSERT_TRUE(stored.setString("LogLevel", "4").isOk());
  ASSERT_TRUE(stored.setDword("LogSize", 20).isOk());
  ASSERT_TRUE(stored.setDword("MaxNumLogFiles", 7).isOk());
  auto settings = makeSettings();
  bool shaped = false;
  const std::string printed = capturedStdout([&] { shaped = settings->setLoggingRegistryKeySettings(); });
  EXPECT_TRUE(shaped);
  EXPECT_EQ(printed, "readLoggingRegistryKeys: Key SOFTWARE\\Test\\Logger\\LogLevel not a REG_DWORD\n");
  expectStored(2, 20, 7, "");
}

// Activation applies the stored values; what the logger refuses is written
// back with the value in force.
TEST_F(LoggerRegistryTest, ActivationAppliesTheValuesAndWritesBackTheRefusedOnes) {
  RegistryKey stored = key();
  ASSERT_TRUE(stored.setDword("LogLevel", 9).isOk());
  ASSERT_TRUE(stored.setDword("LogSize", 60).isOk());
  ASSERT_TRUE(stored.setDword("MaxNumLogFiles", 3).isOk());
  ASSERT_TRUE(stored.setString("LogPath", std::string(257, 'p')).isOk());
  start();
  EXPECT_EQ(number("LogLevel"), 9u) << "any level is stored as it is";
  EXPECT_EQ(logger->getCurrentLogLevel(), 9u);
  EXPECT_EQ(number("LogSize"), 10u);
  EXPECT_EQ(number("MaxNumLogFiles"), 5u);
  EXPECT_EQ(text("LogPath"), "") << "a path too long to read is overwritten";
  EXPECT_EQ(settings->getMaxLogSizeInMegsKeySetting(), 10u);
  EXPECT_EQ(settings->getMaxNumberOfLogFilesKeySetting(), 5u);
}

// The first update moves the files to the stored directory.
TEST_F(LoggerRegistryTest, TheStoredDirectoryTakesOverBeforeTheLoggerStarts) {
  const std::string elsewhere = joined(root.path(), "elsewhere");
  ASSERT_TRUE(key().setString("LogPath", elsewhere).isOk());
  start();
  EXPECT_STREQ(logger->getLogDirectory(), elsewhere.c_str());
  EXPECT_TRUE(exists(joined(elsewhere, "Registry_Test_1.log")));
}

TEST_F(LoggerRegistryTest, ChangesWhileRunningAreAppliedAndRefusalsWrittenBack) {
  start();
  RegistryKey stored = key();
  struct Case {
    const char* name;
    uint32_t written;
    uint32_t stored;
    std::function<uint32_t()> inForce;
  } cases[] = {
      {"LogLevel", 4, 4, [&] { return logger->getCurrentLogLevel(); }},
      {"LogSize", 20, 20, [&] { return logger->getMaxLogFileSizeInBytes() >> 20; }},
      {"LogSize", 60, 20, [&] { return logger->getMaxLogFileSizeInBytes() >> 20; }},
      {"MaxNumLogFiles", 8, 8, [&] { return logger->getMaxNumberOfLogFiles(); }},
      {"MaxNumLogFiles", 3, 8, [&] { return logger->getMaxNumberOfLogFiles(); }},
      {"LogLevel", 1, 1, [&] { return logger->getCurrentLogLevel(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.written));
    ASSERT_TRUE(stored.setDword(c.name, c.written).isOk());
    EXPECT_TRUE(eventually([&] { return number(c.name) == c.stored && c.inForce() == c.stored; }))
        << "stored " << number(c.name).value_or(0) << ", in force " << c.inForce();
  }
  EXPECT_TRUE(waitForLogged(*logger, 2));
  const std::string log = read(path("Registry_Test_1.log"));
  EXPECT_NE(log.find("setMaxLogFileSizeInMegs() : the maxLogFileSizeInMegs registry key value has been restored to "
                     "previous settings\n"),
            std::string::npos);
  EXPECT_NE(log.find("setMaxNumberOfLogFiles() : the maxNumberOfLogFiles registry key value has been restored to "
                     "previous settings\n"),
            std::string::npos);
}

// A text level while running: the watcher goes on, the value is replaced by
// the level in force, and a later number is applied.
TEST_F(LoggerRegistryTest, ATextLevelWhileRunningDoesNotStopTheWatcher) {
  start();
  RegistryKey stored = key();
  ASSERT_TRUE(stored.setDword("LogLevel", 3).isOk());
  ASSERT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 3; }));
  ASSERT_TRUE(stored.setString("LogLevel", "five").isOk());
  EXPECT_TRUE(eventually([&] { return number("LogLevel") == 3u; })) << "replaced with the level in force";
  EXPECT_TRUE(settings->isWatcherRunning());
  ASSERT_TRUE(stored.setDword("LogLevel", 5).isOk());
  EXPECT_TRUE(eventually([&] { return logger->getCurrentLogLevel() == 5; }));
}

// Directories the logger cannot use are refused and the store shows the
// one in force; lines keep reaching the files.
TEST_F(LoggerRegistryTest, AnUnusableLogPathIsWrittenBackAndNoLineIsLost) {
  start();
  const std::string inForce = logger->getDirectoryPath();
  // Paths that do not map to a local directory, one that cannot be made, an
  // existing file, and (unless the tests run as root) a directory without
  // write permission.
  const std::string file = root.path() + "/a-file";
  writeFile(file, "not a directory");
  std::vector<std::string> unusable = {"\\\\host\\share\\logs", "relative\\logs", "/proc/no/such/dir", file};
  const std::string locked = root.path() + "/locked";
  ASSERT_TRUE(std::filesystem::create_directory(locked));
  std::filesystem::permissions(locked, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                           std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  if (!std::ofstream(locked + "/probe")) unusable.push_back(locked);

  RegistryKey stored = key();
  int line = 0;
  for (const std::string& path : unusable) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(stored.setString("LogPath", path).isOk());
    EXPECT_TRUE(eventually([&] { return text("LogPath") == inForce; })) << text("LogPath").value_or("(none)");
    EXPECT_STREQ(logger->getDirectoryPath(), inForce.c_str());
    logger->logMsg(2, "line %d after %s", ++line, path.c_str());
  }
  ASSERT_TRUE(waitForLogged(*logger, logger->messageCounts().requests));
  const std::string log = read(path("Registry_Test_1.log"));
  for (int n = 1; n <= line; ++n) EXPECT_NE(log.find("line " + std::to_string(n) + " after"), std::string::npos) << n;
}

// A valid directory changed while running becomes the configured one at once.
TEST_F(LoggerRegistryTest, AnotherDirectoryWhileRunningIsConfiguredAtOnce) {
  start();
  const std::string other = joined(root.path(), "other");
  ASSERT_TRUE(key().setString("LogPath", other).isOk());
  EXPECT_TRUE(eventually([&] { return std::string(logger->getDirectoryPath()) == other; }));
  EXPECT_EQ(text("LogPath"), other);
}

TEST_F(LoggerRegistryTest, ActivationAndDeactivationTwice) {
  start();
  EXPECT_TRUE(settings->isWatcherRunning());
  bool again = true;
  EXPECT_EQ(capturedStdout([&] { again = settings->activateRegistryChecking(logger.get()); }),
            "activateRegistryChecking: Reg checking already activated\n");
  EXPECT_FALSE(again);
  // Deactivation right after activation still finds and ends the watcher.
  const std::string printed = capturedStdout([&] {
    settings->deactivateRegistryChecking();
    settings->deactivateRegistryChecking();
  });
  EXPECT_EQ(printed, "");
  EXPECT_FALSE(settings->isWatcherRunning());
  EXPECT_FALSE(settings->isCheckingActivated());

  auto other = makeSettings();
  EXPECT_EQ(capturedStdout([&] { EXPECT_FALSE(other->activateRegistryChecking(nullptr)); }),
            "activateRegistryChecking: ptrLogger is NULL\n");
}

TEST_F(LoggerRegistryTest, AnObjectDestroyedRightAfterActivationTakesItsWatcherWithIt) {
  logger = makeLogger("Registry_Test");
  const auto activateAndDestroy = [&] {
    auto quick = makeSettings();
    capturedStdout([&] {
      quick->setLoggingRegistryKeySettings();
      EXPECT_TRUE(quick->activateRegistryChecking(logger.get()));
    });
  };
  activateAndDestroy();  // the store's own watcher thread starts with the first request
  const int threads = zem::test::threadCount();
  for (int round = 0; round < 20; ++round) activateAndDestroy();
  EXPECT_TRUE(zem::test::threadCountDropsTo(threads));
}

TEST_F(LoggerRegistryTest, SettingsDump) {
  auto settings = makeSettings();
  EXPECT_EQ(capturedStdout([&] { settings->printSettings(); }),
            "\n"
            "********** GenericLoggerRegistry Settings Start **********\n"
            "\n"
            "Checking activated         = NO \n"
            "hMainKey                   = HKEY_LOCAL_MACHINE\n"
            "loggerRegKeyName           = SOFTWARE\\Test\\Logger\n"
            "logLevelSubKeyName         = LogLevel\n"
            "logLevelKeySetting         = 2\n"
            "maxLogSizeInMegsSubKeyName = LogSize\n"
            "maxLogSizeInMegsKeySetting = 10\n"
            "maxLogSizeInMegsSubKeyName = MaxNumLogFiles\n"
            "maxNumberOfLogFilesKeySetting = 5\n"
            "directoryPathSubKeyName = LogPath\n"
            "directoryPathSubKeyName = D:\\Corvane\\Logs\\Pellor\n"
            "\n"
            "*********** GenericLoggerRegistry Settings End ***********\n"
            "\n");

  GenericLoggerRegistry shortForm(RootKey::Users, kKey, "Level", "Size", "Console");
  const std::string dump = capturedStdout([&] { shortForm.printSettings(); });
  EXPECT_NE(dump.find("hMainKey                   = Unknown\n"), std::string::npos);
  EXPECT_NE(dump.find("consoleSubKeyName          = Console\nconsoleKeySetting          = CLOSED (0)\n"),
            std::string::npos);
  EXPECT_EQ(dump.find("MaxNumLogFiles"), std::string::npos);

  start();
  const std::string active = capturedStdout([&] { this->settings->printSettings(); });
  EXPECT_NE(active.find("Checking activated         = YES\n"), std::string::npos);
  EXPECT_NE(active.find("Logging Thread ID          = "), std::string::npos);
  EXPECT_NE(active.find("Reg Check Thread Priority  = 0\n"), std::string::npos) << active;
}

}  // namespace
