// The settings a running logger lets change, with their ranges, disk rule
// and path checks.
#include "logger_fixture.h"

namespace fs = std::filesystem;

namespace {

const char kSizeRange[] =
    "setMaxLogFileSizeInMegs() : the maxLogFileSizeInMegs registry key value has been restored to previous settings\n";
const char kCountRange[] =
    "setMaxNumberOfLogFiles() : the maxNumberOfLogFiles registry key value has been restored to previous settings\n";
const char kSizeDisk[] =
    "setMaxLogFileSizeInMegs() : Available disk space is nearing the upper threshold. The maxLogFileSizeInMegs "
    "registry key value has been restored to previous settings\n";
const char kCountDisk[] =
    "setMaxNumberOfLogFiles() : Available disk space is nearing the upper threshold. The maxNumberOfLogFiles "
    "registry key value has been restored to previous settings\n";
const char kCountNoSpace[] =
    "setMaxNumberOfLogFiles() :  Error in getFreeSpace. The maxNumberOfLogFiles registry key value has been restored "
    "to previous settings\n";
const char kPathFormat[] =
    "IsValidPathFormat() : Invalid Path Format,Path should be in proper format eg. Directory name:\\folder name \n";
const char kPathInvalid[] = "IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value\n \n";
const char kPathDisk[] =
    "setDirectoryPath() : Available disk space is nearing the upper threshold. The LogPath registry key value has "
    "been restored to previous settings\n";

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(LoggerTest, SizeAndCountStayInTheirRanges) {
  freeMegabytes = 1000;
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  struct Case {
    bool size;  // else: number of files
    uint32_t value;
    bool refused;
    uint32_t after;
  };
  const Case cases[] = {
      {true, 9, true, 10},   {true, 51, true, 10},  {true, 50, false, 50}, {true, 10, false, 10},
      {false, 4, true, 5},   {false, 26, true, 5},  {false, 25, false, 25}, {false, 5, false, 5},
  };
  for (const Case& c : cases) {
    if (c.size) {
      EXPECT_EQ(logger->setMaxLogFileSizeInMegs(c.value), c.refused) << c.value;
      EXPECT_EQ(logger->getMaxLogFileSizeInBytes(), c.after << 20) << c.value;
    } else {
      EXPECT_EQ(logger->setMaxNumberOfLogFiles(c.value), c.refused) << c.value;
      EXPECT_EQ(logger->getMaxNumberOfLogFiles(), c.after) << c.value;
    }
  }
  EXPECT_EQ(logger->getMaxLogFileSizeInBytes(), 10485760u);
  EXPECT_FALSE(logger->setCurrentLogLevel(7));
  EXPECT_EQ(logger->getCurrentLogLevel(), 7u);
  logger->setLogToStdio(true);
  EXPECT_TRUE(logger->isLogToStdioOn());
  logger->setLogToStdio(false);
  logger->stopLogging();

  const std::string log = read(path("Trace_1.log"));
  EXPECT_EQ(occurrences(log, std::string("\tINFO \t") + kSizeRange), 2u);
  EXPECT_EQ(occurrences(log, std::string("\tINFO \t") + kCountRange), 2u);
}

TEST_F(LoggerTest, TheDiskMustHoldOneFileMoreUnlessTheSetShrinks) {
  freeMegabytes = 1000;
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  EXPECT_FALSE(logger->setMaxNumberOfLogFiles(6)) << "(6 + 1) x 10 < 1000";

  freeMegabytes = 50;
  EXPECT_TRUE(logger->setMaxNumberOfLogFiles(7)) << "(7 + 1) x 10 >= 50: more is refused";
  EXPECT_FALSE(logger->setMaxNumberOfLogFiles(6)) << "the same value changes nothing";
  EXPECT_FALSE(logger->setMaxNumberOfLogFiles(5)) << "(5 + 1) x 10 >= 50, but fewer is accepted";
  EXPECT_EQ(logger->getMaxNumberOfLogFiles(), 5u);
  EXPECT_TRUE(logger->setMaxNumberOfLogFiles(4)) << "the range still holds";
  EXPECT_TRUE(logger->setMaxLogFileSizeInMegs(20)) << "(5 + 1) x 20 >= 50";
  EXPECT_EQ(logger->getMaxLogFileSizeInBytes(), 10u << 20);

  freeMegabytes = 1000;
  EXPECT_FALSE(logger->setMaxLogFileSizeInMegs(50)) << "(5 + 1) x 50 < 1000";

  freeSpaceKnown = false;
  EXPECT_TRUE(logger->setMaxNumberOfLogFiles(6));
  EXPECT_EQ(logger->getMaxNumberOfLogFiles(), 5u);
  logger->stopLogging();

  const std::string log = read(path("Trace_1.log"));
  EXPECT_EQ(occurrences(log, kCountDisk), 1u);
  EXPECT_EQ(occurrences(log, kSizeDisk), 1u);
  EXPECT_EQ(occurrences(log, kCountRange), 1u);
  EXPECT_EQ(occurrences(log, kCountNoSpace), 1u);
  EXPECT_NE(read(path("Trace_FatalError.log")).find("\tFATAL\tgetFreeSpace() : Couldn't read disk space\n"),
            std::string::npos);
}

TEST_F(LoggerTest, SetDirectoryPathChecksFormatExistenceAndSpace) {
  writeFile(root.path() + "/blocker", "a file where a directory should be");
  freeMegabytes = 1000;
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  char buffer[GenericLogger::kPathSize];

  buffer[0] = '\0';
  EXPECT_FALSE(logger->setDirectoryPath(buffer)) << "empty: the current directory stays";
  EXPECT_EQ(std::string(buffer), directory);

  std::snprintf(buffer, sizeof buffer, "logs\\x");
  EXPECT_TRUE(logger->setDirectoryPath(buffer)) << "relative paths are refused";

  std::snprintf(buffer, sizeof buffer, "%s/blocker/x", root.path().c_str());
  EXPECT_TRUE(logger->setDirectoryPath(buffer));
  EXPECT_EQ(logger->errorCount(GenericLogger::CREATE_DIRECTORY), 1u);

  freeMegabytes = 10;
  std::snprintf(buffer, sizeof buffer, "%s", textBelowRoot("small").c_str());
  EXPECT_TRUE(logger->setDirectoryPath(buffer)) << "(5 + 1) x 10 > 10";
  EXPECT_STREQ(logger->getDirectoryPath(), directory.c_str());

  freeMegabytes = 1000;
  const std::string newLogs = nativeBelowRoot("newlogs");
  std::snprintf(buffer, sizeof buffer, "%s", textBelowRoot("newlogs").c_str());
  EXPECT_FALSE(logger->setDirectoryPath(buffer)) << "accepted";
  EXPECT_EQ(std::string(buffer), newLogs) << "the caller's buffer gets the absolute form";
  EXPECT_STREQ(logger->getDirectoryPath(), newLogs.c_str());
  EXPECT_TRUE(fs::is_directory(newLogs));

  EXPECT_FALSE(logger->setDirectoryPath(nullptr));
  logger->stopLogging();

  // The refusals were logged before the switch; the switch came with the next line.
  const std::string log = read(path("Trace_1.log")) + read(joined(newLogs, "Trace_1.log"));
  EXPECT_EQ(occurrences(log, kPathFormat), 1u);
  EXPECT_EQ(occurrences(log, kPathInvalid), 1u);
  EXPECT_EQ(occurrences(log, kPathDisk), 1u);
  // The fatal-error file moves with the set, perhaps before the last call.
  const std::string fatal = read(path("Trace_FatalError.log")) + read(joined(newLogs, "Trace_FatalError.log"));
  EXPECT_NE(fatal.find("\tFATAL\tsetDirectoryPath() : directoryLoc is NULL\n"), std::string::npos);
}

TEST_F(LoggerTest, TheLengthLimitIsThatOfTheTextAsGiven) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  char buffer[GenericLogger::kPathSize];
  // 256 characters as given. Where drives are not real, "C:\" and 253
  // characters, whose place below the data root is a longer path; on
  // Windows the text is its own absolute form.
  const std::string component(kDrivesAreReal ? 256 - root.path().size() - 1 : 253, 'm');
  const std::string text = textBelowRoot(component);
  const std::string mapped = nativeBelowRoot(component);
  ASSERT_EQ(text.size(), 256u);
  if (!kDrivesAreReal) {
    ASSERT_GT(mapped.size(), 256u);
  }

