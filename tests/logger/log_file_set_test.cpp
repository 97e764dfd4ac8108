// Where the logger writes: names, rotation, the fatal-error file and the
// logger's own failure reports.
#include <unistd.h>

#include <regex>

#include "logger_fixture.h"
#include "platform/os/os.h"
#include "support/environment.h"

namespace fs = std::filesystem;
using zem::test::setEnvironmentVariable;

namespace {

constexpr uintmax_t kTenMegabytes = 10 * 1048576;

// Runs the test's body with the working directory set to another one.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& directory) : previous_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~WorkingDirectory() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

TEST_F(LoggerTest, NamesTheFilesAfterTheDirectoryAndTheBaseName) {
  WorkingDirectory here(root.path());
  const std::string defaultText = "D:\\Corvane\\Logs\\Pellor";
  const std::string defaultDirectory = kDrivesAreReal ? defaultText : nativeBelowRoot("Corvane\\Logs\\Pellor");
  // 256 characters as given; where drives are not real, longer once placed
  // below the data root.
  const std::string longName(kDrivesAreReal ? 256 - root.path().size() - 1 : 253, 'm');
  const std::string longText = kDrivesAreReal ? textBelowRoot(longName) : "D:\\" + longName;
  const std::string longDirectory = nativeBelowRoot(longName);
  const struct {
    std::string directory, name;
    std::string logDirectory, current, fatal;
  } cases[] = {
      {directory, "Trace.old.log", directory, path("Trace_1.log"), path("Trace_FatalError.log")},
      {directory, "Trace", directory, path("Trace_1.log"), path("Trace_FatalError.log")},
      {defaultText, "Tarvo_Provider", defaultDirectory, joined(defaultDirectory, "Tarvo_Provider_1.log"),
       joined(defaultDirectory, "Tarvo_Provider_FatalError.log")},
      {directory, std::string(65, 'n'), directory, joined(defaultDirectory, "Current.log"),
       joined(defaultDirectory, "FatalError.log")},
      {directory, "", directory, joined(defaultDirectory, "Current.log"), joined(defaultDirectory, "FatalError.log")},
      {"/" + std::string(256, 'd'), "Trace.log", "Logs", joined("Logs", "Trace_1.log"),
       joined("Logs", "Trace_FatalError.log")},
      {longText, "Trace.log", longDirectory, joined(longDirectory, "Trace_1.log"),
       joined(longDirectory, "Trace_FatalError.log")},
      {"", "Trace.log", "Logs", joined("Logs", "Trace_1.log"), joined("Logs", "Trace_FatalError.log")},
  };
  ASSERT_EQ(longText.size(), 256u);
  for (const auto& c : cases) {
    // (On the heap: the logger's record pool is larger than a Windows thread's stack.)
    const auto logger = std::make_unique<GenericLogger>(c.directory.c_str(), c.name.c_str(), 2, 10, false, 5, options());
    EXPECT_EQ(logger->getLogDirectory(), c.logDirectory) << c.directory << " " << c.name;
    EXPECT_EQ(logger->getCurrentLogFilePath(), c.current) << c.name;
    EXPECT_EQ(logger->getFatalErrorFilePath(), c.fatal) << c.name;
    EXPECT_STREQ(logger->getDirectoryPath(), c.logDirectory.c_str());
  }
  EXPECT_TRUE(fs::is_directory(root.path() + "/Logs")) << "the relative directory is made in the working directory";
}

TEST_F(LoggerTest, WarnsWhenTheDiskCannotHoldTheFileSet) {
  // Five files of 10 MiB and the one being written need 60 MiB.
  const struct {
    uint64_t freeMegabytes;
    bool warned;
  } cases[] = {{55, true}, {60, true}, {61, false}};
  for (const auto& c : cases) {
    freeMegabytes = c.freeMegabytes;
    auto logger = makeLogger();
    const std::string fatal = read(path("Trace_FatalError.log"));
    EXPECT_EQ(fatal.find("\tFATAL\tlogFileName_Appended() : Available disk space is nearing the upper threshold. "
                         "Kindly take appropriate action.\n") != std::string::npos,
              c.warned)
        << c.freeMegabytes << ": " << fatal;
    fs::remove_all(directory);
  }
}

TEST_F(LoggerTest, AFullFileMovesEveryFileUpOneNumber) {
  fs::create_directories(directory);
  sparseFile(path("Trace_1.log"), kTenMegabytes + 1);
  for (int n = 2; n <= 5; ++n) writeFile(path("Trace_" + std::to_string(n) + ".log"), "file " + std::to_string(n) + "\n");

  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());  // its banner passes the limit
  logger->logMsg(2, "first line of the new file");
  logger->stopLogging();