  std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
  EXPECT_FALSE(logger->setDirectoryPath(buffer)) << "accepted";
  EXPECT_EQ(logger->getDirectoryPath(), mapped);
  EXPECT_EQ(std::string(buffer), text) << "a longer absolute form does not fit the caller's buffer";

  char longer[GenericLogger::kPathSize + 1];
  std::snprintf(longer, sizeof longer, "%s", textBelowRoot(std::string(component.size() + 1, 'n')).c_str());
  EXPECT_TRUE(logger->setDirectoryPath(longer)) << "257 characters as given";

  logger->logMsg(2, "in the long directory");
  logger->stopLogging();
  // The refusal may come before or after the switch to the new directory.
  const std::string log = read(path("Trace_1.log")) + read(joined(mapped, "Trace_1.log"));
  EXPECT_NE(log.find("setDirectoryPath() : Length of LogPath is greater than 256 characters."), std::string::npos);
  if (kDrivesAreReal) {
    // Windows paths end at 260 characters: a directory of 256 leaves no room
    // for the file names, so the set stays where it was (the setting is put
    // back when the logging thread meets the directory, with the first line
    // after the switch) and keeps the line.
    EXPECT_EQ(logger->getDirectoryPath(), directory);
    const std::string first = read(path("Trace_1.log"));
    EXPECT_NE(first.find("in the long directory"), std::string::npos);
    EXPECT_NE(first.find("IsPathValid() : Invalid Path, the LogPath has been reverted"), std::string::npos);
  } else {
    EXPECT_EQ(logger->getDirectoryPath(), mapped);
    EXPECT_NE(read(joined(mapped, "Trace_1.log")).find("in the long directory"), std::string::npos);
  }
}

TEST_F(LoggerTest, PathChecksAcceptDrivesAndNativeAbsolutePaths) {
  auto logger = makeLogger();
  const struct {
    const char* path;
    int drive;
  } cases[] = {{"C:\\x", 3}, {"c:\\x", 3}, {"z:\\", 26}, {"/var/log", 27},
               {"logs\\x", 0}, {"\\\\host\\share", 0}, {"//host/x", 0}, {"D:x", 0}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(logger->IsValidPathFormat(c.path), c.drive) << c.path;

  char path[GenericLogger::kPathSize];
  std::snprintf(path, sizeof path, "%s", textBelowRoot("made\\here").c_str());
  EXPECT_TRUE(logger->IsPathValid(path));
  EXPECT_EQ(std::string(path), nativeBelowRoot("made\\here"));
  EXPECT_TRUE(fs::is_directory(path));
  writeFile(joined(root.path(), "file"), "x");
  std::snprintf(path, sizeof path, "%s", textBelowRoot("file\\below").c_str());
  EXPECT_FALSE(logger->IsPathValid(path));
  EXPECT_EQ(logger->errorCount(GenericLogger::CREATE_DIRECTORY), 1u);

  double megabytes = 0;
  freeMegabytes = 321;
  EXPECT_TRUE(logger->getFreeSpace("C:\\x", megabytes));
  EXPECT_EQ(megabytes, 321.0);
  EXPECT_FALSE(logger->getFreeSpace("relative", megabytes));
}

TEST_F(LoggerTest, ThreadNamesGoIntoTheTable) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  EXPECT_TRUE(logger->addThreadNamePair(42, "pump"));
  const char* name = nullptr;
  EXPECT_TRUE(logger->getThreadName(42, name));
  EXPECT_STREQ(name, "pump");
  EXPECT_FALSE(logger->getThreadName(43, name));
  EXPECT_EQ(name, nullptr);
  logger->stopLogging();
}

}  // namespace