  EXPECT_EQ(read(path("Trace_5.log")), "file 4\n") << "the oldest file was deleted";
  EXPECT_EQ(read(path("Trace_4.log")), "file 3\n");
  EXPECT_EQ(read(path("Trace_3.log")), "file 2\n");
  EXPECT_GT(fs::file_size(path("Trace_2.log")), kTenMegabytes);
  const std::vector<std::string> current = lines(path("Trace_1.log"));
  ASSERT_GE(current.size(), 2u);
  EXPECT_TRUE(std::regex_match(current[0], std::regex(R"(\S+ \S+\tINFO \tTime Zone = [+-]\d+:\d+)"))) << current[0];
  EXPECT_NE(read(path("Trace_1.log")).find("\tINFO \tfirst line of the new file\n"), std::string::npos);
  EXPECT_FALSE(exists(path("Trace_6.log")));
}

TEST_F(LoggerTest, AGapInTheNumbersIsReportedAndTheRestMoves) {
  fs::create_directories(directory);
  sparseFile(path("Trace_1.log"), kTenMegabytes);
  writeFile(path("Trace_3.log"), "three\n");

  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->stopLogging();

  EXPECT_EQ(read(path("Trace_4.log")), "three\n");
  EXPECT_FALSE(exists(path("Trace_3.log")));
  EXPECT_GE(fs::file_size(path("Trace_2.log")), kTenMegabytes);
  EXPECT_NE(read(path("Trace_FatalError.log"))
                .find("\tFATAL\tupdateCircularBufferFiles(bool) : Couldn't move (" + path("Trace_2.log") + ") to (" +
                      path("Trace_3.log") + ")\n"),
            std::string::npos);
  EXPECT_EQ(logger->errorCount(GenericLogger::MOVE_FILE), 1u);
}

TEST_F(LoggerTest, FilesBeyondTheMaximumGoAtTheSecondFullCheckAndWhenItIsLowered) {
  fs::create_directories(directory);
  for (int n : {6, 7, 9}) writeFile(path("Trace_" + std::to_string(n) + ".log"), "earlier run\n");

  auto logger = makeLogger("Trace.log", 2, 10, 10);
  ASSERT_TRUE(logger->startLogging());
  for (int i = 0; i < 100; ++i) logger->logMsg(2, "entry %d", i);
  ASSERT_TRUE(waitForLogged(*logger, 100));
  // Ten files allowed: an earlier run's 6, 7 and 9 are within the maximum.
  for (int n : {6, 7, 9}) EXPECT_TRUE(exists(path("Trace_" + std::to_string(n) + ".log"))) << n;

  EXPECT_FALSE(logger->setMaxNumberOfLogFiles(5));
  for (int i = 0; i < 100; ++i) logger->logMsg(2, "entry %d", 100 + i);
  logger->stopLogging();
  EXPECT_FALSE(exists(path("Trace_6.log")));
  EXPECT_FALSE(exists(path("Trace_7.log")));
  EXPECT_TRUE(exists(path("Trace_9.log"))) << "deletion stops at the first missing number";
}

TEST_F(LoggerTest, ANewDirectoryTakesEffectAtTheNextLine) {
  const std::string other = joined(root.path(), "other");
  fs::create_directories(other);
  writeFile(joined(other, "Trace_1.log"), "left by someone\n");

  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(2, "written in the first directory");
  ASSERT_TRUE(waitForLogged(*logger, 1));
  char request[GenericLogger::kPathSize];
  std::snprintf(request, sizeof request, "%s", other.c_str());
  EXPECT_FALSE(logger->setDirectoryPath(request)) << "accepted";
  // The next line is written where the set is, and the set moves right after it.
  logger->logMsg(2, "the line that moves the set");
  ASSERT_TRUE(waitForLogged(*logger, 2));
  logger->logMsg(2, "written in the second directory");
  logger->stopLogging();

  const std::string first = read(path("Trace_1.log"));
  EXPECT_NE(first.find("written in the first directory"), std::string::npos);
  EXPECT_NE(first.find("the line that moves the set"), std::string::npos);
  EXPECT_EQ(first.find("written in the second directory"), std::string::npos);
  EXPECT_EQ(read(joined(other, "Trace_2.log")), "left by someone\n") << "the new directory's files are rotated";
  const std::vector<std::string> second = lines(joined(other, "Trace_1.log"));
  ASSERT_FALSE(second.empty());
  EXPECT_NE(second[0].find("\tINFO \tTime Zone = "), std::string::npos) << second[0];
  const std::string secondText = read(joined(other, "Trace_1.log"));
  EXPECT_NE(secondText.find("written in the second directory"), std::string::npos);
  EXPECT_NE(secondText.find("Logging Ended"), std::string::npos);
  EXPECT_STREQ(logger->getLogDirectory(), other.c_str());
}

// A configured directory where no file can be made (here an ordinary file
// stands at its place): the set stays where it was and loses no line.
TEST_F(LoggerTest, ADirectoryWithoutRoomForTheFilesIsRevertedAndNoLineIsLost) {
  const std::string notADirectory = root.path() + "/plain-file";
  writeFile(notADirectory, "not a directory\n");
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  const std::string first = logger->getDirectoryPath();
  char request[GenericLogger::kPathSize];
  std::snprintf(request, sizeof request, "%s", notADirectory.c_str());
  EXPECT_FALSE(logger->setDirectoryPath(request)) << "it exists, so the setting takes it";
  for (int n = 1; n <= 3; ++n) logger->logMsg(2, "line %d", n);
  ASSERT_TRUE(waitForLogged(*logger, logger->messageCounts().requests));
  EXPECT_STREQ(logger->getLogDirectory(), first.c_str());
  EXPECT_STREQ(logger->getDirectoryPath(), first.c_str()) << "the setting shows the directory in force";
  logger->stopLogging();
  const std::string text = read(path("Trace_1.log"));
  for (int n = 1; n <= 3; ++n) EXPECT_NE(text.find("line " + std::to_string(n) + "\n"), std::string::npos) << n;
  EXPECT_NE(text.find("IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value"),
            std::string::npos);
  EXPECT_EQ(logger->errorCount(GenericLogger::WRITE_BUFFER), 0u);
}

TEST_F(LoggerTest, AnOversizedFatalErrorFileIsReplaced) {
  constexpr uintmax_t kLimit = 52428800;
  constexpr uintmax_t kEntryLine = 23 + 1 + 5 + 1 + 1 + kLineEnd.size();  // time, tab, "FATAL", tab, "X", line end
  fs::create_directories(directory);
  const std::string fatal = path("Trace_FatalError.log");
  const std::string older = path("old_Trace_FatalError_.log");
  sparseFile(fatal, kLimit - kEntryLine);

  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(0, "X");
  EXPECT_EQ(fs::file_size(fatal), kLimit) << "exactly at the limit: stays in use";
  EXPECT_FALSE(exists(older));

  logger->logMsg(0, "X");
  EXPECT_EQ(fs::file_size(older), kLimit + kEntryLine) << "one line more: moved aside";
  const std::vector<std::string> fresh = lines(fatal);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_TRUE(std::regex_match(fresh[0], std::regex(R"(\S+ \S+\tFATAL\tTime Zone = [+-]\d+:\d+)"))) << fresh[0];

  // With an older file in the way, the next oversized entry only removes it.
  fs::resize_file(fatal, kLimit + 1);
  logger->logMsg(0, "X");
  EXPECT_FALSE(exists(older));
  EXPECT_GT(fs::file_size(fatal), kLimit);
  logger->logMsg(0, "X");
  EXPECT_TRUE(exists(older));
  EXPECT_LT(fs::file_size(fatal), 200u);
  logger->stopLogging();
}

TEST_F(LoggerTest, InternalFailuresStopAtAThousand) {
  auto logger = makeLogger();
  static std::atomic<int> handled;
  handled = 0;
  logger->setErrorReportHandler([](const char*) { ++handled; });
  for (int i = 1; i <= 1001; ++i) logger->logFatalError("failure %d", i);

  const std::vector<std::string> fatal = lines(path("Trace_FatalError.log"));
  ASSERT_EQ(fatal.size(), 1u + 1000u) << "the time-zone line and a thousand failures";
  EXPECT_TRUE(std::regex_match(fatal[0], std::regex(R"(\S+ \S+\tINFO \tTime Zone = [+-]\d+:\d+)"))) << fatal[0];
  EXPECT_TRUE(std::regex_match(fatal[1], std::regex(R"(\S+ \S+\tFATAL\tfailure 1)"))) << fatal[1];
  EXPECT_TRUE(std::regex_match(fatal[999], std::regex(R"(\S+ \S+\tFATAL\tfailure 999)"))) << fatal[999];
  EXPECT_TRUE(std::regex_match(
      fatal[1000], std::regex(R"(\S+ \S+\tFATAL\tMax internal fatal errors reached\. No more errors will be logged \.\.\.)")))
      << fatal[1000];
  EXPECT_EQ(handled, 1000);
  EXPECT_EQ(logger->internalFatalErrors(), 1001u);
}

struct UnreachableLogger {
  std::string directory;
  LoggerOptions options;
  uint32_t fatalErrors = 0;
  uint32_t directoryFailures = 0;
};

uint32_t constructUnreachableLogger(void* argument) {
  UnreachableLogger& run = *static_cast<UnreachableLogger*>(argument);
  auto logger = std::make_unique<GenericLogger>(run.directory.c_str(), "Trace.log", 2, 10, false, 5, run.options);
  run.fatalErrors = logger->internalFatalErrors();
  run.directoryFailures = logger->errorCount(GenericLogger::CREATE_DIRECTORY);
  return 0;
}

TEST_F(LoggerTest, AFailureInsideAFailureReportDoesNotRecurse) {
  // Neither the log directory nor the default one can be made, and the free
  // space cannot be read: every report of that fails again.
  writeFile(root.path() + "/blocker", "a file where directories should be");
  setEnvironmentVariable("ZEMLINK_ROOT", root.path() + "/blocker/root");
  UnreachableLogger run;
  run.directory = root.path() + "/blocker/logs";
  run.options = options();
  run.options.freeSpace = [](const char*, uint64_t&) { return false; };

  // On a thread of the logger's own stack size, where a deep chain would overflow.
  OsThreadHandle handle = nullptr;
  ASSERT_TRUE(osThreadCreate(constructUnreachableLogger, &run, 0, nullptr, &handle));
  osThreadWait(handle, OS_WAIT_FOREVER);
  osThreadClose(handle);
  setEnvironmentVariable("ZEMLINK_ROOT", root.path());

  EXPECT_GE(run.fatalErrors, 2u);
  EXPECT_LE(run.fatalErrors, 10u);
  EXPECT_GE(run.directoryFailures, 1u);
}

}  // namespace
